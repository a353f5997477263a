// Messages between engines on 127.0.0.x: arrival, delivery receipts, the watch and its
// retry question, open receipts, and all of them sealed between keyed copies. Plain UDP
// sockets stand in for peers whose exact bytes the tests read or write.
#include "base/AnsiCodec.h"
#include "base/ModZorvin.h"
#include "net/AddressStore.h"
#include "net/DatagramSeal.h"
#include "net/MessageDelivery.h"
#include "net/MsgLog.h"
#include "net/NetDiagnosisReport.h"
#include "net/NetDiagnostics.h"
#include "net/NetEngine.h"
#include "net/TransferSealing.h"
#include "support/LoopbackEngine.h"
#include "support/RawPeer.h"
#include "support/RecordingHost.h"
#include "support/TestPort.h"
#include "support/WireTap.h"

#include <QFile>
#include <QLocale>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QString kA = QStringLiteral("127.0.0.2");
const QString kB = QStringLiteral("127.0.0.3");
const QString kRaw1 = QStringLiteral("127.0.0.5");
const QString kRaw2 = QStringLiteral("127.0.0.6");

struct Peer
{
    ModZorvin ctx;
    RecordingHost host;
    std::unique_ptr<NetEngine> engine;
    MessageDelivery &messages() { return engine->messages(); }
};

} // namespace

