// A loopback of the calling thread's own, in a new network namespace, that carries at most
// a given rate: engines in one process then take long enough over a transfer for a test to
// watch it run, cancel it or cut it. The thread goes back to the process's namespace when
// the object goes. Needs root; sockets made inside stay inside.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class SlowLoopback
{
  public:
    SlowLoopback() = default;
    SlowLoopback(const SlowLoopback &) = delete;
    SlowLoopback &operator=(const SlowLoopback &) = delete;
    ~SlowLoopback()
    {
        if (m_original >= 0) {
            setns(m_original, CLONE_NEWNET);
            close(m_original);
        }
    }

    // `rate` as tc takes it ("40mbit"). False with the reason when it cannot be made.
    bool enter(const QString &rate, QString *why)
    {
        if (geteuid() != 0) {
            *why = QStringLiteral("needs root for a network namespace");
            return false;
        }
        m_original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (m_original < 0 || unshare(CLONE_NEWNET) != 0) {
            *why = QStringLiteral("unshare(CLONE_NEWNET) failed");
            return false;
        }
        // Children forked from this thread run in its namespace. The burst holds one
        // loopback packet (64 KiB).
        return run("ip", {"link", "set", "lo", "up"}, why) &&
               run("tc",
                   {"qdisc", "add", "dev", "lo", "root", "tbf", "rate", rate, "burst", "256kb", "latency",
                    "50ms", "mtu", "70000"},
                   why);
    }

  private:
    static bool run(const QString &program, const QStringList &args, QString *why)
    {
        QProcess p;
        p.start(program, args);
        if (p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        *why = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
               QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }

    int m_original = -1;
};
