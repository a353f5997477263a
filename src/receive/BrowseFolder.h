// The folder chooser of the received list and the options: the desktop's folder dialog,
// owned by a window, with the prompt as its title.
#pragma once

#include <QString>

class QWidget;

// The chosen folder, or "" when the user cancelled.
QString BrowseFolder(QWidget *owner, const QString &prompt);
