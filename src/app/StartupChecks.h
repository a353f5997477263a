// Start-up checks and their texts: the configured folders that are missing, the advice for
// a port that another program holds.
#pragma once

#include <QString>
#include <QtGlobal>

struct Settings;

// One line (label, path, CR) for each configured folder that does not exist, in the order
// capture auto-save, received-image auto-save, received files, message log; "" when none.
QString MissingFolderLines(const Settings &settings);

// The warning shown when MissingFolderLines found any.
QString MissingFoldersMessage(const QString &lines);

// The lines added to the fatal start-up message when the port is taken: which port, who
// may hold it, and the options that start a copy elsewhere.
QString PortInUseAdvice(quint16 port);
