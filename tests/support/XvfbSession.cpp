#include "support/XvfbSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 15000;

// Waits for a condition without an event loop (the application does not exist yet).
template <typename Condition> bool pollFor(Condition condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (condition())
            return true;
        QThread::msleep(20);
    }
    return condition();
}

void endProcess(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    process.reset();
}

} // namespace

XvfbSession::XvfbSession() = default;

XvfbSession::~XvfbSession()
{
    stop();
}

bool XvfbSession::start(const QSize &screen, bool windowManager)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) {
        m_error = QStringLiteral("Xvfb is not installed (scripts/setup installs it)");
        return false;
    }
    if (windowManager && QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
        m_error = QStringLiteral("openbox is not installed (scripts/setup installs it)");
        return false;
    }
    // Displays from 100 up, starting at a point that differs per process so that tests
    // running side by side rarely try the same number.
    const int first = 100 + int(getpid() % 400);
    for (int attempt = 0; attempt < 40 && m_display.isEmpty(); ++attempt) {
        const int number = first + attempt;
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (QFile::exists(socket) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        m_xvfb = std::make_unique<QProcess>();
        m_xvfb->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_xvfb->setStandardOutputFile(QProcess::nullDevice());
        m_xvfb->start(QStringLiteral("Xvfb"),
                      {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                       QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (!m_xvfb->waitForStarted(5000)) {
            endProcess(m_xvfb);
            continue;
        }
        const bool up =
            pollFor([&] { return QFile::exists(socket) || m_xvfb->state() == QProcess::NotRunning; },
                    kStartTimeoutMs);
        if (up && m_xvfb->state() == QProcess::Running)
            m_display = QStringLiteral(":%1").arg(number);
        else
            endProcess(m_xvfb); // lost the race for this number: try the next
    }
    if (m_display.isEmpty()) {
        m_error = QStringLiteral("Xvfb did not start on any display");
        return false;
    }
    qputenv("DISPLAY", m_display.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // A private X server is no Wayland session, even when the tests start from one.
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");

    if (windowManager) {
        m_wm = std::make_unique<QProcess>();
        m_wm->setStandardOutputFile(QProcess::nullDevice());
        m_wm->setStandardErrorFile(QProcess::nullDevice());
        m_wm->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!m_wm->waitForStarted(5000) || !waitForWindowManager()) {
            m_error = QStringLiteral("openbox did not take over display %1").arg(m_display);
            stop();
            return false;
        }
    }
    return true;
}

bool XvfbSession::waitForWindowManager()
{
    // openbox announces itself and its work area on the root window once it manages.
    return pollFor(
        [&] {
            const QString out =
                run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_WORKAREA")});
            return out.contains(QLatin1Char('='));
        },
        kStartTimeoutMs);
}

void XvfbSession::stopWindowManager()
{
    endProcess(m_wm);
}

void XvfbSession::stop()
{
    endProcess(m_wm);
    endProcess(m_xvfb);
}

QString XvfbSession::run(const QString &program, const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    return out.isNull() ? QStringLiteral("") : out;
}
