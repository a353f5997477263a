#include "net/MessageDelivery.h"

#include "net/AddressStore.h"
#include "base/AnsiCodec.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "net/EngineEvents.h"
#include "net/MsgLog.h"
#include "net/NetEngine.h"
#include "base/Protocol.h"
#include "net/TransferSealing.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>

namespace {

const QString kYes = QStringLiteral("Y");
const QString kNo = QStringLiteral("N");
const QString kBlankId = QStringLiteral("  ");

QChar modeOf(const QString &datagram)
{
    const QString mode = AnsiCodec::field(datagram, 8, 1);
    return mode.isEmpty() ? QChar(u'N') : mode.at(0);
}

} // namespace

MessageDelivery::MessageDelivery(NetEngine &engine, MsgLog &log, QObject *parent)
    : QObject(parent), m_engine(engine), m_log(log)
{
    connect(&engine, &NetEngine::messageDatagram, this, &MessageDelivery::onMessageDatagram);
    connect(&engine, &NetEngine::receiptDatagram, this, &MessageDelivery::onReceiptDatagram);
    connect(&engine, &NetEngine::openReceiptDatagram, this, &MessageDelivery::onOpenReceiptDatagram);
    // The watch runs from start-up to quit.
    m_timerMsgReTry.setInterval(1000);
    connect(&m_timerMsgReTry, &QTimer::timeout, this, &MessageDelivery::onTimerMsgReTry);
    m_timerMsgReTry.start();
}

int MessageDelivery::NextMessageId()
{
    const int id = m_nextMessageId;
    m_nextMessageId = (m_nextMessageId + 1) % kMsgIdCount;
    return id;
}

QString MessageDelivery::FormatMessageId(int id)
{
    return QStringLiteral("%1").arg(((id % kMsgIdCount) + kMsgIdCount) % kMsgIdCount, 2, 10,
                                    QLatin1Char('0'));
}

QString MessageDelivery::BuildDatagram(bool receipt, QChar displayMode, const QString &messageId,
                                       bool openReceipt, const QString &text)
{
    QString datagram = Protocol::kMessage + (receipt ? kYes : kNo) + displayMode +
                       AnsiCodec::fixedWidth(messageId, 2) + (openReceipt ? kYes : kNo) + QLatin1Char(' ') +
                       text;
    if (datagram.size() > Protocol::kMaxMessageChars) {
        int cut = Protocol::kMaxMessageChars;
        // Half a surrogate pair would go out as "?".
        if (datagram.at(cut - 1).isHighSurrogate())
            --cut;
        datagram.truncate(cut);
    }
    return datagram;
}

bool MessageDelivery::watchWanted(bool receipt, const QString &version) const
{
    const Settings &s = m_engine.context().settings;
    return s.SndMsgRRChk == 1 && s.SndMsgRRTim > 0 && (receipt || !version.isEmpty());
}

void MessageDelivery::watch(const QString &messageId, const QString &recipient, const QString &datagram)
{
    for (MsgRetrySlot &slot : m_retrySlots) {
        if (slot.inUse)
            continue;
        slot.inUse = true;
        slot.countdown = qint16(m_engine.context().settings.SndMsgRRTim + 1);
        slot.messageId = messageId;
        slot.recipient = recipient;
        slot.datagram = datagram;
        slot.serial = m_nextSerial++;
        return;
    }
    // Every slot busy: the message goes out unwatched.
}

void MessageDelivery::freeSlot(MsgRetrySlot &slot)
{
    slot = MsgRetrySlot();
}

int MessageDelivery::watchedCount() const
{
    int n = 0;
    for (const MsgRetrySlot &slot : m_retrySlots)
        n += slot.inUse ? 1 : 0;
    return n;
}

bool MessageDelivery::refused(const QString &name, const QString &address)
{
    const QString refusal = m_engine.sealing().messageRefusal(address);
    if (refusal.isEmpty())
        return false;
    // Whatever notice was chosen: the user would otherwise take the message for sent.
    emit m_engine.events().sendResultAdded(name, QStringLiteral("M"), 1, refusal);
    return true;
}

QString MessageDelivery::nameOrAddress(const QString &ip) const
{
    const QString name = m_engine.addresses().FindAddressByIp(ip).EntryName;
    return name.isEmpty() ? ip : name;
}