class TestMessages : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void init()
    {
        m_a = makePeer(kA, QStringLiteral("alice"), QStringLiteral("hostA"));
        m_b = makePeer(kB, QStringLiteral("bob"), QStringLiteral("hostB"));
        m_raw1 = std::make_unique<RawPeer>();
        m_raw2 = std::make_unique<RawPeer>();
        QVERIFY(m_raw1->socket.bind(QHostAddress(kRaw1), TestPort::port()));
        QVERIFY(m_raw2->socket.bind(QHostAddress(kRaw2), TestPort::port()));
        for (Peer *p : {m_a.get(), m_b.get()})
            addRows(*p);
    }

    void addRows(Peer &peer)
    {
        for (Peer *p : {&peer}) {
            p->engine->UpdatePeer(QStringLiteral("alice (hostA)"), kA, kStateAvail, QStringLiteral("266"),
                                  {});
            p->engine->UpdatePeer(QStringLiteral("bob (hostB)"), kB, kStateAvail, QStringLiteral("266"), {});
            p->engine->UpdatePeer(QStringLiteral("raw1 (r1)"), kRaw1, kStateAvail, QStringLiteral("266"), {});
            p->engine->UpdatePeer(QStringLiteral("raw2 (r2)"), kRaw2, kStateAvail, QString(), {});
        }
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && m_a)
            qInfo().noquote() << NetDiagnosisReport::text(*m_a->engine);
        m_a.reset();
        m_b.reset();
        m_raw1.reset();
        m_raw2.reset();
    }

    void messageArrivesAndItsReceiptComesBack()
    {
        m_b->ctx.settings.MsgLog = 1;
        m_b->engine->msgLog().setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3)); });
        m_a->messages().SendMessageToList({{QStringLiteral("bob (hostB)"), kB}}, QStringLiteral("こんにちは"),
                                          {true, u'L', true, 7});
        QCOMPARE(m_a->messages().watchedCount(), 1);

        QTRY_COMPARE(m_b->host.arrived.size(), 1);
        const ReceivedMessage &m = m_b->host.arrived.first();
        QCOMPARE(m.senderAddress, kA);
        QCOMPARE(m.senderName, QStringLiteral("alice (hostA)"));
        QCOMPARE(m.text, QStringLiteral("こんにちは"));
        QCOMPARE(m.displayMode, QChar(u'L'));
        QCOMPARE(m.messageId, QStringLiteral("07"));
        QVERIFY(m.receiptWanted);
        QVERIFY(m.openCheck);
        QCOMPARE(m.arrivalDate, QStringLiteral("2026/12/07"));
        QCOMPARE(m.arrivalTime, QStringLiteral("09:05:03"));

        // Logged at arrival, locked, before anyone opened it.
        QFile log(m_b->ctx.ProgramDir + QStringLiteral("CTMSG.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("=====================================\r\n"
                                           " From: alice (hostA)\r\n"
                                           "  at Monday Dec 7 09:05:03 2026 \x28\x8c\xae\x29\r\n"
                                           "-------------------------------------\r\n"
                                           "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n\r\n\r\n"));

        QTRY_COMPARE(m_a->host.sent.size(), 1);
        QCOMPARE(m_a->host.sent.first().name, QStringLiteral("bob (hostB)"));
        QCOMPARE(m_a->host.sent.first().kind, QStringLiteral("M"));
        QCOMPARE(m_a->host.sent.first().result, 0);
        QCOMPARE(m_a->messages().watchedCount(), 0);
    }

    void receiptsFreeOnlyTheMatchingWatch()
    {
        for (int id : {7, 8, 9})
            m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}}, QStringLiteral("t"),
                                              {true, u'N', false, id});
        m_a->messages().SendMessageToList({{QStringLiteral("raw2"), kRaw2}}, QStringLiteral("t"),
                                          {true, u'N', false, 8});
        QCOMPARE(m_a->messages().watchedCount(), 4);

        m_raw1->sendTo(kA, "captMRY08");
        QTRY_COMPARE(m_a->messages().watchedCount(), 3);
        QCOMPARE(m_a->messages().retrySlot(1).inUse, false);
        QCOMPARE(m_a->messages().retrySlot(3).recipient, kRaw2);
        QCOMPARE(m_a->host.sent.size(), 1);
        QCOMPARE(m_a->host.sent.first().name, QStringLiteral("raw1 (r1)"));

        // "N" ends the watch without a success line; an empty id frees the first watch.
        m_raw1->sendTo(kA, "captMRN09");
        QTRY_COMPARE(m_a->messages().watchedCount(), 2);
        QVERIFY(!m_a->messages().retrySlot(2).inUse);
        m_raw2->sendTo(kA, "captMR");
        QTRY_COMPARE(m_a->messages().watchedCount(), 1);
        QVERIFY(m_a->messages().retrySlot(0).inUse);
        QCOMPARE(m_a->host.sent.size(), 2);
    }

    void unavailableRecipientsGetTheFailureLineAndNothing()
    {
        m_a->engine->UpdatePeer({}, kRaw1, kStateUnavail, {}, {});
        m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}, {QStringLiteral("raw2"), kRaw2}},
                                          QStringLiteral("hi"), {true, u'N', false, 3});
        QCOMPARE(m_raw2->next(), QByteArray("captMSYN03N hi"));
        QVERIFY(!m_raw1->hasUnread());
        QCOMPARE(m_a->host.sent.size(), 1);
        QCOMPARE(m_a->host.sent.first().name, QStringLiteral("raw1"));
        QCOMPARE(m_a->host.sent.first().result, 1);
        QCOMPARE(m_a->host.sent.first().info,
                 QStringLiteral("相手側「ぞるびん」は、受信できる状態ではありません。"));

        // The direct send reports without the comma, and only while notices are on.
        QVERIFY(!m_a->messages().DirectSend(kRaw1, QStringLiteral("hi")));
        QCOMPARE(m_a->host.sent.last().info,
                 QStringLiteral("相手側「ぞるびん」は受信できる状態ではありません。"));
        m_a->ctx.settings.SndCmpMsgLevel = 1;
        QVERIFY(!m_a->messages().DirectSend(kRaw1, QStringLiteral("hi")));
        QCOMPARE(m_a->host.sent.size(), 2);
        QVERIFY(!m_raw1->hasUnread());
    }

    // The list waits in the event loop for an answer already on its way; the rows after the
    // unavailable one, and a list sent meanwhile, keep their order behind it.
    void recipientThatAnswersDuringTheWaitGetsTheMessage()
    {
        m_a->messages().setAvailabilityWait(300);
        m_a->engine->UpdatePeer({}, kRaw1, kStateUnavail, {}, {});
        m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}, {QStringLiteral("raw2"), kRaw2}},
                                          QStringLiteral("first"), {false, u'N', false, 4});
        m_a->messages().SendMessageToList({{QStringLiteral("raw2"), kRaw2}}, QStringLiteral("second"),
                                          {false, u'N', false, 5});
        QCOMPARE(m_a->messages().pendingListCount(), 2);
        QVERIFY(!m_raw2->hasUnread());
        m_raw1->sendTo(kA, "cBX266" + QByteArray("raw1 (r1)").leftJustified(150, ' ') +
                               QByteArray("grp").leftJustified(50, ' '));
        QCOMPARE(m_raw1->next(), QByteArray("captMSNN04N first"));
        QCOMPARE(m_raw2->next(), QByteArray("captMSNN04N first"));
        QCOMPARE(m_raw2->next(), QByteArray("captMSNN05N second"));
        QCOMPARE(m_a->messages().pendingListCount(), 0);
        QVERIFY(m_a->host.sent.isEmpty());
    }

    // Quit while a list waits: the engine goes, the rest of the list with it; the log record
    // written before sending stays.
    void quitWhileAListWaitsForARecipient()
    {
        m_a->ctx.settings.MsgLog = 1;
        m_a->messages().setAvailabilityWait(20);
        m_a->engine->UpdatePeer({}, kRaw1, kStateUnavail, {}, {});
        m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}, {QStringLiteral("raw2"), kRaw2}},
                                          QStringLiteral("bye"), {false, u'N', false, 6});
        QCOMPARE(m_a->messages().pendingListCount(), 1);
        m_a->engine.reset();
        QSignalSpy arrived(&m_raw2->socket, &QUdpSocket::readyRead);
        QVERIFY(!arrived.wait(200));
        QFile log(m_a->ctx.ProgramDir + QStringLiteral("CTMSG.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray record = log.readAll();
        QVERIFY(record.contains(" To: raw1\r\n To: raw2\r\n"));
        QVERIFY(record.endsWith("-\r\nbye\r\n\r\n\r\n"));
    }

    void lockedMessageGoesFaceDownToPeersWithoutVersion()
    {
        m_a->messages().SendMessageToList({{QStringLiteral("raw2"), kRaw2}, {QStringLiteral("raw1"), kRaw1}},
                                          QStringLiteral("x"), {false, u'L', true, 42});
        QCOMPARE(m_raw2->next(), QByteArray("captMSNY42Y x"));
        QCOMPARE(m_raw1->next(), QByteArray("captMSNL42Y x"));
        // Without a receipt only the peer with a version is watched.
        QCOMPARE(m_a->messages().watchedCount(), 1);
        QCOMPARE(m_a->messages().retrySlot(0).datagram, QStringLiteral("captMSNL42Y x"));
    }

    void directSendTakesItsOptionsFromTheSettingsAndIdsWrap()
    {
        m_a->ctx.settings.SndCmpMsgHide = 1;
        m_a->ctx.settings.SndCmpMsgLock = 1;
        m_a->ctx.settings.SndMsgOPChk = 1;
        m_a->ctx.settings.SndMsgRRChk = 0;
        for (int i = 0; i < 100; ++i)
            QVERIFY(m_a->messages().DirectSend(kRaw1, QStringLiteral("m")));
        QCOMPARE(m_raw1->next(), QByteArray("captMSYL00Y m"));
        for (int i = 1; i < 100; ++i)
            QCOMPARE(m_raw1->next().mid(8, 2), QByteArray::number(i).rightJustified(2, '0'));
        // The 101st message carries "00" again; a peer without a version gets it face down.
        QVERIFY(m_a->messages().DirectSend(kRaw2, QStringLiteral("m")));
        QCOMPARE(m_raw2->next(), QByteArray("captMSYY00Y m"));
        QCOMPARE(m_a->messages().watchedCount(), 0);
    }

    void longMessagesAreCutTo8192Characters()
    {
        m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}}, QString(9000, u'あ'),
                                          {false, u'N', false, 1});
        QCOMPARE(m_raw1->next(), QByteArray("captMSNN01N ") + QByteArray("\x82\xa0").repeated(8180));
    }

    void unansweredMessageAsksAndRetryResendsTheSameDatagram()
    {
        m_a->ctx.settings.SndMsgRRTim = 1;
        m_a->ctx.settings.MsgLog = 1;
        m_a->messages().setRetryTickInterval(20);
        m_a->host.answers = {MsgBox::IdRetry, MsgBox::IdCancel};
        QVERIFY(m_a->messages().DirectSend(kRaw1, QStringLiteral("ping")));
        const QByteArray first = m_raw1->next();
        QCOMPARE(first, QByteArray("captMSYN00N ping"));

        QCOMPARE(m_raw1->next(), first);
        QVERIFY(!m_a->host.asked.isEmpty());
        QCOMPARE(m_a->host.asked.first(),
                 QStringLiteral("raw1 (r1) へのメッセージ送信が\rﾀｲﾑｱｳﾄしました。再送しますか？"));
        QCOMPARE(m_a->host.styles.first(), 37);

        // Cancel ends the watch; nothing more goes out.
        QTRY_COMPARE(m_a->host.asked.size(), 2);
        QCOMPARE(m_a->messages().watchedCount(), 0);
        QVERIFY(!m_raw1->hasUnread());
        // Sent, then sent again: two records, each with the text after the head.
        QFile log(m_a->ctx.ProgramDir + QStringLiteral("CTMSG.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray records = log.readAll();
        QCOMPARE(records.count(" To: raw1 (r1)\r\n"), 2);
        QCOMPARE(records.count("\r\nping\r\n"), 2);
    }

    void receiptDuringTheQuestionCancelsTheResend()
    {
        m_a->ctx.settings.SndMsgRRTim = 1;
        m_a->messages().setRetryTickInterval(20);
        m_a->host.answers = {MsgBox::IdRetry};
        m_a->host.whileAsking = [this] {
            m_raw1->sendTo(kA, "captMRY00");
            QTRY_COMPARE(m_a->messages().watchedCount(), 0);
        };
        QVERIFY(m_a->messages().DirectSend(kRaw1, QStringLiteral("ping")));
        QCOMPARE(m_raw1->next(), QByteArray("captMSYN00N ping"));
        QTRY_COMPARE(m_a->host.asked.size(), 1);
        QTRY_COMPARE(m_a->host.sent.size(), 1);
        QVERIFY(!m_raw1->hasUnread());
    }

    void recipientGoneAtTimeoutGetsTheFailureLine()
    {
        m_a->ctx.settings.SndMsgRRTim = 1;
        m_a->messages().setRetryTickInterval(20);
        QVERIFY(m_a->messages().DirectSend(kRaw1, QStringLiteral("ping")));
        m_a->engine->UpdatePeer({}, kRaw1, kStateUnavail, {}, {});
        QTRY_COMPARE(m_a->host.sent.size(), 1);
        QCOMPARE(m_a->host.sent.first().name, QStringLiteral("raw1 (r1)"));
        QCOMPARE(m_a->host.sent.first().info,
                 QStringLiteral("相手側「ぞるびん」は、受信できる状態ではありません。"));
        QCOMPARE(m_a->messages().watchedCount(), 0);
        QVERIFY(m_a->host.asked.isEmpty());
    }

    void openReceiptsReachTheSenderAsOpened()
    {
        m_b->messages().SendOpenReceipt(kA, QStringLiteral("M"));
        m_b->messages().SendOpenReceipt(kA, QStringLiteral("P"));
        QTRY_COMPARE(m_a->host.sent.size(), 2);
        QCOMPARE(m_a->host.sent[0].name, QStringLiteral("bob (hostB)"));
        QCOMPARE(m_a->host.sent[0].kind, QStringLiteral("M"));
        QCOMPARE(m_a->host.sent[0].result, 2);
        QCOMPARE(m_a->host.sent[1].kind, QStringLiteral("I"));
    }

    void oddDatagramsAreShownAndAnsweredWhereTheirIdAllows()
    {
        m_raw1->sendTo(kA, "captMSY");              // too short: empty fields
        m_raw1->sendTo(kA, "captMSNQ05Y \x81\x20"); // unknown mode, invalid bytes
        m_raw1->sendTo(kA, "captMSNY  Y old peer"); // blank id: no receipt
        m_raw1->sendTo(kA, "captMSNN06Y open check only when closed");
        QCOMPARE(m_raw1->next(), QByteArray("captMRY"));
        QCOMPARE(m_raw1->next(), QByteArray("captMRN05"));
        QCOMPARE(m_raw1->next(), QByteArray("captMRN06"));
        QCOMPARE(m_a->host.arrived.size(), 4);
        const auto &m = m_a->host.arrived;
        QCOMPARE(m[0].text, QString());
        QCOMPARE(m[0].displayMode, QChar(u'N'));
        QCOMPARE(m[1].displayMode, QChar(u'N'));
        QCOMPARE(m[1].text, QStringLiteral("\ufffd "));
        QVERIFY(!m[1].openCheck);
        QCOMPARE(m[2].displayMode, QChar(u'Y'));
        QVERIFY(m[2].openCheck);
        QCOMPARE(m[2].fromName(), QStringLiteral("raw1 (r1)"));
        QVERIFY(!m[3].openCheck);
    }

    void retryOfAReceivedMessageIsAnsweredAgainButArrivesOnce()
    {
        m_a->ctx.settings.MsgLog = 1;
        // The sender's retry after its receipt was lost: same address, id and text.
        m_raw1->sendTo(kA, "captMSYN07N again?");
        m_raw1->sendTo(kA, "captMSYN07N again?");
        QCOMPARE(m_raw1->next(), QByteArray("captMRY07"));
        QCOMPARE(m_raw1->next(), QByteArray("captMRY07"));
        QCOMPARE(m_a->host.arrived.size(), 1);
        // Another sender with that id and text, the id come round with another text, and
        // messages without an id are all new.
        m_raw2->sendTo(kA, "captMSYN07N again?");
        QCOMPARE(m_raw2->next(), QByteArray("captMRY07"));
        m_raw1->sendTo(kA, "captMSYN07N other text");
        QCOMPARE(m_raw1->next(), QByteArray("captMRY07"));
        m_raw1->sendTo(kA, "captMSNY  Y no id");
        m_raw1->sendTo(kA, "captMSNY  Y no id");
        QTRY_COMPARE(m_a->host.arrived.size(), 5);
        // Once the sender's retries are long past, the same message is a new one.
        m_a->messages().setRetryRecognitionMs(0);
        QTest::qWait(5);
        m_raw1->sendTo(kA, "captMSYN07N other text");
        QCOMPARE(m_raw1->next(), QByteArray("captMRY07"));
        QCOMPARE(m_a->host.arrived.size(), 6);
        QCOMPARE(m_a->host.arrived[1].senderAddress, kRaw2);
        QCOMPARE(m_a->host.arrived[2].text, QStringLiteral("other text"));
        // The log holds what was shown, once each.
        QFile log(m_a->ctx.ProgramDir + QStringLiteral("CTMSG.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray records = log.readAll();
        QCOMPARE(records.count("\r\nagain?\r\n"), 2);
        QCOMPARE(records.count(" From: raw1 (r1)\r\n"), 5);
    }

    void floodFromOneAddressIsLoggedAtALimitedRate()
    {
        m_b->ctx.settings.MsgLog = 1;
        QDateTime now(QDate(2026, 12, 7), QTime(9, 5, 3));
        MsgLog &log = m_b->engine->msgLog();
        log.setClock([&now] { return now; });
        const int limit = MsgLog::kReceivedRecordsPerMinute;
        auto flood = [this](int count) {
            for (int i = 0; i < count; ++i)
                m_raw1->sendTo(kB, "captMSNN  N flood " + QByteArray::number(i));
        };
        QFile file(m_b->ctx.ProgramDir + QStringLiteral("CTMSG.log"));
        auto logged = [&file] {
            file.close();
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray fromRaw1("=====================================\r\n From: raw1 (r1)\r\n");
        auto droppedLine = [](int count) {
            return "-- raw1 (r1)/127.0.0.5 \x82\xa9\x82\xe7\x82\xcc\xd2\xaf\xbe\xb0\xbc\xde " +
                   QByteArray::number(count) +
                   " \x8c\x8f\x82\xcd\x81"
                   "A\x91\xbd\x82\xb7\x82\xac\x82\xe9\x82\xbd\x82\xdf\xdb\xb8\xde\x82\xc9\x8bL\x98^"
                   "\x82\xb5\x82"
                   "\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1\x81"
                   "B --\r\n\r\n\r\n";
        };

        // Every message is shown; the log takes its share of the minute, and another
        // sender's record still goes in.
        flood(limit + 5);
        QTRY_COMPARE(m_b->host.arrived.size(), limit + 5);
        m_raw2->sendTo(kB, "captMSNN  N other");
        QTRY_COMPARE(m_b->host.arrived.size(), limit + 6);
        QCOMPARE(logged().count(fromRaw1), limit);
        QVERIFY(logged().contains(" From: raw2 (r2)\r\n"));
        QVERIFY(!logged().contains("-- raw1"));

        // The next minute's first record comes after the line about the records left out.
        now = now.addSecs(61);
        m_raw1->sendTo(kB, "captMSNN  N after");
        QTRY_COMPARE(m_b->host.arrived.size(), limit + 7);
        QVERIFY(logged().endsWith(droppedLine(5) + fromRaw1 + "  at Monday Dec 7 09:06:04 2026 \r\n" +
                                  "-------------------------------------\r\nafter\r\n\r\n\r\n"));
        QCOMPARE(logged().count(fromRaw1), limit + 1);

        // A flood that ends: its line comes when the minute is over, without another message.
        flood(limit + 2);
        QTRY_COMPARE(m_b->host.arrived.size(), 2 * limit + 9);
        QCOMPARE(logged().count(fromRaw1), 2 * limit);
        now = now.addSecs(61);
        log.setRateCheckInterval(10);
        QTRY_VERIFY(logged().endsWith(droppedLine(3)));
        QCOMPARE(logged().count("-- raw1"), 2);
    }

    // Between keyed copies the message, its receipt, the open receipt, a cancel and the
    // goodbye all go sealed: a host reading the wire sees none of the text or the names.
    void sealedTrafficShowsNothingReadableOnTheWire()
    {
        keyBoth();
        WireCapture wire;
        QVERIFY(wire.isOpen());
        QSignalSpy goodbyes(m_b->engine.get(), &NetEngine::goodbyeDatagram);
        const QString text = QStringLiteral("三時に会議室で secret-plan");
        m_a->messages().SendMessageToList({{QStringLiteral("bob (hostB)"), kB}}, text, {true, u'L', true, 7});
        QTRY_COMPARE(m_b->host.arrived.size(), 1);
        const ReceivedMessage &m = m_b->host.arrived.first();
        QCOMPARE(m.text, text);
        QCOMPARE(m.senderAddress, kA);
        QCOMPARE(m.senderName, QStringLiteral("alice (hostA)"));
        QCOMPARE(m.messageId, QStringLiteral("07"));
        QVERIFY(m.receiptWanted && m.openCheck);
        QTRY_COMPARE(m_a->host.sent.size(), 1);
        QCOMPARE(m_a->host.sent[0].result, 0);
        m_b->messages().SendOpenReceipt(kA, QStringLiteral("M"));
        QTRY_COMPARE(m_a->host.sent.size(), 2);
        QCOMPARE(m_a->host.sent[1].result, 2);
        QSignalSpy stops(m_b->engine.get(), &NetEngine::stopDatagram);
        const QString stop =
            QStringLiteral("captSP") + AnsiCodec::fixedWidth(QStringLiteral("S0042.lzh"), 22);
        QCOMPARE(m_a->engine->BCastMsgSend(stop, kB), 0);
        QTRY_COMPARE(stops.count(), 1);
        QCOMPARE(stops[0][1].toString(), stop);
        // The plain goodbye to the broadcast address stays, for 2.66 copies; bob gets his own, sealed.
        m_a->engine->SayGoodbye();
        QTRY_COMPARE(goodbyes.count(), 2);
        QCOMPARE(m_b->engine->addresses().FindAddressByIp(kA).EntryState, QString(kStateUnavail));

        QTest::qWait(50);
        const QList<QByteArray> payloads = wire.take();
        QCOMPARE(payloads.count(QByteArray("captGB")), 2);
        QCOMPARE(payloads.size(), 6 + 2);
        for (const QByteArray &payload : payloads) {
            if (payload == "captGB")
                continue;
            QVERIFY2(payload.startsWith("captSE001"), payload.left(12).constData());
            for (const QByteArray &readable :
                 {AnsiCodec::encode(text), QByteArray("secret"), QByteArray("alice"), QByteArray("hostA"),
                  QByteArray("bob"), QByteArray("S0042"), QByteArray("captM"), QByteArray("captOP"),
                  QByteArray("captSP"), QByteArray("captGB")})
                QVERIFY(!payload.contains(readable));
        }
        QCOMPARE(m_b->engine->diagnostics().counts().value(QStringLiteral("captSE")).received, quint64(4));
        QCOMPARE(m_b->engine->diagnostics().counts().value(QStringLiteral("captSE")).refused, quint64(0));
    }

    // A host speaking from a keyed peer's address (another port, as any program there
    // may) is not believed: goodbye, open receipt, cancel, message and receipt in plain are
    // dropped and counted. A 2.66 peer beside it is served byte for byte as ever.
    void plainFormsFromAKeyedPeerAreRefusedAndCounted()
    {
        keyBoth();
        QSignalSpy goodbyes(m_a->engine.get(), &NetEngine::goodbyeDatagram);
        QSignalSpy stops(m_a->engine.get(), &NetEngine::stopDatagram);
        QSignalSpy opens(m_a->engine.get(), &NetEngine::openReceiptDatagram);
        QSignalSpy receipts(m_a->engine.get(), &NetEngine::receiptDatagram);
        QSignalSpy messages(m_a->engine.get(), &NetEngine::messageDatagram);
        QUdpSocket forger;
        QVERIFY(forger.bind(QHostAddress(kB), 0));
        const QList<QByteArray> forged = {"captGB", "captOPM",
                                          "captSP" + QByteArray("S001.lzh").leftJustified(22, ' '),
                                          "captMSNN07N pay the invoice today", "captMRY07"};
        for (const QByteArray &datagram : forged)
            QCOMPARE(forger.writeDatagram(datagram, QHostAddress(kA), TestPort::port()),
                     qint64(datagram.size()));

        m_raw1->sendTo(kA, "captMSYN05N from the old copy");
        QCOMPARE(m_raw1->next(), QByteArray("captMRY05"));
        m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}}, QStringLiteral("plain"),
                                          {true, u'N', false, 8});
        QCOMPARE(m_raw1->next(), QByteArray("captMSYN08N plain"));
        // The real bob, after the forgeries.
        m_b->messages().SendMessageToList({{QStringLiteral("alice (hostA)"), kA}}, QStringLiteral("real"),
                                          {false, u'N', false, 9});
        QTRY_COMPARE(m_a->host.arrived.size(), 2);
        QCOMPARE(m_a->host.arrived[0].text, QStringLiteral("from the old copy"));
        QCOMPARE(m_a->host.arrived[1].text, QStringLiteral("real"));
        QCOMPARE(m_a->host.arrived[1].senderAddress, kB);
        QCOMPARE(messages.count(), 2);
        QCOMPARE(goodbyes.count(), 0);
        QCOMPARE(stops.count(), 0);
        QCOMPARE(opens.count(), 0);
        QCOMPARE(receipts.count(), 0);
        QCOMPARE(m_a->engine->addresses().FindAddressByIp(kB).EntryState, QString(kStateAvail));
        const auto counts = m_a->engine->diagnostics().counts();
        for (const char *kind : {"captGB", "captOP", "captSP", "captMS", "captMR"})
            QCOMPARE(counts.value(QLatin1StringView(kind)).refused, quint64(1));
        QCOMPARE(counts.value(QStringLiteral("captSE")).refused, quint64(0));
        QVERIFY(NetDiagnosisReport::text(*m_a->engine)
                    .contains(QRegularExpression("captGB +0 / 1 \\(refused 1\\)")));
    }

    // Each sealed datagram is taken once. Within a run of its sender only the counter
    // matters, so clocks hours or days apart lose nothing; a sender new to this copy with
    // a clock two days off looks like a recording and is refused, as is anything altered.
    void sealedDatagramsAreTakenOnceWhateverTheClocks()
    {
        keyBoth();
        QUdpSocket fromA;
        QVERIFY(fromA.bind(QHostAddress(kA), 0));
        const auto send = [&](const QByteArray &bytes) {
            QCOMPARE(fromA.writeDatagram(bytes, QHostAddress(kB), TestPort::port()), qint64(bytes.size()));
        };
        DatagramSeal &seal = m_a->engine->seal();
        const auto sealed = [&](const char *datagram) {
            return seal.outgoing(QLatin1StringView(datagram), kB).toLatin1();
        };
        constexpr qint64 kHour = 60 * 60 * 1000;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const auto refused = [this] {
            return m_b->engine->diagnostics().counts().value(QStringLiteral("captSE")).refused;
        };

        seal.setClock([now] { return now + 3 * kHour; });
        const QByteArray first = sealed("captMSNN11N first");
        QVERIFY(first.startsWith("captSE001"));
        send(first);
        QTRY_COMPARE(m_b->host.arrived.size(), 1);
        seal.setClock([now] { return now - 48 * kHour; });
        const QByteArray second = sealed("captMSNN12N second");
        send(second);
        QTRY_COMPARE(m_b->host.arrived.size(), 2);

        send(first);
        send(second);
        // Out of order, within the window.
        const QByteArray third = sealed("captMSNN13N third");
        send(sealed("captMSNN14N fourth"));
        send(third);
        QTRY_COMPARE(m_b->host.arrived.size(), 4);
        QCOMPARE(refused(), quint64(2));

        NetDiagnostics scratch;
        DatagramSeal restarted(m_a->engine->identity(), m_a->engine->peerKeys(), scratch);
        restarted.setClock([now] { return now - 48 * kHour; });
        send(restarted.outgoing(QStringLiteral("captMSNN15N stale"), kB).toLatin1());
        QByteArray altered = sealed("captMSNN16N altered");
        altered[altered.size() / 2] = altered[altered.size() / 2] == 'A' ? 'B' : 'A';
        send(altered);
        // Sealed for bob and sent back to alice as if from bob: not bob's.
        QUdpSocket fromB;
        QVERIFY(fromB.bind(QHostAddress(kB), 0));
        const QByteArray reflected = sealed("captMSNN18N reflected");
        QCOMPARE(fromB.writeDatagram(reflected, QHostAddress(kA), TestPort::port()),
                 qint64(reflected.size()));
        send(sealed("captMSNN19N last"));
        QTRY_COMPARE(m_b->host.arrived.size(), 5);
        QCOMPARE(refused(), quint64(4));
        QStringList texts;
        for (const ReceivedMessage &m : std::as_const(m_b->host.arrived))
            texts << m.text;
        QCOMPARE(texts, QStringList({"first", "second", "fourth", "third", "last"}));
        QTRY_COMPARE(m_a->engine->diagnostics().counts().value(QStringLiteral("captSE")).refused, quint64(1));
        QCOMPARE(m_a->host.arrived.size(), 0);
    }

    // bob's copy is installed afresh: alice marks the new key and keeps sealing to the
    // pinned one, which the new copy cannot open, until she accepts the new key.
    void changedKeyGetsNothingSealedToItUntilAccepted()
    {
        keyBoth();
        m_b.reset();
        QVERIFY(QFile::remove(m_dir.path() + u'/' + kB + QStringLiteral("/zorvin.key")));
        QFile::remove(m_dir.path() + u'/' + kB + QStringLiteral("/zorvinkeys.dat"));
        m_b = makePeer(kB, QStringLiteral("bob"), QStringLiteral("hostB"));
        addRows(*m_b);
        m_b->engine->LoadIdentity(true);
        QVERIFY(m_b->engine->identity().isReady());
        pinEachOther(*m_a->engine, *m_b->engine);
        QCOMPARE(m_a->engine->peerKeys().trustOf(kB), PeerKeys::Trust::Changed);
        const auto refusedBy = [](Peer &p) {
            return p.engine->diagnostics().counts().value(QStringLiteral("captSE")).refused;
        };

        m_a->messages().SendMessageToList({{QStringLiteral("bob"), kB}}, QStringLiteral("before"),
                                          {false, u'N', false, 3});
        QTRY_COMPARE(refusedBy(*m_b), quint64(1));
        m_b->messages().SendMessageToList({{QStringLiteral("alice"), kA}}, QStringLiteral("new key"),
                                          {false, u'N', false, 4});
        QTRY_COMPARE(refusedBy(*m_a), quint64(1));
        QVERIFY(m_b->host.arrived.isEmpty());
        QVERIFY(m_a->host.arrived.isEmpty());

        QVERIFY(m_a->engine->AcceptPeerKey(kB));
        m_a->messages().SendMessageToList({{QStringLiteral("bob"), kB}}, QStringLiteral("after"),
                                          {false, u'N', false, 5});
        m_b->messages().SendMessageToList({{QStringLiteral("alice"), kA}}, QStringLiteral("back"),
                                          {false, u'N', false, 6});
        QTRY_COMPARE(m_b->host.arrived.size(), 1);
        QTRY_COMPARE(m_a->host.arrived.size(), 1);
        QCOMPARE(m_b->host.arrived[0].text, QStringLiteral("after"));
        QCOMPARE(m_a->host.arrived[0].text, QStringLiteral("back"));
    }

    // With "SndSealedOnly" on, a message goes only sealed: a peer without a key, or whose
    // key changed, gets nothing and the sender a result line; off, the plain 2.66 bytes go.
    void sealedOnlyRefusesUnsealedRecipientsBeforeTheWire()
    {
        keyBoth();
        m_a->ctx.settings.SndSealedOnly = 1;
        m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}, {QStringLiteral("bob"), kB}},
                                          QStringLiteral("予算"), {false, u'N', false, 12});
        QTRY_COMPARE(m_b->host.arrived.size(), 1);
        QCOMPARE(m_b->host.arrived[0].text, QStringLiteral("予算"));
        QCOMPARE(m_a->host.sent.size(), 1);
        QCOMPARE(m_a->host.sent[0].name, QStringLiteral("raw1"));
        QCOMPARE(m_a->host.sent[0].kind, QStringLiteral("M"));
        QCOMPARE(m_a->host.sent[0].result, 1);
        QCOMPARE(m_a->host.sent[0].info, TransferSealing::unsealedText());
        // The reply window's "即送信" is refused the same way, and says nothing was sent.
        QVERIFY(!m_a->messages().DirectSend(kRaw2, QStringLiteral("quick")));
        QCOMPARE(m_a->host.sent.size(), 2);
        QCOMPARE(m_a->host.sent[1].name, QStringLiteral("raw2 (r2)"));
        QCOMPARE(m_a->host.sent[1].info, TransferSealing::unsealedText());

        // bob's key changes: no longer sealed to either, so nothing goes to him either.
        m_a->engine->peerKeys().offer(QStringLiteral("hostB"), kB, QByteArray(32, '\x5a'));
        QCOMPARE(m_a->engine->sealing().peerAt(kB), TransferSealing::Peer::Changed);
        m_a->messages().SendMessageToList({{QStringLiteral("bob"), kB}}, QStringLiteral("changed"),
                                          {false, u'N', false, 13});
        QCOMPARE(m_a->host.sent.size(), 3);
        QCOMPARE(m_a->host.sent[2].info, TransferSealing::changedKeyText());
        QCOMPARE(m_a->messages().watchedCount(), 0);

        // Off again: the plain 2.66 message, byte for byte, is the first thing either raw
        // peer hears, so the refused ones never went out.
        m_a->ctx.settings.SndSealedOnly = 0;
        m_a->messages().SendMessageToList({{QStringLiteral("raw1"), kRaw1}}, QStringLiteral("予算"),
                                          {false, u'N', false, 12});
        QVERIFY(m_a->messages().DirectSend(kRaw2, QStringLiteral("later")));
        QCOMPARE(m_raw1->next(), QByteArray("captMSNN12N \x97\x5c\x8e\x5a"));
        const QByteArray direct = m_raw2->next();
        QVERIFY2(direct.startsWith("captMS") && direct.endsWith(" later"), direct.constData());
        // To bob's changed key a message goes sealed to the pinned one again, which the
        // real bob opens: it is the next he gets after the first.
        m_a->messages().SendMessageToList({{QStringLiteral("bob"), kB}}, QStringLiteral("after"),
                                          {false, u'N', false, 14});
        QTRY_COMPARE(m_b->host.arrived.size(), 2);
        QCOMPARE(m_b->host.arrived[1].text, QStringLiteral("after"));
    }

  private:
    void keyBoth()
    {
        for (Peer *p : {m_a.get(), m_b.get()}) {
            p->engine->LoadIdentity(true);
            QVERIFY(p->engine->identity().isReady());
        }
        pinEachOther(*m_a->engine, *m_b->engine);
        QCOMPARE(m_a->engine->peerKeys().trustOf(kB), PeerKeys::Trust::Pinned);
    }
    std::unique_ptr<Peer> makePeer(const QString &ip, const QString &name, const QString &hostName)
    {
        auto p = std::make_unique<Peer>();
        p->ctx.ProgramDir = m_dir.path() + QLatin1Char('/') + ip + QLatin1Char('/');
        QDir().mkpath(p->ctx.ProgramDir);
        QFile::remove(p->ctx.ProgramDir + QStringLiteral("CTMSG.log"));
        p->ctx.net.bindAddress = QHostAddress(ip);
        p->ctx.net.port = TestPort::port();
        p->ctx.settings.Name = name;
        p->ctx.settings.MsgLogName = QStringLiteral("CTMSG");
        p->ctx.settings.SndMsgRRChk = 1;
        p->ctx.settings.SndMsgRRTim = 15;
        p->engine = std::make_unique<NetEngine>(p->ctx, p->host);
        p->host.unscripted = MsgBox::IdCancel;
        p->host.listen(p->engine->events());
        QString error;
        int number = 0;
        if (!p->engine->OpenSockets(&error, &number))
            qFatal("cannot bind %s: %s", qPrintable(ip), qPrintable(error));
        p->ctx.LocalHostName = hostName;
        return p;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Peer> m_a, m_b;
    std::unique_ptr<RawPeer> m_raw1, m_raw2;
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
