// What the command line may change at start (data folder, addresses, port), and where
// the data files and the work folders of this copy live.
#pragma once

#include <QString>
#include <QStringList>

struct StartOptions
{
    QString dataDir; // --data-dir DIR; empty when not given
    // --bind-address / --broadcast-address: where the sockets bind and where broadcasts
    // go, for multi-homed hosts and for tests that must stay on loopback; empty = defaults.
    QString bindAddress;
    QString broadcastAddress;
    // --port N: the UDP and TCP port instead of 62410, for a copy beside another one on
    // the same host (tests); 0 when not given.
    quint16 port = 0;
    // --capture N, --menu, --show: a command for the running copy ("capture N", "menu",
    // "show"); a copy that starts because none runs performs it once started. Empty when
    // none was given.
    QString command;
    // --platform-backend x11|wayland: the screen back-end instead of the session's own;
    // empty when not given.
    QString platformBackend;
    // --diagnose: announce, listen a few seconds, print the network diagnostics and exit.
    bool diagnose = false;
    QString helpText;    // set when --help was asked for
    QString versionText; // set when --version was asked for
    QString error;       // set when the command line could not be understood
};

StartOptions ParseCommandLine(const QStringList &arguments);

// The options a later start (at login) must repeat to be this copy again: --data-dir (made
// absolute), --port, --bind-address and --broadcast-address, those that were given.
QStringList LoginArguments(const StartOptions &options);

// An installed copy: its menu entry sits beside it in ../share/applications (/usr/bin,
// /usr/local/bin, or a package unpacked elsewhere). Its folder is never its data folder, not
// even for root, who may write there.
bool IsInstalledCopy(const QString &executableDir);

// The folder of the data files, ending with "/": the --data-dir folder when given, else the
// executable's folder when it is writable and not an installed copy's, else the user's
// configuration folder (~/.config/zorvin). The folder is created when missing.
QString ResolveProgramDir(const QString &dataDirOption, const QString &executableDir);

// The per-user folder inside the system temporary folder that holds the work folders,
// ending with "/". Copies with different data folders get different work folders.
QString UserTempPath(const QString &programDir);
