#include "ui/BrowseFolder.h"

#include <QFileDialog>

QString BrowseFolder(QWidget *owner, const QString &prompt, const QString &start)
{
    return QFileDialog::getExistingDirectory(owner, prompt, start, QFileDialog::ShowDirsOnly);
}
