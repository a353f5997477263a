#include "net/NetEngine.h"

#include "base/DataFile.h"
#include "base/ModZorvin.h"
#include "net/AddressBookFile.h"
#include "net/AddressStore.h"
#include "net/DatagramSeal.h"
#include "net/Datagrams.h"
#include "net/EngineHost.h"
#include "net/Identity.h"
#include "net/KeyAnnouncement.h"
#include "net/LocalAddress.h"
#include "net/MessageDelivery.h"
#include "net/MsgLog.h"
#include "net/NetLog.h"
#include "net/PeerKeys.h"
#include "net/Presence.h"
#include "net/TransferReceiver.h"
#include "net/TransferSealing.h"
#include "net/TransferSender.h"

#include "base/Protocol.h"

#include <QDir>
#include <QFileInfo>
#include <QHostInfo>

namespace {

// How long the test send waits for the address to answer its announcement.
constexpr int kTestSendAnswerMs = 3000;
// The shortest time between two writes of the pinned keys for pins that arrive by themselves.
constexpr int kPeerKeysWriteGapMs = 1000;

void deleteFilesIn(const QString &folder)
{
    // An empty path would be the current folder, never a work folder.
    if (folder.isEmpty())
        return;
    QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
}

} // namespace

NetEngine::NetEngine(ModZorvin &ctx, EngineHost &host, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_host(host), m_addresses(std::make_unique<AddressStore>()),
      m_datagrams(std::make_unique<Datagrams>(ctx)),
      m_presence(std::make_unique<Presence>(ctx, *m_addresses, m_events, *m_datagrams)),
      m_identity(std::make_unique<Identity>()), m_peerKeys(std::make_unique<PeerKeys>()),
      m_seal(std::make_unique<DatagramSeal>(*m_identity, *m_peerKeys, m_datagrams->diagnostics()))
{
    m_datagrams->setSeal(m_seal.get());
    m_presence->setSeal(m_seal.get());
    m_presence->setKeyAnnouncement([this] {
        if (!m_identity->isReady())
            return QString();
        return KeyAnnouncement{Protocol::kExtensionVersion, m_identity->publicKey(), m_ctx.LocalHostName}.text();
    });
    connect(m_presence.get(), &Presence::keyAnnouncementDatagram, this, &NetEngine::onKeyAnnouncement);
    connect(m_presence.get(), &Presence::messageDatagram, this, &NetEngine::messageDatagram);
    connect(m_presence.get(), &Presence::receiptDatagram, this, &NetEngine::receiptDatagram);
    connect(m_presence.get(), &Presence::openReceiptDatagram, this, &NetEngine::openReceiptDatagram);
    connect(m_presence.get(), &Presence::goodbyeDatagram, this, &NetEngine::goodbyeDatagram);
    connect(m_presence.get(), &Presence::stopDatagram, this, &NetEngine::stopDatagram);
    m_msgLog = std::make_unique<MsgLog>(ctx, m_events);
    m_messages = std::make_unique<MessageDelivery>(*this, *m_msgLog);
    m_archiver = std::make_unique<ArchiverQueue>();
    SetUpTransfers();
    m_peerKeysWriteGap.setSingleShot(true);
    m_peerKeysWriteGap.setInterval(kPeerKeysWriteGapMs);
    connect(&m_peerKeysWriteGap, &QTimer::timeout, this, [this] {
        if (m_peerKeys->isDirty())
            SavePeerKeysSoon();
    });
    m_testSendTimer.setSingleShot(true);
    m_testSendTimer.setInterval(kTestSendAnswerMs);
    connect(&m_testSendTimer, &QTimer::timeout, this, [this] { emit testSendFinished(m_testSendIp, false); });
    connect(m_datagrams.get(), &Datagrams::datagramArrived, this,
            [this](const QString &ip, const QByteArray &) {
                if (m_testSendTimer.isActive() && ip == m_testSendIp) {
                    m_testSendTimer.stop();
                    emit testSendFinished(ip, true);
                }
            });
}

NetEngine::~NetEngine()
{
    // Pins still waiting for their write go now; nobody is left to tell of a failure but
    // the log.
    QString error;
    if (m_peerKeys->isDirty() && !m_peerKeys->path().isEmpty() && !m_peerKeys->save(&error))
        qCWarning(lcNet) << "pinned keys not written:" << m_peerKeys->path() << error;
}

bool NetEngine::TestSend(const QString &ip)
{
    if (QHostAddress(ip).protocol() != QAbstractSocket::IPv4Protocol || ip == Protocol::kBroadcast)
        return false;
    m_testSendTimer.stop();
    m_testSendIp = ip;
    if (BCastMsgSend(Protocol::kAnnounce, ip) != 0)
        return false;
    m_testSendTimer.start();
    return true;
}

void NetEngine::LoadIdentity(bool createWhenMissing)
{
    m_identity->load(m_ctx.IdentityPath(), createWhenMissing);
    m_peerKeys->load(m_ctx.PeerKeysPath());
    if (!m_identity->isReady() && !m_identity->problem().isEmpty())
        qCWarning(lcNet) << "no key pair:" << m_identity->path() << m_identity->problem();
}

void NetEngine::StartIdentityAfresh()
{
    if (m_identity->startAfresh() == Identity::State::Ready && m_datagrams->isOpen())
        Announce();
}

void NetEngine::onKeyAnnouncement(const QString &ip, const QString &datagram)
{
    if (!m_identity->isReady())
        return;
    // A peer repeats its key beside every presence answer: the key it has here, pinned or
    // waiting, passed the curve check when it came first (or is this copy's own record).
    const auto known = [this, &ip](const QByteArray &key) {
        return key == m_peerKeys->pinnedKey(ip) || key == m_peerKeys->offeredKey(ip);
    };
    const std::optional<KeyAnnouncement> announcement = KeyAnnouncement::parse(datagram, known);
    if (!announcement) {
        qCDebug(lcNet) << "unusable key announcement from" << ip;
        return;
    }
    m_peerKeys->offer(announcement->hostName, ip, announcement->publicKey);
    // Most announcements repeat what is pinned: the file is written only for a change.
    if (m_peerKeys->isDirty())
        SavePeerKeysSoon();
}

void NetEngine::SavePeerKeysSoon()
{
    // A single new pin is written at once. A whole LAN answering with keys seen for the
    // first time would rewrite the growing file once per peer: those that follow within the
    // gap are written together when it ends.
    if (m_peerKeysWriteGap.isActive())
        return;
    SavePeerKeys();
    m_peerKeysWriteGap.start();
}

bool NetEngine::AcceptPeerKey(const QString &ip)
{
    if (!m_peerKeys->accept(ip))
        return false;
    SavePeerKeys();
    return true;
}

bool NetEngine::ForgetPeerKey(const QString &ip)
{
    if (!m_peerKeys->forget(ip))
        return false;
    SavePeerKeys();
    return true;
}

void NetEngine::SavePeerKeys()
{
    QString error;
    if (m_peerKeys->save(&error)) {
        m_peerKeysWriteFailing = false;
        return;
    }
    qCWarning(lcNet) << "pinned keys not written:" << m_peerKeys->path() << error;
    if (!std::exchange(m_peerKeysWriteFailing, true))
        emit m_events.peerKeysWriteFailed(m_peerKeys->path(), error);
}

void NetEngine::EmptyWorkFolders()
{
    deleteFilesIn(m_ctx.SendTempDir);
    deleteFilesIn(m_ctx.RecvTempDir);
    deleteFilesIn(m_ctx.WorkDir);
}

void NetEngine::RemoveWorkFolders()
{
    // A running command writes into these folders: it is stopped (it removes what it wrote)
    // and ends within a block; then nothing writes there any more.
    m_archiver->waitForRunning();
    EmptyWorkFolders();
    QDir().rmdir(m_ctx.SendTempDir);
    QDir().rmdir(m_ctx.RecvTempDir);
    QDir().rmdir(m_ctx.WorkDir);
    QDir().rmdir(m_ctx.TempPath);
}

int NetEngine::UpdatePeer(const QString &name, const QString &ip, const QString &state,
                          const QString &version, const QString &group)
{
    return m_presence->UpdatePeer(name, ip, state, version, group);
}

void NetEngine::LoadAddressBook()
{
    m_addressBookUnread = !AddressBookFile::LoadAddressBook(m_ctx.AddressBookPath(), *m_addresses);
}

QString NetEngine::KeepUnreadAddressBook()
{
    if (!m_addressBookUnread)
        return QString();
    const QString line = DataFile::keepBesideLine(m_ctx.AddressBookPath());
    if (!QFileInfo::exists(m_ctx.AddressBookPath())) {
        m_addressBookUnread = false;
        SaveAddressBook();
    }
    return line;
}

bool NetEngine::SaveAddressBook(QString *error)
{
    // A book that was not read whole is never written over.
    if (m_addressBookUnread) {
        if (QFileInfo::exists(m_ctx.AddressBookPath()) &&
            DataFile::keepBeside(m_ctx.AddressBookPath()).isEmpty()) {
            if (error)
                *error = QStringLiteral("the unread address book could not be kept beside");
            return false;
        }
        m_addressBookUnread = false;
    }
    return AddressBookFile::SaveAddressBook(m_ctx.AddressBookPath(), *m_addresses, error);
}

bool NetEngine::OpenSockets(QString *errorText, int *errorNumber)
{
    m_ctx.SetLocalIp(LocalAddress::detect(m_ctx.net.bindAddress));
    m_ctx.LocalHostName = QHostInfo::localHostName();
    m_udpBindError.clear();
    m_tcpBindError.clear();
    if (!OpenTransferListener(errorText, errorNumber)) {
        m_tcpBindError = errorText ? *errorText : QStringLiteral("?");
        return false;
    }
    if (!m_datagrams->open(errorText, errorNumber)) {
        m_udpBindError = errorText ? *errorText : QStringLiteral("?");
        return false;
    }
    return true;
}

void NetEngine::OpenSocketsForDiagnosis()
{
    m_ctx.SetLocalIp(LocalAddress::detect(m_ctx.net.bindAddress));
    m_ctx.LocalHostName = QHostInfo::localHostName();
    m_udpBindError.clear();
    m_tcpBindError.clear();
    int number = 0;
    if (!OpenTransferListener(&m_tcpBindError, &number) && m_tcpBindError.isEmpty())
        m_tcpBindError = QStringLiteral("?");
    if (!m_datagrams->open(&m_udpBindError, &number) && m_udpBindError.isEmpty())
        m_udpBindError = QStringLiteral("?");
}

NetDiagnostics &NetEngine::diagnostics() const
{
    return m_datagrams->diagnostics();
}

bool NetEngine::udpBound() const
{
    return m_datagrams->isOpen();
}

bool NetEngine::tcpBound() const
{
    return m_receiver->isListening();
}

void NetEngine::CloseSockets()
{
    m_datagrams->close();
}

int NetEngine::BCastMsgSend(const QString &datagram, const QString &destination)
{
    return m_datagrams->BCastMsgSend(datagram, destination);
}

void NetEngine::HandleDatagram(const QString &ip, const QByteArray &bytes)
{
    m_presence->HandleDatagram(ip, bytes);
}

void NetEngine::Announce()
{
    m_presence->Announce();
}

void NetEngine::AnnounceNameAndGroup()
{
    m_presence->AnnounceNameAndGroup();
}

void NetEngine::SayGoodbye()
{
    m_presence->SayGoodbye();
}
