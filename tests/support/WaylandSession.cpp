#include "support/WaylandSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

namespace {

// The session: pipewire (the wlroots portal back-end ends without it), sway, then the
// environment handed to the bus so that the portals it starts reach the desktop. The
// marker line tells the caller that the desktop came up.
const char kSessionScript[] = R"(set -u
d=$(dirname "$0")
pipewire >"$d/out/pipewire.log" 2>&1 &
sway -c "$d/sway.conf" >"$d/out/sway.log" 2>&1 &
tries=0
while [ ! -s "$d/out/ready" ]; do
  tries=$((tries + 1))
  if [ $tries -gt 400 ]; then echo "sway did not come up" >&2; exit 97; fi
  sleep 0.05
done
read -r WAYLAND_DISPLAY SWAYSOCK <"$d/out/ready"
export WAYLAND_DISPLAY SWAYSOCK
dbus-update-activation-environment WAYLAND_DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
  XDG_RUNTIME_DIR HOME TMPDIR
# The portal starts on first use, with its back-ends; that can take long on a loaded
# machine, so it is started here rather than inside the program's first capture.
dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
  org.freedesktop.DBus.Properties.Get string:org.freedesktop.portal.Screenshot string:version >/dev/null ||
  echo "the screenshot portal did not answer" >&2
echo "wayland-session-up $WAYLAND_DISPLAY"
"$@"
)";

const QStringList kTools = {"sway",    "pipewire", "dbus-run-session", "dbus-update-activation-environment",
                            "runuser", "setpriv",  "unshare",          "useradd"};
const QStringList kPortals = {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-wlr",
                              "/usr/libexec/xdg-desktop-portal-gtk"};

bool makeOwnedDir(const QString &path, uint uid, uint gid)
{
    return QDir().mkpath(path) && ::chown(QFile::encodeName(path).constData(), uid, gid) == 0 &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther);
}

} // namespace

QString WaylandSession::unavailableReason(const QStringList &extraTools)
{
    if (::geteuid() != 0)
        return QStringLiteral("the Wayland session runs sway as a user of its own, which needs root");
    QStringList missing;
    for (const QString &tool : kTools + extraTools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    }
    for (const QString &portal : kPortals) {
        if (!QFileInfo(portal).isExecutable())
            missing << portal;
    }
    if (!missing.isEmpty())
        return QStringLiteral("no Wayland session: missing %1 (scripts/setup installs them)")
            .arg(missing.join(QStringLiteral(", ")));
    return {};
}

bool WaylandSession::prepare(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no session folder in /tmp");
        return false;
    }
    const QByteArray user(kUser);
    if (!::getpwnam(user.constData())) {
        // A parallel run may have made it in the meantime; getpwnam below decides.
        QProcess::execute(QStringLiteral("useradd"),
                          {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                           QStringLiteral("--home-dir"), QStringLiteral("/nonexistent"),
                           QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                           QString::fromLatin1(user)});
    }
    const passwd *account = ::getpwnam(user.constData());
    if (!account) {
        *error = QStringLiteral("could not create the user %1").arg(QString::fromLatin1(user));
        return false;
    }
    m_uid = account->pw_uid;
    m_gid = account->pw_gid;
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                            QFile::ExeOther);
    for (const char *sub : {"home", "runtime", "tmp", "out"}) {
        if (!makeOwnedDir(m_dir.filePath(QString::fromLatin1(sub)), m_uid, m_gid)) {
            *error = QStringLiteral("could not prepare %1").arg(m_dir.filePath(QString::fromLatin1(sub)));
            return false;
        }
    }
    // The runtime folder must be the user's alone.
    QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

QString WaylandSession::exchangeDir() const
{
    return m_dir.filePath(QStringLiteral("out"));
}

