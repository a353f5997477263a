#include "net/Presence.h"

#include "base/AnsiCodec.h"
#include "base/ModZorvin.h"
#include "base/Protocol.h"
#include "net/AddressStore.h"
#include "net/DatagramSeal.h"
#include "net/Datagrams.h"
#include "net/EngineEvents.h"

#include <QStringList>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ');
}

QString trimRight(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    return text.left(end);
}

// Trims blanks only; other white space on the wire belongs to the text.
QString trimBlanks(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size() && isBlank(text[start]))
        ++start;
    return trimRight(text.mid(start));
}

// The value of the leading decimal digits ("26a" is 26, "" and "abc" are 0), as
// versions from the wire are compared.
long long leadingNumber(const QString &text)
{
    long long value = 0;
    for (QChar c : text) {
        if (!c.isDigit() || c.unicode() > 0x7F)
            break;
        value = qMin<long long>(value * 10 + (c.unicode() - '0'), 1'000'000'000);
    }
    return value;
}

} // namespace

Presence::Presence(ModZorvin &ctx, AddressStore &store, EngineEvents &events, Datagrams &datagrams,
                   QObject *parent)
    : QObject(parent), m_ctx(ctx), m_store(store), m_events(events), m_datagrams(datagrams)
{
    connect(&m_datagrams, &Datagrams::datagramArrived, this,
            [this](const QString &ip, const QByteArray &bytes) { HandleDatagram(ip, bytes); });
}

void Presence::HandleDatagram(const QString &ip, QByteArrayView bytes)
{
    if (m_seal) {
        QString opened;
        switch (m_seal->incoming(ip, bytes, &opened)) {
        case DatagramSeal::Verdict::Plain:
            break;
        case DatagramSeal::Verdict::Opened:
            Dispatch(ip, opened);
            return;
        case DatagramSeal::Verdict::Refused:
            return;
        }
    }
    Dispatch(ip, AnsiCodec::decode(bytes));
}

void Presence::Dispatch(const QString &ip, const QString &datagram)
{
    const QStringView kind = QStringView(datagram).left(Protocol::kKindChars);
    const QStringView shortKind = QStringView(datagram).left(Protocol::kShortKindChars);
    if (shortKind == Protocol::kShortAnswer || shortKind == Protocol::kGroupAnswer ||
        kind == Protocol::kLegacyAnswer)
        onAnswer(ip, datagram);
    else if (kind == Protocol::kAnnounce)
        onAnnounce(ip, datagram);
    else if (kind == Protocol::kMessage)
        emit messageDatagram(ip, datagram);
    else if (kind == Protocol::kReceipt)
        emit receiptDatagram(ip, datagram);
    else if (kind == Protocol::kOpenReceipt)
        emit openReceiptDatagram(ip, datagram);
    else if (kind == Protocol::kStop)
        emit stopDatagram(ip, datagram);
    else if (kind == Protocol::kKeyAnnounce && !isOwnAddress(ip))
        emit keyAnnouncementDatagram(ip, datagram);
    else if (kind == Protocol::kGoodbye && !isOwnAddress(ip)) {
        emit goodbyeDatagram(ip);
        UpdatePeer(QString(), ip, kStateUnavail, QString(), QString());
    }
}

void Presence::onAnnounce(const QString &ip, const QString &datagram)
{
    if (isOwnAddress(ip)) {
        UpdatePeer(OwnDisplayName(), ip, kStateAvail, QString::fromLatin1(kProtocolVersion),
                   m_ctx.settings.Grp);
        return;
    }
    const QString version = QString::fromLatin1(kProtocolVersion);
    m_datagrams.BCastMsgSend(Protocol::kGroupAnswer + version, ip);
    m_datagrams.BCastMsgSend(Protocol::kLegacyAnswer, ip);
    m_datagrams.BCastMsgSend(Protocol::kShortAnswer + version, ip);
    sendKeyAnnouncement(ip);
    // With an empty version the stored group is kept whatever is passed; the stored one
    // is passed all the same, so the row never loses what the answers taught it.
    const QString storedGroup = m_store.FindAddressByIp(ip).EntryGroup;
    UpdatePeer(trimRight(AnsiCodec::field(datagram, Protocol::kAnswerNameFrom)), ip, kStateAvail, QString(),
               storedGroup);
}

