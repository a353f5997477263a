// The public keys of the peers, pinned on first sight per host name and address and kept
// in the data folder. A peer that later shows another key is marked and not trusted until
// the user accepts the new key; until then the pinned one stays.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class PeerKeys : public QObject
{
    Q_OBJECT
  public:
    enum class Trust {
        // No key seen from the peer now at this address: plain traffic, as with 2.66.
        None,
        // The key it shows is the pinned one.
        Pinned,
        // It showed another key: the pinned one stays, the new one waits for the user.
        Changed,
    };

    explicit PeerKeys(QObject *parent = nullptr);

    // Reads the pins; a missing file is an empty store. Lines that cannot be read are
    // skipped, and the file is kept beside (".bak") before the next save replaces it.
    void load(const QString &path);
    // Writes every pin; false with the reason when the file could not be written.
    [[nodiscard]] bool save(QString *error = nullptr);
    QString path() const { return m_path; }
    // Something changed since the last load or save.
    bool isDirty() const { return m_dirty; }

    // A key announced by `hostName` from `ip`: pins it when the peer is new, marks the peer
    // when the key differs from the pinned one. A new host name at an address that has a
    // pinned key counts as that peer showing another key. Returns the peer's trust afterwards.
    Trust offer(const QString &hostName, const QString &ip, const QByteArray &publicKey);
    // The user checked the new key: it replaces the pinned one. False when the peer at
    // `ip` has no changed key.
    bool accept(const QString &ip);
    // The user no longer trusts what is pinned at `ip` (the peer went back to a copy without
    // keys, whose plain traffic the pin would refuse): every pin at the address goes, and
    // the next key announced there is pinned as a first one. False when none was there.
    bool forget(const QString &ip);

    // About the peer last heard at `ip` (the address book's rows know only the address).
    Trust trustOf(const QString &ip) const;
    QString hostNameAt(const QString &ip) const { return m_hostAt.value(ip); }
    // The pinned key (the one traffic may be sealed to) and the one waiting, or empty.
    QByteArray pinnedKey(const QString &ip) const;
    QByteArray offeredKey(const QString &ip) const;
    int size() const { return int(m_pins.size()); }

  signals:
    // A key was pinned: the peer's first, or a new one the user accepted.
    void keyPinned(const QString &ip, const QString &hostName);
    // A peer that was trusted shows another key: the notice to the user, once until the
    // change is accepted or the peer returns to its pinned key.
    void keyChanged(const QString &ip, const QString &hostName, const QString &pinnedFingerprint,
                    const QString &offeredFingerprint);
    // Anything about the peer at `ip` changed, for the address book's rows.
    void trustChanged(const QString &ip);

  private:
    struct Pin
    {
        QString hostName;
        QString address;
        QByteArray pinned;
        QByteArray offered;
    };
    static QString keyOf(const QString &hostName, const QString &ip) { return hostName + u'\t' + ip; }
    const Pin *current(const QString &ip) const;

    QString m_path;
    // By host name and address.
    QHash<QString, Pin> m_pins;
    // The host name last heard at each address.
    QHash<QString, QString> m_hostAt;
    bool m_keepBeside = false;
    bool m_dirty = false;
};