void MessageDelivery::SendMessageToList(const QList<MessageRecipient> &recipients, const QString &text,
                                        const MessageOptions &options)
{
    if (recipients.isEmpty())
        return;
    // One record for the whole list, before anything is sent: recipients that turn out
    // to be away are listed too.
    QStringList names;
    for (const MessageRecipient &r : recipients)
        names.append(r.name);
    const QString datagram = BuildDatagram(options.receipt, options.displayMode,
                                           FormatMessageId(options.messageId), options.openReceipt, text);
    m_log.WriteMsgLog(MsgLog::Sent, MsgLog::FromSendDialog, QString(), datagram, options.displayMode, names);

    m_lists.push_back({recipients, 0, false, text, options});
    if (!m_listsBusy)
        sendPendingLists();
}

// Works through the lists row by row. A recipient marked unavailable is looked at again
// after a short return to the event loop, which lets a presence answer already on its
// way mark it "avail"; the rows after it wait for that.
void MessageDelivery::sendPendingLists()
{
    m_listsBusy = true;
    while (!m_lists.empty()) {
        PendingList &list = m_lists.front();
        while (list.next < list.recipients.size()) {
            const MessageRecipient recipient = list.recipients[list.next];
            const AddressEntry entry = m_engine.addresses().FindAddressByIp(recipient.address);
            if (entry.EntryState == kStateUnavail && !list.waited) {
                list.waited = true;
                QTimer::singleShot(m_availabilityWaitMs, this, &MessageDelivery::sendPendingLists);
                return;
            }
            ++list.next;
            list.waited = false;
            if (entry.EntryState != kStateUnavail) {
                if (!refused(recipient.name, recipient.address))
                    sendListRow(list, recipient, entry.EntryVersion);
            } else if (m_engine.context().settings.SndCmpMsgLevel == 0) {
                emit m_engine.events().sendResultAdded(recipient.name, QStringLiteral("M"), 1,
                                                       kMsgNotReadyList);
            }
        }
        m_lists.pop_front();
    }
    m_listsBusy = false;
}

void MessageDelivery::sendListRow(const PendingList &list, const MessageRecipient &recipient,
                                  const QString &version)
{
    const MessageOptions &options = list.options;
    // A peer that never told its version cannot unlock a password-locked message.
    const QChar mode = options.displayMode == u'L' && version.isEmpty() ? QChar(u'Y') : options.displayMode;
    const QString id = FormatMessageId(options.messageId);
    const QString sent = BuildDatagram(options.receipt, mode, id, options.openReceipt, list.text);

    emit m_engine.events().messageSending(options.messageId);

    if (watchWanted(options.receipt, version))
        watch(id, recipient.address, sent);
    m_engine.BCastMsgSend(sent, recipient.address);
}

bool MessageDelivery::DirectSend(const QString &address, const QString &text)
{
    const Settings &s = m_engine.context().settings;
    const AddressEntry entry = m_engine.addresses().FindAddressByIp(address);
    if (entry.EntryState == kStateUnavail) {
        if (s.SndCmpMsgLevel == 0)
            emit m_engine.events().sendResultAdded(entry.EntryName, QStringLiteral("M"), 1,
                                                   kMsgNotReadyDirect);
        return false;
    }
    if (refused(entry.EntryName.isEmpty() ? address : entry.EntryName, address))
        return false;

    const bool receipt = s.SndCmpMsgLevel == 0;
    QChar mode = u'N';
    if (s.SndCmpMsgHide == 1)
        mode = s.SndCmpMsgLock == 1 && !entry.EntryVersion.isEmpty() ? u'L' : u'Y';
    const QString id = FormatMessageId(NextMessageId());
    const QString datagram = BuildDatagram(receipt, mode, id, s.SndMsgOPChk == 1, text);

    m_log.WriteMsgLog(MsgLog::Sent, MsgLog::DirectSend, entry.EntryName, datagram, mode);
    if (watchWanted(receipt, entry.EntryVersion))
        watch(id, address, datagram);
    m_engine.BCastMsgSend(datagram, address);
    return true;
}

void MessageDelivery::SendOpenReceipt(const QString &address, const QString &kind)
{
    const QString receipt = Protocol::kOpenReceipt + kind;
    if (!QHostAddress(address).isNull()) {
        m_engine.BCastMsgSend(receipt, address);
        return;
    }
    // A picture's sender is known by the host name of its transfer header.
    QHostInfo::lookupHost(address, this, [this, receipt](const QHostInfo &info) {
        for (const QHostAddress &found : info.addresses()) {
            if (found.protocol() == QAbstractSocket::IPv4Protocol) {
                m_engine.BCastMsgSend(receipt, found.toString());
                return;
            }
        }
    });
}

