#include "base/StartOptions.h"

#include "base/FolderPath.h"
#include "base/ModZorvin.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStandardPaths>

#include <unistd.h>

StartOptions ParseCommandLine(const QStringList &arguments)
{
    StartOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "ぞるびん: screen capture, messages and file transfer for the office LAN (port 62410)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral("Keep zorvin.ini, zorvin.dat, zorvinpw.dat and the default RECVFILE folder in DIR."),
        QStringLiteral("DIR"));
    const QCommandLineOption bindAddress(
        QStringLiteral("bind-address"),
        QStringLiteral("Bind the sockets to this IPv4 address instead of every interface."),
        QStringLiteral("ADDR"));
    const QCommandLineOption broadcastAddress(
        QStringLiteral("broadcast-address"),
        QStringLiteral("Send announcements and goodbyes here instead of 255.255.255.255."),
        QStringLiteral("ADDR"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral(
            "Use this UDP and TCP port instead of 62410; only copies on the same port see each other."),
        QStringLiteral("N"));
    const QCommandLineOption capture(
        QStringLiteral("capture"),
        QStringLiteral("Capture in the running copy (start one if none runs): 0 whole screen, 1 work area, "
                       "2 dragged area, 3 active window, 4 its client area."),
        QStringLiteral("N"));
    const QCommandLineOption menu(
        QStringLiteral("menu"),
        QStringLiteral("Open the running copy's menu at the pointer (start one if none "
                       "runs)."));
    const QCommandLineOption show(
        QStringLiteral("show"),
        QStringLiteral("Show the running copy's capture window (start one if none runs)."));
    const QCommandLineOption platformBackend(
        QStringLiteral("platform-backend"),
        QStringLiteral("Capture the screen through this back-end (x11 or wayland) instead of the one the "
                       "session suggests."),
        QStringLiteral("NAME"));
    const QCommandLineOption diagnose(
        QStringLiteral("diagnose"),
        QStringLiteral("Without a display: announce this copy, listen for 3 seconds, print the network "
                       "diagnostics (addresses, ports, datagram counts, peers) and exit."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(dataDir);
    parser.addOption(bindAddress);
    parser.addOption(broadcastAddress);
    parser.addOption(port);
    parser.addOption(capture);
    parser.addOption(menu);
    parser.addOption(show);
    parser.addOption(platformBackend);
    parser.addOption(diagnose);
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    if (parser.isSet(help))
        // The usage line names the program the way a user types it, with or without a
        // running application object.
        options.helpText = parser.helpText().replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                                                     QStringLiteral("Usage: zorvin"));
    if (parser.isSet(version))
        options.versionText = QStringLiteral("zorvin %1.%2.%3 (protocol %4)\n")
                                  .arg(kVersionMajor)
                                  .arg(kVersionMinor)
                                  .arg(kVersionRevision)
                                  .arg(QLatin1String(kProtocolVersion));
    if (!parser.positionalArguments().isEmpty())
        options.error = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
    options.dataDir = parser.value(dataDir);
    options.bindAddress = parser.value(bindAddress);
    options.broadcastAddress = parser.value(broadcastAddress);
    for (const QString &address : {options.bindAddress, options.broadcastAddress}) {
        if (!address.isEmpty() && QHostAddress(address).protocol() != QAbstractSocket::IPv4Protocol)
            options.error = QStringLiteral("Not an IPv4 address: %1").arg(address);
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const uint number = parser.value(port).toUInt(&ok);
        if (ok && number >= 1 && number <= 65535)
            options.port = quint16(number);
        else
            options.error = QStringLiteral("Not a port number (1-65535): %1").arg(parser.value(port));
    }
    if (parser.isSet(platformBackend)) {
        const QString name = parser.value(platformBackend);
        if (name == QLatin1String("x11") || name == QLatin1String("wayland"))
            options.platformBackend = name;
        else
            options.error = QStringLiteral("Not a platform back-end (x11 or wayland): %1").arg(name);
    }
    options.diagnose = parser.isSet(diagnose);
    QStringList commands;
    if (parser.isSet(capture)) {
        const QString mode = parser.value(capture);
        if (mode.size() == 1 && mode[0] >= u'0' && mode[0] <= u'4')
            commands << QStringLiteral("capture ") + mode;
        else
            options.error = QStringLiteral("Not a capture mode (0-4): %1").arg(mode);
    }
    if (parser.isSet(menu))
        commands << QStringLiteral("menu");
    if (parser.isSet(show))
        commands << QStringLiteral("show");
    if (commands.size() > 1)
        options.error = QStringLiteral("Only one of --capture, --menu and --show at a time.");
    else if (!commands.isEmpty())
        options.command = commands.first();
    return options;
}

QStringList LoginArguments(const StartOptions &options)
{
    QStringList arguments;
    // Login starts in the home folder, not where this start was typed.
    if (!options.dataDir.isEmpty())
        arguments << QStringLiteral("--data-dir") << QFileInfo(options.dataDir).absoluteFilePath();
    if (options.port != 0)
        arguments << QStringLiteral("--port") << QString::number(options.port);
    if (!options.bindAddress.isEmpty())
        arguments << QStringLiteral("--bind-address") << options.bindAddress;
    if (!options.broadcastAddress.isEmpty())
        arguments << QStringLiteral("--broadcast-address") << options.broadcastAddress;
    return arguments;
}

bool IsInstalledCopy(const QString &executableDir)
{
    return !executableDir.isEmpty() &&
           QFileInfo::exists(executableDir + QStringLiteral("/../share/applications/zorvin.desktop"));
}

QString ResolveProgramDir(const QString &dataDirOption, const QString &executableDir)
{
    QString dir;
    if (!dataDirOption.isEmpty()) {
        dir = QFileInfo(dataDirOption).absoluteFilePath();
    } else if (QFileInfo(executableDir).isWritable() && !IsInstalledCopy(executableDir)) {
        dir = executableDir;
    } else {
        dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
              QStringLiteral("/zorvin");
    }
    QDir().mkpath(dir);
    dir = QDir::cleanPath(dir);
    return FolderPath::withSlash(dir);
}

QString UserTempPath(const QString &programDir)
{
    const QByteArray key =
        QCryptographicHash::hash(programDir.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return QDir::tempPath() + QStringLiteral("/zorvin-%1-%2/").arg(::getuid()).arg(QString::fromLatin1(key));
}
