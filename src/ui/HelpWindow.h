// The program's help: a window showing the help page built into the program, or a help
// file given by path.
#pragma once

#include <QString>

class QWidget;

namespace HelpWindow {

// "ZORVIN.HLP" (any case, any folder) is the built-in page; another name is shown when it
// is a readable HTML or text file. False when there is nothing to show.
bool showHelp(const QString &helpFile, QWidget *owner);

} // namespace HelpWindow
