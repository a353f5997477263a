#include "ui/BrowseFolder.h"

#include <QFileDialog>

QString BrowseFolder(QWidget *owner, const QString &prompt, const QString &start)
{
    QFileDialog dialog(owner, prompt, start);
    dialog.setObjectName(QStringLiteral("BrowseFolder"));
    dialog.setFileMode(QFileDialog::Directory);
    // The same dialog as the program's file dialogs, whatever the desktop offers.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}
