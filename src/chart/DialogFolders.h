#pragma once
#include <QFileInfo>
#include <QHash>
#include <QString>

// The folder each kind of file dialog was last left in, for the session: a dialog starts where a file of its
// kind was last chosen, not where another kind was. The kinds are the callers' names ("picture", "log").
namespace DialogFolders {

inline QHash<QString, QString>& folders()
{
    static QHash<QString, QString> byKind;
    return byKind;
}

// Where a dialog of `kind` starts (empty: Qt's choice).
inline QString folder(const QString& kind)
{
    return folders().value(kind);
}

// A file or folder chosen in a dialog of `kind`: a file's folder, or the folder itself.
inline void remember(const QString& kind, const QString& chosen)
{
    if (chosen.isEmpty())
        return;
    const QFileInfo info(chosen);
    folders().insert(kind, info.isDir() ? info.absoluteFilePath() : info.absolutePath());
}

} // namespace DialogFolders