WaylandSession::Result WaylandSession::run(const QSize &screen, const QStringList &swayLines,
                                           const QString &program, const QStringList &arguments,
                                           const QStringList &environment, int timeoutMs)
{
    Result result;
    QString error;
    if (!prepare(&error)) {
        result.output = error;
        return result;
    }
    const QString out = exchangeDir();
    QFile script(m_dir.filePath(QStringLiteral("session.sh")));
    QFile config(m_dir.filePath(QStringLiteral("sway.conf")));
    if (!script.open(QIODevice::WriteOnly) || !config.open(QIODevice::WriteOnly)) {
        result.output = QStringLiteral("could not write the session files");
        return result;
    }
    script.write(kSessionScript);
    script.close();
    QStringList lines = {
        QStringLiteral("output * resolution %1x%2").arg(screen.width()).arg(screen.height()),
        QStringLiteral("exec sh -c 'echo \"$WAYLAND_DISPLAY $SWAYSOCK\" > %1/ready'").arg(out)};
    config.write((lines + swayLines).join(u'\n').toUtf8() + '\n');
    config.close();

    const QString home = m_dir.filePath(QStringLiteral("home"));
    QStringList env = {
        QStringLiteral("PATH=/usr/local/bin:/usr/bin:/bin"), QStringLiteral("HOME=") + home,
        QStringLiteral("XDG_CONFIG_HOME=") + home + QStringLiteral("/.config"),
        QStringLiteral("XDG_DATA_HOME=") + home + QStringLiteral("/.local/share"),
        QStringLiteral("XDG_CACHE_HOME=") + home + QStringLiteral("/.cache"),
        QStringLiteral("XDG_RUNTIME_DIR=") + m_dir.filePath(QStringLiteral("runtime")),
        QStringLiteral("TMPDIR=") + m_dir.filePath(QStringLiteral("tmp")), QStringLiteral("LANG=C.UTF-8"),
        // No accessibility bus: the GTK portal would start one and wait for it.
        QStringLiteral("NO_AT_BRIDGE=1"), QStringLiteral("XDG_SESSION_TYPE=wayland"),
        // The wlroots portal gives the screenshot; the GTK one the access
        // dialog, without which the portal offers no screenshot at all.
        QStringLiteral("XDG_CURRENT_DESKTOP=sway:gnome"), QStringLiteral("WLR_BACKENDS=headless"),
        QStringLiteral("WLR_LIBINPUT_NO_DEVICES=1"), QStringLiteral("WLR_RENDERER=pixman")};
    env += environment;

    QProcess session;
    session.setProcessChannelMode(QProcess::MergedChannels);
    // setpriv: the namespace goes when this process dies; unshare: a PID namespace whose
    // end (its first process, runuser, ending) kills everything the session started.
    QStringList command = {
        QStringLiteral("--pdeathsig"),  QStringLiteral("KILL"),         QStringLiteral("--"),
        QStringLiteral("unshare"),      QStringLiteral("--pid"),        QStringLiteral("--fork"),
        QStringLiteral("--kill-child"), QStringLiteral("--mount-proc"), QStringLiteral("--"),
        QStringLiteral("runuser"),      QStringLiteral("-u"),           QString::fromLatin1(kUser),
        QStringLiteral("--"),           QStringLiteral("env"),          QStringLiteral("-i")};
    command += env;
    command += {QStringLiteral("dbus-run-session"), QStringLiteral("--"), QStringLiteral("sh"),
                script.fileName(), program};
    command += arguments;
    session.start(QStringLiteral("setpriv"), command);
    if (!session.waitForStarted()) {
        result.output = QStringLiteral("setpriv did not start");
        return result;
    }
    const bool finished = session.waitForFinished(timeoutMs);
    if (!finished) {
        session.kill();
        session.waitForFinished();
    }
    result.output = QString::fromLocal8Bit(session.readAll());
    result.sessionUp = result.output.contains(QLatin1String("wayland-session-up"));
    result.exitCode = finished && session.exitStatus() == QProcess::NormalExit ? session.exitCode() : -1;
    if (!finished)
        result.output += QStringLiteral("\n[the session did not end in time and was killed]");
    if (!result.sessionUp || result.exitCode != 0) {
        for (const char *log : {"sway.log", "pipewire.log"}) {
            QFile file(out + u'/' + QString::fromLatin1(log));
            if (file.open(QIODevice::ReadOnly))
                result.output += QStringLiteral("\n--- %1 ---\n").arg(QString::fromLatin1(log)) +
                                 QString::fromLocal8Bit(file.readAll().right(4000));
        }
    }
    return result;
}
