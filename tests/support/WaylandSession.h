// A headless Wayland desktop for tests and benchmarks: sway (software rendering, no input
// devices) with pipewire and the screenshot portals on a private session bus. sway refuses
// to run as root, so the session runs as an unprivileged user of its own, inside a PID
// namespace: everything started in it ends when the session's program ends, and when this
// object or the test process goes.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class WaylandSession
{
  public:
    // The account the session runs as; made on first use and reused afterwards.
    static constexpr char kUser[] = "zorvinwl";

    // Why no session can start here (not root, a tool or package missing), or empty.
    // `extraTools` are programs the caller needs inside the session as well.
    static QString unavailableReason(const QStringList &extraTools = {});

    struct Result
    {
        bool sessionUp = false; // the desktop came up and the program ran
        int exitCode = -1;
        QString output; // the program's output, then the session's logs when it failed
    };

    // Starts the desktop with one output of `screen`, the sway configuration lines
    // `swayLines` added, runs `program arguments` in it as the session user with
    // `environment` ("NAME=value") added, and ends everything once the program ends or
    // `timeoutMs` passed. `program` must be readable and executable by that user.
    Result run(const QSize &screen, const QStringList &swayLines, const QString &program,
               const QStringList &arguments, const QStringList &environment, int timeoutMs);

    // A folder the session user may write and the caller may read (the program's files).
    QString exchangeDir() const;

  private:
    bool prepare(QString *error);

    QTemporaryDir m_dir{QStringLiteral("/tmp/wlsession-XXXXXX")};
    uint m_uid = 0;
    uint m_gid = 0;
};