void Presence::onAnswer(const QString &ip, const QString &datagram)
{
    const QStringView shortKind = QStringView(datagram).left(Protocol::kShortKindChars);
    const QString version =
        trimBlanks(AnsiCodec::field(datagram, Protocol::kVersionFrom, Protocol::kVersionChars));
    if (shortKind == Protocol::kShortAnswer) {
        if (leadingNumber(version) > Protocol::kLegacyVersionLimit)
            return;
        UpdatePeer(AnsiCodec::field(datagram, Protocol::kAnswerNameFrom), ip, kStateAvail, version,
                   QString());
    } else if (shortKind == Protocol::kGroupAnswer) {
        const QString name = trimBlanks(
            AnsiCodec::field(datagram, Protocol::kAnswerNameFrom, Protocol::kGroupAnswerNameChars));
        const QString group = trimBlanks(
            AnsiCodec::field(datagram, Protocol::kGroupAnswerGroupFrom, Protocol::kGroupAnswerGroupChars));
        UpdatePeer(name, ip, kStateAvail, version, group);
    } else {
        QString name = m_store.FindAddressByIp(ip).EntryName;
        if (name.isEmpty())
            name = AnsiCodec::field(datagram, Protocol::kAnswerNameFrom);
        UpdatePeer(name, ip, kStateAvail, QString(), QString());
    }
}

int Presence::UpdatePeer(const QString &name, const QString &ip, const QString &state, const QString &version,
                         const QString &group)
{
    emit m_events.peerUpdating(name, ip, state, version, group);
    return m_store.UpdatePeer(name, ip, state, version, group);
}

void Presence::Announce()
{
    AnnounceTo(Protocol::kBroadcast);
    for (const QString &ip : manualAddresses(false))
        AnnounceTo(ip);
}

void Presence::AnnounceNameAndGroup()
{
    const QString version = QString::fromLatin1(kProtocolVersion);
    const auto sendTo = [&](const QString &destination) {
        m_datagrams.BCastMsgSend(Protocol::kGroupAnswer + version, destination);
        m_datagrams.BCastMsgSend(Protocol::kShortAnswer + version, destination);
    };
    sendTo(Protocol::kBroadcast);
    for (const QString &ip : manualAddresses(false))
        sendTo(ip);
}

QStringList Presence::manualAddresses(bool availOnly) const
{
    // Collected first: the store may change while the datagrams go out.
    QStringList manual;
    for (const AddressEntry &entry : m_store.rows()) {
        if (entry.isManual() && (!availOnly || entry.isAvail()))
            manual.append(entry.EntryAddress);
    }
    return manual;
}

void Presence::AnnounceTo(const QString &destination)
{
    const QString version = QString::fromLatin1(kProtocolVersion);
    m_datagrams.BCastMsgSend(Protocol::kGroupAnswer + version, destination);
    m_datagrams.BCastMsgSend(Protocol::kAnnounce, destination);
    m_datagrams.BCastMsgSend(Protocol::kShortAnswer + version, destination);
    sendKeyAnnouncement(destination);
}

void Presence::sendKeyAnnouncement(const QString &destination)
{
    // After the answers, so that a 2.66 copy gets those exactly as before and then one
    // datagram it ignores.
    if (!m_keyAnnouncement)
        return;
    const QString text = m_keyAnnouncement();
    if (!text.isEmpty())
        m_datagrams.BCastMsgSend(text, destination);
}

void Presence::SayGoodbye()
{
    goodbyePass();
    goodbyePass();
}

void Presence::goodbyePass()
{
    m_datagrams.BCastMsgSend(Protocol::kGoodbye, Protocol::kBroadcast);
    QStringList targets = manualAddresses(true);
    // Keyed peers refuse the plain goodbye from the broadcast: each gets its own, sealed.
    if (m_seal) {
        for (const AddressEntry &entry : m_store.rows()) {
            if (entry.isAvail() && !entry.isManual() && m_seal->isKeyed(entry.EntryAddress))
                targets.append(entry.EntryAddress);
        }
    }
    for (const QString &ip : std::as_const(targets))
        m_datagrams.BCastMsgSend(Protocol::kGoodbye, ip);
}

QString Presence::OwnDisplayName() const
{
    return m_ctx.settings.Name + QStringLiteral(" (") + m_ctx.LocalHostName + QLatin1Char(')');
}

bool Presence::isOwnAddress(const QString &ip) const
{
    return ip == m_ctx.LocalIp || ip == Protocol::kLoopback;
}
