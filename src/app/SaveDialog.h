#pragma once
#include <QObject>
#include <QString>
#include <functional>

class QWidget;

// A save-file dialog component: default extension, filter and options are set before Execute, which shows
// a modal file dialog in save mode and leaves the chosen name in FileName (with the default extension
// appended when the typed name has none). Tests replace the dialog with a function that answers for it.
class TSaveDialog : public QObject {
    Q_OBJECT
public:
    enum Option { OverwritePrompt = 0x1, HideReadOnly = 0x2 };

    explicit TSaveDialog(QObject* owner = nullptr);

    QString DefaultExt() const { return FDefaultExt; }
    void SetDefaultExt(const QString& ext) { FDefaultExt = ext; }
    // Filter pairs "Description|pattern[|Description|pattern...]"; a description without a pattern
    // offers all files.
    QString Filter() const { return FFilter; }
    void SetFilter(const QString& filter) { FFilter = filter; }
    int Options() const { return FOptions; }
    void SetOptions(int options) { FOptions = options; }
    QString FileName() const { return FFileName; }
    void SetFileName(const QString& name) { FFileName = name; }

    // Shows the dialog; true with FileName set when the user confirmed, false when cancelled.
    bool Execute(QWidget* parent);

    // Replaces the modal dialog (empty function: the real one). The function sees the dialog's settings and
    // returns the chosen name, or an empty string for Cancel.
    using ExecuteFn = std::function<QString(const TSaveDialog& dialog)>;
    static void SetExecuteFunction(ExecuteFn fn);

    // The dialog's filter as Qt name filters ("Bitmaps (*.bmp)").
    QStringList NameFilters() const;

private:
    QString FDefaultExt;
    QString FFilter;
    int FOptions = OverwritePrompt | HideReadOnly;
    QString FFileName;
};
