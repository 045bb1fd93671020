#include "qtcommondialog.h"

#include "kavroerror.h"

#include <QFileDialog>

QStringList QtCommonDialog::nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &description = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        // QFileDialog takes the patterns from the parentheses; a description
        // that already shows them is used as it stands.
        if (description.contains(QLatin1Char('(') + patterns + QLatin1Char(')')))
            filters.append(description);
        else
            filters.append(description + QLatin1String(" (") + patterns + QLatin1Char(')'));
    }
    return filters;
}

void QtCommonDialog::ShowOpen()
{
    QFileDialog dialog(m_parent, DialogTitle);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A new capture file is chosen here, so a name that does not exist yet
    // must be accepted.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(DefaultExt);
    const QStringList filters = nameFilters(Filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        if (CancelError)
            raiseError(Err::Cancelled);
        return;
    }
    FileName = dialog.selectedFiles().constFirst();
}
