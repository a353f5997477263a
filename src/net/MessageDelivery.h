// Text messages on the wire: the message ids, sending to one recipient or to the send
// dialog's list, the delivery watch with its retry question, and both directions of the
// delivery receipt ("captMR") and the open receipt ("captOP").
#pragma once

#include "net/MessageProtocol.h"
#include "net/RecentArrivals.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <deque>

class NetEngine;
class MsgLog;

// One row of the send dialog's list.
struct MessageRecipient
{
    QString name;
    QString address;
};

// The send dialog's choices for a message.
struct MessageOptions
{
    bool receipt = true;      // a success receipt is wanted ("表示する")
    QChar displayMode = u'N'; // 'N', 'Y' face down, 'L' face down and locked
    bool openReceipt = false; // opening the face-down message reports "開封"
    int messageId = 0;        // the composing window's id, 0 to 99
};

// One watched message. The serial tells a slot reused while a question was open from
// the slot the question was about.
struct MsgRetrySlot
{
    bool inUse = false;
    qint16 countdown = 0;
    QString messageId;
    QString recipient;
    QString datagram;
    quint64 serial = 0;
};

class MessageDelivery : public QObject
{
    Q_OBJECT
  public:
    MessageDelivery(NetEngine &engine, MsgLog &log, QObject *parent = nullptr);

    // The id for a new compose, reply or forward window or a direct send: the current
    // value, after which the counter moves on and wraps from 99 to 0.
    int NextMessageId();
    int PeekMessageId() const { return m_nextMessageId; }

    // The send dialog's "送信" for a message. Logs the message once, then for each row
    // in order: checks that the recipient can receive, sets the delivery watch and sends.
    // A recipient marked unavailable gets a short wait in the event loop for a presence
    // answer first; the rows after it, and any list sent meanwhile, go out after it.
    void SendMessageToList(const QList<MessageRecipient> &recipients, const QString &text,
                           const MessageOptions &options);
    // Lists whose rows are not all handled yet.
    int pendingListCount() const { return int(m_lists.size()); }

    // "即送信" of a reply window: sends to `address` with the options of the settings and
    // a fresh id. False when the recipient is marked unavailable or refused (see
    // TransferSealing::messageRefusal) and nothing was sent.
    bool DirectSend(const QString &address, const QString &text);

    // Tells the sender of an item that it was opened: kind "M" message, "P" picture. The
    // address may be a host name (a picture's sender); the receipt goes once it is looked up.
    void SendOpenReceipt(const QString &address, const QString &kind);

    // "captMS" + R + D + id + O + " " + text, cut to the datagram limit. A surrogate pair
    // is never split by the cut.
    static QString BuildDatagram(bool receipt, QChar displayMode, const QString &messageId, bool openReceipt,
                                 const QString &text);
    static QString FormatMessageId(int id);

    // The delivery watch ticks once a second; tests shorten the tick.
    void setRetryTickInterval(int milliseconds) { m_timerMsgReTry.setInterval(milliseconds); }
    // How long an unavailable recipient of a list is given to announce itself.
    void setAvailabilityWait(int milliseconds) { m_availabilityWaitMs = milliseconds; }
    const MsgRetrySlot &retrySlot(int index) const { return m_retrySlots[size_t(index)]; }
    // How long a received message is remembered to tell a sender's retry from a new one.
    void setRetryRecognitionMs(int milliseconds) { m_recent.setWindowMs(milliseconds); }
    int watchedCount() const;

  public slots:
    void onMessageDatagram(const QString &ip, const QString &datagram);
    void onReceiptDatagram(const QString &ip, const QString &datagram);
    void onOpenReceiptDatagram(const QString &ip, const QString &datagram);

  private slots:
    void onTimerMsgReTry();

  private:
    // One send-dialog list on its way out.
    struct PendingList
    {
        QList<MessageRecipient> recipients;
        qsizetype next = 0;  // the row handled next
        bool waited = false; // that row was unavailable and has had its wait
        QString text;
        MessageOptions options;
    };
    void sendPendingLists();
    void sendListRow(const PendingList &list, const MessageRecipient &recipient, const QString &version);
    bool watchWanted(bool receipt, const QString &version) const;
    void watch(const QString &messageId, const QString &recipient, const QString &datagram);
    void freeSlot(MsgRetrySlot &slot);
    QString nameOrAddress(const QString &ip) const;
    // A message to `address` that must not go (the peer is not sealed to and the user sends
    // only sealed): its result line, and true.
    bool refused(const QString &name, const QString &address);

    NetEngine &m_engine;
    MsgLog &m_log;
    int m_nextMessageId = 0;
    quint64 m_nextSerial = 1;
    std::array<MsgRetrySlot, kMsgRetrySlotCount> m_retrySlots;
    QTimer m_timerMsgReTry;
    // References to elements stay valid while lists are appended.
    std::deque<PendingList> m_lists;
    // sendPendingLists is running or its wait is armed; a new list just queues.
    bool m_listsBusy = false;
    int m_availabilityWaitMs = 50;
    RecentArrivals m_recent;
};
