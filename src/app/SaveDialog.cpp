#include "app/SaveDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

TSaveDialog::ExecuteFn& executeOverride()
{
    static TSaveDialog::ExecuteFn fn;
    return fn;
}

QString withDefaultExt(const QString& name, const QString& ext)
{
    if (ext.isEmpty() || !QFileInfo(name).suffix().isEmpty())
        return name;
    return name + QLatin1Char('.') + ext;
}

} // namespace

TSaveDialog::TSaveDialog(QObject* owner) : QObject(owner) {}

void TSaveDialog::SetExecuteFunction(ExecuteFn fn)
{
    executeOverride() = std::move(fn);
}

QStringList TSaveDialog::NameFilters() const
{
    QStringList result;
    const QStringList parts = FFilter.split(QLatin1Char('|'));
    for (int i = 0; i < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QStringLiteral("*");
        if (description.isEmpty())
            continue;
        const QString suffix =
            QStringLiteral(" (") + QString(pattern).replace(QLatin1Char(';'), QLatin1Char(' ')) + QLatin1Char(')');
        result << (description.endsWith(suffix) ? description : description + suffix);
    }
    return result;
}

bool TSaveDialog::Execute(QWidget* parent)
{
    QString chosen;
    if (executeOverride()) {
        chosen = executeOverride()(*this);
    } else {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(FDefaultExt);
        dialog.setNameFilters(NameFilters());
        QFileDialog::Options options;
        if (!(FOptions & OverwritePrompt))
            options |= QFileDialog::DontConfirmOverwrite;
        dialog.setOptions(options);
        if (!FFileName.isEmpty())
            dialog.selectFile(FFileName);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    if (chosen.isEmpty())
        return false;
    FFileName = withDefaultExt(chosen, FDefaultExt);
    return true;
}
