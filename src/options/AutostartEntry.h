// The desktop's start-at-login entry for this program ($XDG_CONFIG_HOME/autostart/zorvin.desktop),
// written or removed to follow the "StartAtLogon" setting.
#pragma once

#include <QString>
#include <QStringList>

namespace AutostartEntry {

// Where the entry lives: the autostart folder of the user's configuration folder.
QString path();

// The entry's text, starting the given executable with `arguments` (each quoted as the
// Exec key needs it).
QString text(const QString &executable, const QStringList &arguments = {});

// Writes the entry (atomically, so a login never reads half a file) when on, removes it when
// off. Writing an entry that already says the same thing leaves the file alone.
[[nodiscard]] bool apply(bool on, const QString &executable, const QStringList &arguments,
                         QString *error = nullptr);

} // namespace AutostartEntry
