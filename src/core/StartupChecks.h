// Start-up checks that only read the settings record: the configured folders that are missing.
#pragma once

#include <QString>

struct Settings;

// One line (label, path, CR) for each configured folder that does not exist, in the order
// capture auto-save, received-image auto-save, received files, message log; "" when none.
QString MissingFolderLines(const Settings &settings);

// The warning shown when MissingFolderLines found any.
QString MissingFoldersMessage(const QString &lines);
