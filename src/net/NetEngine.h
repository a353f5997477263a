// The headless engine of one running copy: the address store, the sockets on port 62410,
// presence, transfers, message delivery, the message log and the archiver calls.
// It links QtCore and QtNetwork only; it tells windows what happens through its EngineEvents
// signals and asks its questions through EngineHost.
#pragma once

#include "net/ArchiverQueue.h"
#include "net/EngineEvents.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class ModZorvin;
class EngineHost;
class AddressStore;
class Datagrams;
class Presence;
class MsgLog;
class MessageDelivery;
class TransferSender;
class TransferReceiver;
class UnlhaLibrary;
class NetDiagnostics;
class Identity;
class PeerKeys;
class DatagramSeal;
class TransferSealing;
struct SendRequest;

class NetEngine : public QObject
{
    Q_OBJECT
  public:
    NetEngine(ModZorvin &ctx, EngineHost &host, QObject *parent = nullptr);
    ~NetEngine() override;

    ModZorvin &context() const { return m_ctx; }
    EngineHost &host() const { return m_host; }
    // Arrivals, results, sounds and presence changes, for the windows to connect to.
    EngineEvents &events() { return m_events; }

    // Deletes every file in the send, receive and work folders; failures are ignored.
    void EmptyWorkFolders();
    // Stops a running unpack (a pack ends first), empties the work folders and removes them.
    void RemoveWorkFolders();

    // The address store (LveAddr) and the presence writer UpdatePeer.
    AddressStore &addresses() const { return *m_addresses; }
    int UpdatePeer(const QString &name, const QString &ip, const QString &state, const QString &version,
                   const QString &group);
    // zorvin.dat into the (empty) store at start; written back at quit, keeping the old
    // file when the write fails.
    // Rows of zorvin.dat into the store. A file that could not be read as it was is kept
    // beside before anything replaces it.
    void LoadAddressBook();
    // Such a file is kept beside now and the rows read are saved in its place; the line for
    // the user's notice (DataFile::keepBesideLine), "" when the file was read whole.
    QString KeepUnreadAddressBook();
    bool SaveAddressBook(QString *error = nullptr);

    // This copy's key pair (zorvin.key) and the peers' pinned keys (zorvinkeys.dat). With
    // `createWhenMissing` a first start makes the pair. Unless the identity is ready, the
    // engine neither announces a key nor reads the peers' ones: it talks as 2.66 does.
    void LoadIdentity(bool createWhenMissing);
    // The user's answer to a damaged key file: kept beside, a new pair made and announced.
    void StartIdentityAfresh();
    Identity &identity() const { return *m_identity; }
    PeerKeys &peerKeys() const { return *m_peerKeys; }
    // Seals message datagrams to keyed peers and opens theirs.
    DatagramSeal &seal() const { return *m_seal; }
    // Which sends are sealed and which are refused.
    const TransferSealing &sealing() const { return *m_sealing; }
    // The address-book command after a changed key was checked with its owner.
    bool AcceptPeerKey(const QString &ip);
    // Drops the keys pinned at `ip`; traffic with it is plain until it announces a key again.
    bool ForgetPeerKey(const QString &ip);

    // Binds the UDP sockets (and, when they are added, the TCP listening socket) and sets
    // LocalIp, LocalIpHex and LocalHostName. On failure gives the socket's error text and
    // number (10047 when IPv4 is missing, 10048 when the port is held by another program).
    [[nodiscard]] bool OpenSockets(QString *errorText, int *errorNumber);
    void CloseSockets();
    // For the diagnosis: binds the TCP listener and the UDP sockets each on its own, so
    // both results are known even when the first fails.
    void OpenSocketsForDiagnosis();
    // What the datagram sockets saw, and the bind results of the last open ("" = bound
    // or not tried; otherwise the socket's error text).
    NetDiagnostics &diagnostics() const;
    bool udpBound() const;
    bool tcpBound() const;
    QString udpBindError() const { return m_udpBindError; }
    QString tcpBindError() const { return m_tcpBindError; }
    // The diagnostics' test send: the announcement to `ip` alone, then testSendFinished(ip,
    // answered) once a datagram from `ip` came back or after three seconds. A new test
    // replaces a running one. False (and no signal) when `ip` is not an IPv4 address or the
    // datagram could not be sent.
    bool TestSend(const QString &ip);
    // Sends one datagram to port 62410 of `destination`; 0 or a socket error number.
    int BCastMsgSend(const QString &datagram, const QString &destination);
    // One received datagram, as the socket hands it over; any bytes are safe.
    void HandleDatagram(const QString &ip, const QByteArray &bytes);
    // The first announcement: to the broadcast address, then to every manual entry.
    void Announce();
    // The name and group again, after the user changed them (no "captBC": nobody answers).
    void AnnounceNameAndGroup();
    // Both goodbye passes at quit (the caller calls this once).
    void SayGoodbye();

