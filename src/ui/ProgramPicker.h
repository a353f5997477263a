// The file-open dialog for choosing a program: "ﾌﾟﾛｸﾞﾗﾑ" lists folders and executable
// files, "すべてのﾌｧｲﾙ" every file.
#pragma once

#include <QString>

class QWidget;

// The chosen file, or "" when cancelled. A file that is not executable is returned as well
// (chosen under "すべてのﾌｧｲﾙ"); whether it runs is found out when it is started.
QString ChooseProgram(QWidget *owner, const QString &title, const QString &startDir);
