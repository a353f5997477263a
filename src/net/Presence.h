// Presence and the datagram dispatcher: answers announcements, records peers in the
// address store through UpdatePeer, announces this copy and says goodbye, and hands the
// kinds owned by messages and transfers to their components through signals.
#pragma once

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class AddressStore;
class DatagramSeal;
class Datagrams;
class EngineEvents;
class ModZorvin;

class Presence : public QObject
{
    Q_OBJECT
  public:
    Presence(ModZorvin &ctx, AddressStore &store, EngineEvents &events, Datagrams &datagrams,
             QObject *parent = nullptr);

    // Decodes one received datagram (CP932) and dispatches it; any bytes are safe.
    void HandleDatagram(const QString &ip, QByteArrayView bytes);
    void Dispatch(const QString &ip, const QString &datagram);

    // The only writer of presence data: mirrors the change to the windows first, then
    // updates the store. Returns the row changed or added, -1 when nothing changed.
    int UpdatePeer(const QString &name, const QString &ip, const QString &state, const QString &version,
                   const QString &group);

    // "cBX266", "captBC", "cBR266" to the broadcast address, then to every manual entry.
    void Announce();
    // The three announcement datagrams to one destination.
    void AnnounceTo(const QString &destination);
    // After the user changed name or group: "cBX266" and "cBR266" to the broadcast address,
    // then to every manual entry. Peers take the new name and group from them; nobody answers.
    void AnnounceNameAndGroup();
    // The goodbye pass, done twice as a guard against one lost datagram: "captGB" to the
    // broadcast address and to every manual entry that is "avail". Failures are ignored.
    void SayGoodbye();

    // The "captPK" datagram that goes beside every announcement and every answer to one;
    // without it (or when it gives "") this copy sends what 2.66 sends.
    void setKeyAnnouncement(std::function<QString()> text) { m_keyAnnouncement = std::move(text); }

    // Sealed datagrams are opened, and refused ones dropped, through `seal` (which
    // outlives this) before they are dispatched; keyed peers get a sealed goodbye each.
    void setSeal(DatagramSeal *seal) { m_seal = seal; }

    QString OwnDisplayName() const;
    bool isOwnAddress(const QString &ip) const;

  signals:
    void messageDatagram(const QString &ip, const QString &datagram);
    void receiptDatagram(const QString &ip, const QString &datagram);
    void openReceiptDatagram(const QString &ip, const QString &datagram);
    // Emitted before the sender's row is marked "unavail".
    void goodbyeDatagram(const QString &ip);
    void stopDatagram(const QString &ip, const QString &datagram);
    // A peer's "captPK"; never emitted for this copy's own.
    void keyAnnouncementDatagram(const QString &ip, const QString &datagram);

  private:
    void onAnnounce(const QString &ip, const QString &datagram);
    void onAnswer(const QString &ip, const QString &datagram);
    void goodbyePass();
    void sendKeyAnnouncement(const QString &destination);
    // Addresses of the entries typed in by hand, in store order; with `availOnly`, only
    // those that answered.
    QStringList manualAddresses(bool availOnly) const;

    ModZorvin &m_ctx;
    AddressStore &m_store;
    EngineEvents &m_events;
    Datagrams &m_datagrams;
    std::function<QString()> m_keyAnnouncement;
    DatagramSeal *m_seal = nullptr;
};