    // The message log (WriteMsgLog, the show-log command) and message delivery (ids,
    // sending, the delivery watch, receipts).
    MsgLog &msgLog() const { return *m_msgLog; }
    MessageDelivery &messages() const { return *m_messages; }

    // Picture and file transfers over TCP: the send-job table and the receive slots.
    TransferSender &sender() const { return *m_sender; }
    TransferReceiver &receiver() const { return *m_receiver; }
    // The one way the send dialog and the automatic transfer queue a job; the slot, or
    // -1 when all 706 are taken (the caller reports that).
    int QueueSendJob(const SendRequest &request);
    void NxDtSendConReq(const QString &ip);
    bool DelSlist(int slot);
    // The TCP listening socket on port 62410 (part of OpenSockets).
    [[nodiscard]] bool OpenTransferListener(QString *errorText, int *errorNumber);
    // Closes every transfer socket (unload of the resident window).
    void CloseTransfers();

    // The archiver: one command at a time on its worker thread; finished(id, result) on
    // archiver() ends each. RunArchiver packs `secondPath` into `archivePath` (pack) or
    // unpacks `archivePath` into the folder `secondPath` (ending with "/"); a call made
    // while a command runs is refused with 32799 (busy).
    ArchiverQueue &archiver() const { return *m_archiver; }
    ArchiverTicket RunArchiver(const QString &archivePath, const QString &secondPath, bool pack);
    // Start-up: asks the archiver for its version once (its self-check answers at once, so
    // the wait is bounded), switches its cursor off and sets ArchiverReady.
    void CheckArchiver();
    UnlhaLibrary &unlha() const;

  signals:
    // Datagrams owned by other components, with the sender and the whole decoded text;
    // emitted synchronously by the dispatcher.
    void messageDatagram(const QString &ip, const QString &datagram);
    void receiptDatagram(const QString &ip, const QString &datagram);
    void openReceiptDatagram(const QString &ip, const QString &datagram);
    // A peer said goodbye; emitted before its row is marked "unavail".
    void goodbyeDatagram(const QString &ip);
    void stopDatagram(const QString &ip, const QString &datagram);
    void testSendFinished(const QString &ip, bool answered);

  private:
    ModZorvin &m_ctx;
    EngineHost &m_host;
    EngineEvents m_events;
    std::unique_ptr<AddressStore> m_addresses;
    // zorvin.dat was not read as it was and is still in its place.
    bool m_addressBookUnread = false;
    std::unique_ptr<Datagrams> m_datagrams;
    std::unique_ptr<Presence> m_presence;
    std::unique_ptr<Identity> m_identity;
    std::unique_ptr<PeerKeys> m_peerKeys;
    std::unique_ptr<DatagramSeal> m_seal;
    // Which transfers are sealed, from the two above.
    std::unique_ptr<TransferSealing> m_sealing;
    // The last write of zorvinkeys.dat failed and was reported.
    bool m_peerKeysWriteFailing = false;
    std::unique_ptr<MsgLog> m_msgLog;
    std::unique_ptr<MessageDelivery> m_messages;
    // Before the transfers, which it outlives: its destructor stops a running unpack and
    // waits for a running command.
    std::unique_ptr<ArchiverQueue> m_archiver;
    // Last, so transfers end before the parts they report through.
    std::unique_ptr<TransferSender> m_sender;
    std::unique_ptr<TransferReceiver> m_receiver;
    QString m_udpBindError;
    QString m_tcpBindError;
    QString m_testSendIp;
    QTimer m_testSendTimer;
    // Runs after each write of the pinned keys caused by an announcement.
    QTimer m_peerKeysWriteGap;
    void SetUpTransfers();
    void onKeyAnnouncement(const QString &ip, const QString &datagram);
    void SavePeerKeys();
    void SavePeerKeysSoon();
};