void MessageDelivery::onTimerMsgReTry()
{
    // A question box runs a nested event loop; the tick must not re-enter meanwhile.
    m_timerMsgReTry.stop();
    for (MsgRetrySlot &slot : m_retrySlots) {
        // No questions once the program is quitting.
        if (m_engine.context().StartupDone == StartupQuitting)
            return;
        if (!slot.inUse)
            continue;
        --slot.countdown;
        if (slot.countdown >= 1)
            continue;

        const AddressEntry entry = m_engine.addresses().FindAddressByIp(slot.recipient);
        const QString name = entry.EntryName.isEmpty() ? slot.recipient : entry.EntryName;
        if (!entry.isAvail()) {
            emit m_engine.events().sendResultAdded(name, QStringLiteral("M"), 1, kMsgNotReadyList);
            freeSlot(slot);
            continue;
        }

        const quint64 serial = slot.serial;
        const QPointer<MessageDelivery> alive(this);
        const int answer =
            m_engine.host().ShowMessageBox(name + kMsgRetryQuestion1 + QLatin1Char('\r') + kMsgRetryQuestion2,
                                           MsgBox::Question + MsgBox::RetryCancel);
        // The program may have quit while the question was open.
        if (!alive)
            return;
        // The receipt may have come while the question was open; then there is nothing
        // left to resend, and the slot may already watch another message.
        if (!slot.inUse || slot.serial != serial)
            continue;
        // The key may have changed while the message was out.
        if (answer != MsgBox::IdRetry || refused(name, slot.recipient)) {
            freeSlot(slot);
            continue;
        }
        slot.datagram.truncate(Protocol::kMaxMessageChars);
        m_log.WriteMsgLog(MsgLog::Sent, MsgLog::DirectSend, name, slot.datagram,
                          QString(modeOf(slot.datagram)));
        slot.countdown = qint16(m_engine.context().settings.SndMsgRRTim + 1);
        m_engine.BCastMsgSend(slot.datagram, slot.recipient);
    }
    m_timerMsgReTry.start();
}

void MessageDelivery::onReceiptDatagram(const QString &ip, const QString &datagram)
{
    const QString id = AnsiCodec::field(datagram, 8, 2);
    const bool anyId = id.trimmed().isEmpty();
    for (MsgRetrySlot &slot : m_retrySlots) {
        if (slot.inUse && slot.recipient == ip && (anyId || slot.messageId == id)) {
            freeSlot(slot);
            break;
        }
    }
    const QString flag = AnsiCodec::field(datagram, 7, 1);
    if (flag.isEmpty() || flag == kYes)
        emit m_engine.events().sendResultAdded(nameOrAddress(ip), QStringLiteral("M"), 0, QString());
}

void MessageDelivery::onOpenReceiptDatagram(const QString &ip, const QString &datagram)
{
    const QString kind =
        AnsiCodec::field(datagram, 7, 1) == QLatin1String("M") ? QStringLiteral("M") : QStringLiteral("I");
    emit m_engine.events().sendResultAdded(nameOrAddress(ip), kind, 2, QString());
}

void MessageDelivery::onMessageDatagram(const QString &ip, const QString &datagram)
{
    ReceivedMessage message;
    message.senderAddress = ip;
    message.senderName = m_engine.addresses().FindAddressByIp(ip).EntryName;
    message.text = datagram.mid(kMsgHeadChars);
    const QString mode = AnsiCodec::field(datagram, 8, 1);
    message.displayMode = mode == kYes || mode == QLatin1String("L") ? mode.at(0) : QChar(u'N');
    message.messageId = AnsiCodec::field(datagram, 9, 2);
    message.receiptWanted = AnsiCodec::field(datagram, 7, 1) == kYes;
    // A message shown at once never sends an open receipt.
    message.openCheck = message.isClosed() && AnsiCodec::field(datagram, 11, 1) == kYes;
    const QDateTime now = m_log.now();
    message.arrivalDate = now.toString(QStringLiteral("yyyy/MM/dd"));
    message.arrivalTime = now.toString(QStringLiteral("HH:mm:ss"));

    // A retry after a lost receipt is answered again; the reader has the message already,
    // and the log too.
    if (!m_recent.isRepeat(ip, message.messageId, message.text)) {
        emit m_engine.events().messageArrived(message);
        m_log.WriteReceivedMsgLog(ip, message.fromName(), message.text, QString(message.displayMode));
    }

    // Answers always go to the fixed port of the sender's address.
    if (message.receiptWanted)
        m_engine.BCastMsgSend(Protocol::kReceipt + kYes + message.messageId, ip);
    else if (message.messageId.size() == 2 && message.messageId != kBlankId)
        m_engine.BCastMsgSend(Protocol::kReceipt + kNo + message.messageId, ip);
}
