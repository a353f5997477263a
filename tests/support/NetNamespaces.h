// A private network for system tests: a bridge in a namespace of its own and one namespace
// per member, each joined to the bridge by a veth pair and given one address of a /24.
// Needs root; every namespace goes with the object.
#pragma once

#include <QString>
#include <QStringList>

class NetNamespaces
{
  public:
    // Namespace names start with `prefix` (make it unique per test process).
    explicit NetNamespaces(const QString &prefix) : m_prefix(prefix) {}
    ~NetNamespaces();
    NetNamespaces(const NetNamespaces &) = delete;
    NetNamespaces &operator=(const NetNamespaces &) = delete;

    // The bridge and one namespace per member, member i at `subnet` + (i + 1) (subnet
    // "10.77.0."), with a default route on the bridge. False with `why` when `ip` failed.
    bool make(const QStringList &members, const QString &subnet, QString *why);
    // The namespace of a member.
    QString name(const QString &member) const { return m_prefix + member; }

    // Moves the calling thread into a member's namespace: the sockets it opens from now on
    // are that member's. False when it cannot.
    bool enter(const QString &member) const;

    // Runs `ip` with these arguments; its output when asked.
    static bool ip(const QStringList &args, QString *output = nullptr);

    // While it lives, the calling thread is in the namespace `ns`: the sockets it makes
    // there stay in it for good, so one test process can hold several hosts.
    class Inside
    {
      public:
        explicit Inside(const QString &ns);
        ~Inside();
        Inside(const Inside &) = delete;
        Inside &operator=(const Inside &) = delete;
        bool entered() const { return m_entered; }

      private:
        int m_home = -1;
        bool m_entered = false;
    };

  private:
    QString m_prefix;
    QStringList m_made;
};
