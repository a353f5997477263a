// The folder chooser: the desktop's folder dialog with a prompt as its title, folders only.
#pragma once

#include <QString>

class QWidget;

// The chosen folder, or "" when the user cancelled. `start` is where the dialog opens.
QString BrowseFolder(QWidget *owner, const QString &prompt, const QString &start = QString());
