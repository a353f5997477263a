#include "support/NetNamespaces.h"

#include <QFile>
#include <QProcess>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

NetNamespaces::~NetNamespaces()
{
    for (const QString &ns : std::as_const(m_made))
        ip({QStringLiteral("netns"), QStringLiteral("del"), ns});
}

bool NetNamespaces::enter(const QString &member) const
{
    // Where `ip netns add` keeps its namespaces.
    const int fd = ::open(QByteArray("/run/netns/" + name(member).toLocal8Bit()).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return entered;
}

bool NetNamespaces::ip(const QStringList &args, QString *output)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    if (!p.waitForFinished(10000))
        return false;
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool NetNamespaces::make(const QStringList &members, const QString &subnet, QString *why)
{
    const QString hub = m_prefix + QStringLiteral("hub");
    if (!ip({"netns", "add", hub}, why))
        return false;
    m_made << hub;
    if (!ip({"-n", hub, "link", "add", "br0", "type", "bridge"}, why) ||
        !ip({"-n", hub, "link", "set", "br0", "up"}, why))
        return false;
    for (int i = 0; i < members.size(); ++i) {
        const QString ns = name(members[i]);
        const QString port = QStringLiteral("p%1").arg(i + 1);
        if (!ip({"netns", "add", ns}, why))
            return false;
        m_made << ns;
        if (!ip({"-n", hub, "link", "add", port, "type", "veth", "peer", "name", "eth0", "netns", ns}, why) ||
            !ip({"-n", hub, "link", "set", port, "master", "br0", "up"}, why) ||
            !ip({"-n", ns, "link", "set", "lo", "up"}, why) ||
            !ip({"-n", ns, "addr", "add", subnet + QString::number(i + 1) + "/24", "brd", "+", "dev", "eth0"},
                why) ||
            !ip({"-n", ns, "link", "set", "eth0", "up"}, why) ||
            !ip({"-n", ns, "route", "add", "default", "dev", "eth0"}, why))
            return false;
    }
    return true;
}

NetNamespaces::Inside::Inside(const QString &ns)
{
    m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(QFile::encodeName("/var/run/netns/" + ns).constData(), O_RDONLY | O_CLOEXEC);
    m_entered = m_home >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0)
        ::close(target);
}

NetNamespaces::Inside::~Inside()
{
    if (m_entered)
        ::setns(m_home, CLONE_NEWNET);
    if (m_home >= 0)
        ::close(m_home);
}
