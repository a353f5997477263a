// The process-wide values of one running copy (paths, flags, local address, settings
// record, network configuration). The program owns one and hands it down; a test owns
// one per engine, so several engines can run in one process.
#pragma once

#include "base/Settings.h"
#include "base/Protocol.h"

#include <QHostAddress>
#include <QString>
#include <cstdint>

inline constexpr char kProductName[] = "ぞるびん";
inline constexpr char kProtocolVersion[] = "266";
inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 66;
inline constexpr int kVersionRevision = 6;

// Where the engine binds and where its broadcasts go; tests and multi-homed hosts set these.
struct NetConfig
{
    QHostAddress bindAddress = QHostAddress::AnyIPv4;
    QString broadcastAddress = QStringLiteral("255.255.255.255");
    quint16 port = Protocol::kPort;
};

enum StartupState : uint8_t { StartupStarting = 0, StartupRunning = 1, StartupQuitting = 255 };

class ModZorvin
{
  public:
    // Every folder here ends with "/", so a file inside is folder + name; folders taken
    // from the settings may lack it and are joined through FolderPath. TempPath is a
    // per-user folder inside the system's temporary folder, so several users sharing /tmp
    // never see each other's work files.
    QString TempPath;
    QString WorkDir;     // TempPath + "~zorvin/"
    QString SendTempDir; // WorkDir + "~STemp/"
    QString RecvTempDir; // WorkDir + "~RTemp/"
    QString ProgramDir;  // folder of the data files

    uint8_t ImageLibLevel = 0; // 0 BMP only, 1 JPEG as well, 2 JPEG and PNG as well
    bool ArchiverReady = false;
    bool NetworkReady = false;
    QString LocalIp;
    QString LocalHostName;
    QString LocalIpHex;
    uint8_t StartupDone = StartupStarting;
    bool FatalReported = false;

    // Folders of the last picture saved and opened; empty means the program's folder.
    // Every Save command shares the save folder.
    QString LastSaveDir;
    QString LastOpenDir;

    // --platform-backend: "x11" or "wayland" for the screen back-end; empty lets the
    // session decide.
    QString PlatformBackend;

    // What was last typed into the password check; kept between checks.
    QString LastPwEntry;

    Settings settings;
    NetConfig net;

    QString SettingsPath() const { return ProgramDir + QStringLiteral("zorvin.ini"); }
    QString AddressBookPath() const { return ProgramDir + QStringLiteral("zorvin.dat"); }
    QString PasswordPath() const { return ProgramDir + QStringLiteral("zorvinpw.dat"); }
    // Above 2.66: this copy's key pair (owner-only) and the peers' pinned public keys.
    QString IdentityPath() const { return ProgramDir + QStringLiteral("zorvin.key"); }
    QString PeerKeysPath() const { return ProgramDir + QStringLiteral("zorvinkeys.dat"); }

    // Fixes TempPath from the given per-user folder and creates the three work folders
    // (owner-only); each step ignores its own failure.
    void MakeTempFolders(const QString &tempPath);

    // Sets LocalIp and LocalIpHex; an empty address gives "127.0.0.1".
    void SetLocalIp(const QString &ip);

    // Upper-case hex, two digits per octet: 192.168.1.10 gives "C0A8010A".
    static QString IpToHex(const QString &ip);

    // Searches the executable search path for a file; on success `folder` is its folder.
    static bool FindDllOnPath(const QString &fileName, QString *folder);
};
