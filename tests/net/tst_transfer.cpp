// Picture and file transfers between engines in one process, each bound to its own
// 127.0.0.x on the test's port, plus raw sockets that play a misbehaving peer.
#include "net/AddressStore.h"
#include "base/AnsiCodec.h"
#include "support/RecordingHost.h"
#include "base/ModZorvin.h"
#include "lzh/LzhErrors.h"
#include "net/Identity.h"
#include "net/NetEngine.h"
#include "net/PeerKeys.h"
#include "net/ReceiveReports.h"
#include "net/RecordPipeline.h"
#include "net/SealedStream.h"
#include "net/TransferHandshake.h"
#include "net/TransferHeader.h"
#include "net/TransferSealing.h"
#include "net/SlotAdmission.h"
#include "net/TransferReceiver.h"
#include "net/TransferSender.h"
#include "net/UnlhaLibrary.h"
#include "net/WorkerThreads.h"
#include "support/CraftedArchives.h"
#include "support/LoopbackEngine.h"
#include "support/RunArchiver.h"
#include "support/SmallFileSystem.h"
#include "support/SlowLoopback.h"
#include "support/TcpPeer.h"
#include "support/TcpRelay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One running copy bound to its own loopback address, with its own folders.
struct Peer
{
    explicit Peer(const QString &ip)
    {
        ctx.net.bindAddress = QHostAddress(ip);
        ctx.net.broadcastAddress = ip;
        ctx.net.port = TestPort::port();
        ctx.MakeTempFolders(tmp.path() + "/temp");
        ctx.ProgramDir = tmp.path() + "/";
        ctx.settings.Name = "user" + ip.section('.', 3);
        ctx.settings.RecvFileSavePlace = tmp.path() + "/RECVFILE";
        QDir().mkpath(ctx.settings.RecvFileSavePlace);
        QDir().mkpath(outbox());
        host.listen(engine.events());
    }
    bool start() { return startOnLoopback(engine, ctx); }
    void know(const QString &ip, const QString &name, const QString &version)
    {
        engine.UpdatePeer(name, ip, kStateAvail, version, "grp");
    }
    QString outbox() const { return tmp.path() + "/out/"; }
    // A key pair of its own, as a copy of this version makes at first start.
    bool keyed()
    {
        engine.LoadIdentity(true);
        return engine.identity().isReady();
    }
    // Pins `other`'s key as heard from `atIp` (a relay's address when one is between).
    PeerKeys::Trust pin(const Peer &other, const QString &atIp)
    {
        return engine.peerKeys().offer(other.ctx.LocalHostName, atIp, other.engine.identity().publicKey());
    }
    QString recvFile(const QString &name) const { return ctx.settings.RecvFileSavePlace + "/" + name; }
    // What is on its way in: files in the work folder, and, by their item names, files that
    // arrive beside their place in the received-files folder under a temporary name.
    QStringList recvTemp() const
    {
        QStringList names = QDir(ctx.RecvTempDir).entryList(QDir::Files);
        for (const QString &n : QDir(ctx.settings.RecvFileSavePlace).entryList(QDir::Files | QDir::Hidden))
            if (n.endsWith(".zorvin-part"))
                names << n.mid(1).section('.', 0, -3);
        names.sort();
        return names;
    }
    // The size of the file `item` arrives in beside the received-files folder; -1 when none.
    qint64 arrivingSize(const QString &item) const
    {
        const QDir folder(ctx.settings.RecvFileSavePlace);
        for (const QString &n : folder.entryList(QDir::Files | QDir::Hidden))
            if (n.startsWith("." + item + ".") && n.endsWith(".zorvin-part"))
                return QFileInfo(folder.filePath(n)).size();
        return -1;
    }

    int queue(const QString &to, const QString &folder, const QString &item, QChar kind = 'F', int notice = 2,
              bool pack = false)
    {
        SendRequest r;
        r.destination = to;
        r.resultName = "to" + to.section('.', 3);
        r.kind = kind;
        r.folder = folder;
        r.itemName = item;
        r.archiveName = "CAPT" + ctx.LocalIpHex + QString::number(engine.sender().NextJobNumber()) + ".LZH";
        r.packWanted = pack;
        r.notice = notice;
        return engine.QueueSendJob(r);
    }

    QTemporaryDir tmp;
    ModZorvin ctx;
    RecordingHost host;
    NetEngine engine{ctx, host};
};

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator g(seed);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(g.generate() & 0xFF);
    return b;
}

QByteArray writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Text that packs well and keeps the archiver at work for a while.
QByteArray fillerText(qsizetype bytes)
{
    QByteArray filler;
    for (int i = 0; filler.size() < bytes; ++i)
        filler += "filler " + QByteArray::number(qint64(i) * 104729 % 1000003) + " keeps the archiver at work\n";
    return filler;
}

// Text of random words and numbers: packs to less than half, not to nearly nothing.
QByteArray wordText(qsizetype bytes, quint32 seed)
{
    static const char *const words[] = {"transfer", "archive", "window", "network", "capture", "message",
                                        "folder",   "address", "engine", "receive", "picture", "pointer"};
    QRandomGenerator g(seed);
    QByteArray text;
    text.reserve(bytes + 32);
    while (text.size() < bytes)
        text += QByteArray(words[g.bounded(12)]) + QByteArray::number(g.bounded(100000)) +
                (g.bounded(8) == 0 ? '\n' : ' ');
    text.truncate(bytes);
    return text;
}

// A header made of raw fields, as another program would send it.
QByteArray rawHeader(const QByteArray &mark, const QByteArray &kind, const QByteArray &size,
                     const QByteArray &archive, const QByteArray &item)
{
    return mark + kind + size + archive.leftJustified(22, ' ') + item.leftJustified(60, ' ') +
           "N F"
           "NN" +
           QByteArray(5, ' ') + QByteArray("raw").leftJustified(20, ' ') + QByteArray(124, ' ');
}

// The header of a packed file transfer of `item` in an archive of `archiveBytes`.
QByteArray packedHeader(qsizetype archiveBytes, const QByteArray &archiveName, const QByteArray &item)
{
    return rawHeader("0001", "0002", QByteArray::number(archiveBytes).rightJustified(12, '0'), archiveName,
                     item);
}

// A client from `from` to a receiver in this process; waiting runs the event loop so the
// receiver can answer.
std::unique_ptr<QTcpSocket> rawClient(const QString &to, const QString &from = "127.0.0.2")
{
    auto s = std::make_unique<QTcpSocket>();
    s->bind(QHostAddress(from), 0);
    QSignalSpy connected(s.get(), &QTcpSocket::connected);
    s->connectToHost(to, TestPort::port());
    if (!connected.wait(5000))
        return nullptr;
    return s;
}

// A sealed sender played by hand from `from`: it offers with `own` to the receiver whose key
// is `receiverKey`, takes the answer, and then opens what the receiver seals to it.
struct SealedClient
{
    SealedClient(const Identity &own, const QByteArray &receiverKey) : handshake(own, receiverKey) {}
    bool open(const QString &to, const QString &from)
    {
        socket = rawClient(to, from);
        if (!socket)
            return false;
        socket->write(handshake.offer());
        QByteArray answer;
        QSignalSpy ready(socket.get(), &QTcpSocket::readyRead);
        while (answer.size() < TransferHandshake::kAnswerBytes && (socket->bytesAvailable() > 0 || ready.wait(5000)))
            answer += socket->read(TransferHandshake::kAnswerBytes - answer.size());
        qsizetype used = 0;
        if (handshake.takeAnswer(answer, used) != TransferHandshake::Step::Done)
            return false;
        reader = std::make_unique<SealedReader>(handshake.keys());
        return true;
    }
    // The next record the receiver sealed; empty when none opens.
    QByteArray nextRecord()
    {
        QSignalSpy ready(socket.get(), &QTcpSocket::readyRead);
        QByteArray plain;
        for (int i = 0; i < 50; ++i) {
            reader->feed(socket->readAll());
            const SealedReader::Status status = reader->next(plain);
            if (status == SealedReader::Status::Record || status == SealedReader::Status::Final)
                return plain;
            if (status == SealedReader::Status::Broken ||
                (!ready.wait(200) && socket->state() != QAbstractSocket::ConnectedState && !socket->bytesAvailable()))
                break;
        }
        return {};
    }
    TransferHandshake handshake;
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<SealedReader> reader;
};

// Reads one complete error reply ("9999" + 4 digits + text) from a socket.
QByteArray readReply(QTcpSocket &s)
{
    QByteArray got;
    QSignalSpy ready(&s, &QTcpSocket::readyRead);
    for (int i = 0; i < 50; ++i) {
        got += s.readAll();
        if (got.size() >= 8) {
            const int n = AnsiCodec::decode(got.mid(4, 4)).toInt();
            if (AnsiCodec::decode(got.mid(8)).size() >= n)
                return got;
        }
        if (!ready.wait(200) && s.state() != QAbstractSocket::ConnectedState)
            break;
    }
    return got + s.readAll();
}

const QByteArray kShortageReply("99990024"
                                "\x91\x8a\x8e\xe8\x91\xa4\x81\x75\x82\xbc\x82\xe9\x82\xd1\x82\xf1\x81"
                                "\x76\x82\xcc\x20\x83\x8a\x83\x5c\x81\x5b\x83\x58\x82\xaa\x95\x73\x91"
                                "\xab\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81\x42");
const QByteArray kSaveErrorReply("99990029"
                                 "\x91\x8a\x8e\xe8\x91\xa4\x81\x75\x82\xbc\x82\xe9\x82\xd1\x82\xf1\x81"
                                 "\x76\x82\xc5\x83\x74\x83\x40\x83\x43\x83\x8b\x95\xdb\x91\xb6\x92\x86"
                                 "\x82\xc9\x83\x47\x83\x89\x81\x5b\x82\xaa\x94\xad\x90\xb6\x82\xb5\x82"
                                 "\xdc\x82\xb5\x82\xbd\x81\x42");

const QByteArray kUnlhaErrorReply("99990029"
                                  "\x91\x8a\x8e\xe8\x91\xa4\x81\x75\x82\xbc\x82\xe9\x82\xd1\x82\xf1\x81"
                                  "\x76\x82\xc5\x20\x55\x4e\x4c\x48\x41\x20\x82\xcc\x83\x47\x83\x89\x81"
                                  "\x5b\x82\xaa\x94\xad\x90\xb6\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42");

const QByteArray kFormatErrorReply =
    "99990031"
    "\x93\x5d\x91\x97\x92\x86\x82\xc9\x83\x66\x81\x5b\x83\x5e\x81\x5b\x83\x47"
    "\x83\x89\x81\x5b\x20\x28\x95\x73\x90\xb3\x83\x74\x83\x48\x81\x5b\x83\x7d"
    "\x83\x62\x83\x67\x29\x20\x82\xaa\x94\xad\x90\xb6\x82\xb5\x82\xdc\x82\xb5"
    "\x82\xbd\x81\x42";

} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT
  private slots:
    void filesAndPicturesArriveByteIdentical();
    void jobsRunOneAtATimePerDestination();
    void refusalsAreAnsweredWithTheirText();
    void senderReportsTheReceiversRefusal();
    void slotsStayForNewAddressesAndTheStalestHeaderGivesWay();
    void oneAddressCannotHoldEverySlot();
    void theHeaderHasADeadlineOfItsOwn();
    void listenerRestsWhileDescriptorsRunOutAndGoesOn();
    void replyReachesASenderThatClosedItsSendingSide();
    void hangUpsAndIdleConnectionsLeaveNothing();
    void stopRequestDropsTheReceive();
    void cancelAndGoodbyeEndTheSendersJobs();
    void progressCancelsAndCutsOnASlowLink();
    void closeBeforeAllBytesIsAFailure();
    void foldersMissingFilesAndNotices();
    void aFileOntoAnotherFileSystemIsCopiedAside();
    void packedTransfersArriveByteIdentical();
    void receiverWithoutArchiver();
    void singleEntryArchivesUnpackAsTheyArrive_data();
    void singleEntryArchivesUnpackAsTheyArrive();
    void packedArchiveArrivesAtAnyPace_data();
    void packedArchiveArrivesAtAnyPace();
    void otherArchiversMethodsUnpackAsTheyArrive_data();
    void otherArchiversMethodsUnpackAsTheyArrive();
    void aWriteFailureDuringTheUnpackIsASaveError();
    void aFullReceiveFolderKeepsNoPartOfAFile();
    void arrivalsAtOnceAreMeasuredTogetherAgainstTheFreeSpace();
    void hostileArchivesAreRefusedAndLeaveNothing_data();
    void hostileArchivesAreRefusedAndLeaveNothing();
    void onlyTheHeadersItemIsUnpacked();
    void receiverSurvivesAnEndWhileItUnpacks_data();
    void receiverSurvivesAnEndWhileItUnpacks();
    void senderSurvivesAnEndWhileItPacks_data();
    void senderSurvivesAnEndWhileItPacks();
    void sealedTransfersArriveWholeAndShowNothingOnTheWire();
    void aBrokenRecordLeavesNoFileAndALine();
    void aPlainSenderReachesAKeyedReceiverByteForByte();
    void aChangedKeyGetsNothingUntilAccepted();
    void sealedOnlyRefusesAPlainTransferBeforeConnecting();
    void sealedRecordsRefuseReorderReplayCutsAndTrailingBytes();
    void recordsSealedOnWorkersComeBackInOrder();
};

void TestTransfer::filesAndPicturesArriveByteIdentical()
{
    Peer a("127.0.0.2"), b("127.0.0.3");
    QVERIFY(a.start());
    QVERIFY(b.start());
    a.know("127.0.0.3", "bob (h3)", "266");
    b.know("127.0.0.2", "alice (h2)", "266");
    b.ctx.settings.RecvFileSound = 1;
    b.ctx.settings.FileRecvFolOP = 1;

    const QString japanese = QString::fromUtf8("鈴木のメモ.txt");
    const QByteArray big = writeFile(a.outbox() + "plain.bin", randomBytes(3 * 1024 * 1024 + 17, 1));
    const QByteArray small = writeFile(a.outbox() + japanese, randomBytes(1000, 2));
    writeFile(a.outbox() + "empty.dat", QByteArray());
    const QString picName = "CAPT" + a.ctx.LocalIpHex + "7.BMP";
    const QByteArray picture = writeFile(a.ctx.SendTempDir + picName, "BM" + randomBytes(5000, 3));

    QVERIFY(a.queue("127.0.0.3", a.outbox(), "plain.bin") >= 0);
    QVERIFY(a.queue("127.0.0.3", a.outbox(), japanese) >= 0);
    QVERIFY(a.queue("127.0.0.3", a.outbox(), "empty.dat") >= 0);
    SendRequest pic;
    pic.destination = "127.0.0.3";
    pic.resultName = "bob";
    pic.folder = a.ctx.SendTempDir;
    pic.itemName = picName;
    pic.faceDown = 'Y';
    pic.passwordLock = 'Y';
    pic.openReceipt = 'Y';
    QVERIFY(a.engine.QueueSendJob(pic) >= 0);

    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 4, 20000);
    for (const SendLine &l : a.host.sent)
        QCOMPARE(l.result, 0);
    QCOMPARE(a.host.sent[0].info, a.outbox() + "plain.bin");
    QCOMPARE(a.host.sent[0].kind, QString("F"));
    QCOMPARE(a.host.sent[3].kind, QString("I"));
    QVERIFY(!a.engine.sender().anyJobInUse());

    QCOMPARE(readFile(b.recvFile("plain.bin")), big);
    QCOMPARE(readFile(b.recvFile(japanese)), small);
    QVERIFY(QFileInfo(b.recvFile("empty.dat")).isFile());
    QCOMPARE(QFileInfo(b.recvFile("empty.dat")).size(), 0);
    QCOMPARE(b.host.received.size(), 3);
    QCOMPARE(b.host.received[1].name, QString("alice (h2)"));
    QCOMPARE(b.host.received[1].result, 0);
    QCOMPARE(b.host.received[1].info, japanese);
    QCOMPARE(b.host.sounds, QList<int>({1, 1, 1}));
    QCOMPARE(b.host.folders.size(), 3);

    QCOMPARE(b.host.images.size(), 1);
    const ArrivedImage &img = b.host.images[0];
    QCOMPARE(b.host.imageBytes[0], picture);
    QCOMPARE(img.displayKind, 2);
    QVERIFY(img.openCheck);
    QCOMPARE(img.machineName, QString("h2"));
    QCOMPARE(img.hideFrom, QString("From: alice (h2)"));
    QCOMPARE(img.hideTime, "Date: " + img.date + " Time: " + img.time);
    QCOMPARE(img.caption, QString::fromUtf8("ぞるびん From alice (h2)/127.0.0.2 [ Date: ") + img.date +
                              " Time: " + img.time + " ]");
    // A bitmap from another machine lives on in the viewer only; the sender's temporary
    // picture died with its job.
    QVERIFY(!QFile::exists(img.path));
    QVERIFY(!QFile::exists(a.ctx.SendTempDir + picName));
    QCOMPARE(b.recvTemp(), QStringList());
    QCOMPARE(b.engine.receiver().slotsInUse(), 0);
}

void TestTransfer::jobsRunOneAtATimePerDestination()
{
    Peer a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4");
    QVERIFY(a.start());
    QVERIFY(b.start());
    QVERIFY(c.start());
    for (int i = 1; i <= 3; ++i)
        writeFile(a.outbox() + QString("f%1.bin").arg(i), randomBytes(2 * 1024 * 1024, quint32(10 + i)));

    const int s1 = a.queue("127.0.0.3", a.outbox(), "f1.bin");
    const int s2 = a.queue("127.0.0.3", a.outbox(), "f2.bin");
    const int s3 = a.queue("127.0.0.3", a.outbox(), "f3.bin");
    const int sc = a.queue("127.0.0.4", a.outbox(), "f1.bin");
    QCOMPARE(a.engine.sender().job(s1).state, 1);
    QCOMPARE(a.engine.sender().job(s2).state, 0);
    QCOMPARE(a.engine.sender().job(s3).state, 0);
    QCOMPARE(a.engine.sender().job(sc).state, 1); // the other destination does not wait

    int mostAtOnce = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        int running = 0;
        for (int s : {s1, s2, s3})
            running += a.engine.sender().job(s).inUse && a.engine.sender().job(s).state > 0 ? 1 : 0;
        mostAtOnce = qMax(mostAtOnce, qMax(running, b.engine.receiver().slotsInUse()));
    });
    sampler.start(0);
    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 4, 20000);
    sampler.stop();
    QCOMPARE(mostAtOnce, 1);
    QStringList order;
    for (const RecvLine &l : b.host.received)
        order << l.info;
    QCOMPARE(order, QStringList({"f1.bin", "f2.bin", "f3.bin"}));
    QCOMPARE(c.host.received.size(), 1);
    QCOMPARE(readFile(c.recvFile("f1.bin")), readFile(a.outbox() + "f1.bin"));
}

void TestTransfer::refusalsAreAnsweredWithTheirText()
{
    Peer b("127.0.0.3");
    QVERIFY(b.start());
    const QString errorLine = QString::fromUtf8("ファイル受信中にエラーが発生しました。");

    {
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(rawHeader("0000", "0002", "000000000004", "", "a.txt") + "body");
        QCOMPARE(readReply(*s), kFormatErrorReply);
        QTRY_COMPARE(b.host.received.size(), 1);
        // The header was refused before its kind was taken, so the line says picture.
        QCOMPARE(b.host.received[0].info,
                 QString::fromUtf8("画像受信中にエラーが発生しました。不正データ受信。"));
        QCOMPARE(b.host.received[0].name, QString::fromUtf8("IPｱﾄﾞﾚｽ 127.0.0.2"));
    }
    {
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(rawHeader("0001", "0003", "000000000004", "", "v.txt") + "body");
        QCOMPARE(readReply(*s),
                 QByteArray("99990019"
                            "\x82\xbc\x82\xe9\x82\xd1\x82\xf1\x82\xcc\x83\x76\x83\x8d\x83\x67\x83"
                            "\x52\x83\x8b\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93\x95\x73\x88\xea"
                            "\x92\x76\x81\x42"));
        QTRY_COMPARE(b.host.received.size(), 2);
    }
    for (const QByteArray &unsafe : {QByteArray("../escape.txt"), QByteArray("/tmp/escape.txt"),
                                     QByteArray("..\\escape.txt"), QByteArray("")}) {
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(rawHeader("0001", "0002", "000000000004", "", unsafe) + "body");
        QCOMPARE(readReply(*s), kFormatErrorReply);
    }
    QTRY_COMPARE(b.host.received.size(), 6);
    QCOMPARE(b.host.received[5].info, errorLine + QString::fromUtf8("不正データ受信。"));
    {
        // More than the disk can hold: refused before a byte is written.
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(rawHeader("0001", "0002", "999999999999", "", "huge.bin") + "body");
        QCOMPARE(readReply(*s), kSaveErrorReply);
        QTRY_COMPARE(b.host.received.size(), 7);
        QCOMPARE(b.host.received[6].info, errorLine + QString::fromUtf8("ファイルを保存できません。"));
    }
    {
        // Two files under one name each arrive beside the target under a name of their
        // own, never mixed, and nobody sees either before it is complete; the later one
        // replaces the earlier.
        auto running = rawClient("127.0.0.3");
        auto clash = rawClient("127.0.0.3");
        QVERIFY(running && clash);
        running->write(rawHeader("0001", "0002", "000000000008", "", "same.txt") + "1234");
        QTRY_COMPARE(b.recvTemp(), QStringList({"same.txt"}));
        QVERIFY(!QFile::exists(b.recvFile("same.txt")));
        clash->write(rawHeader("0001", "0002", "000000000004", "", "same.txt") + "XXXX");
        QTRY_COMPARE(b.host.received.size(), 8);
        QCOMPARE(readFile(b.recvFile("same.txt")), QByteArray("XXXX"));
        running->write("5678");
        QTRY_COMPARE(b.host.received.size(), 9);
        QCOMPARE(b.host.received[8].result, 0);
        QCOMPARE(readFile(b.recvFile("same.txt")), QByteArray("12345678"));
    }
    {
        // A picture goes to the work folder; one under the name of a running one is refused.
        auto running = rawClient("127.0.0.3");
        auto clash = rawClient("127.0.0.3");
        QVERIFY(running && clash);
        running->write(rawHeader("0001", "0002", "000000000008", "", "same.bmp").replace(102, 3, "N P") +
                       "1234");
        QTRY_COMPARE(b.recvTemp(), QStringList({"same.bmp"}));
        clash->write(rawHeader("0001", "0002", "000000000004", "", "same.bmp").replace(102, 3, "N P") +
                     "XXXX");
        QVERIFY(readReply(*clash).startsWith("99990029"));
        running.reset();
        QTRY_COMPARE(b.recvTemp(), QStringList());
    }
    QCOMPARE(b.recvTemp(), QStringList());
    QVERIFY(!QFile::exists(b.ctx.WorkDir + "escape.txt"));
    QVERIFY(!QFile::exists("/tmp/escape.txt"));
    QCOMPARE(QDir(b.ctx.settings.RecvFileSavePlace).entryList(QDir::Files | QDir::Hidden),
             QStringList({"same.txt"}));
}

void TestTransfer::senderReportsTheReceiversRefusal()
{
    Peer a("127.0.0.2");
    QVERIFY(a.start());
    // A receiver that answers every transfer with the format error.
    TcpPeer refusing("127.0.0.3", true, kFormatErrorReply);
    QVERIFY(refusing.start());
    writeFile(a.outbox() + "x.txt", "hello");
    writeFile(a.outbox() + "y.txt", "world");
    a.queue("127.0.0.3", a.outbox(), "x.txt");
    a.queue("127.0.0.3", a.outbox(), "y.txt");
    QTRY_COMPARE(a.host.sent.size(), 2);
    const QString text = QString::fromUtf8("転送中にデーターエラー (不正フォーマット) が発生しました。");
    QCOMPARE(a.host.sent[0].result, 1);
    QCOMPARE(a.host.sent[0].info, text + " " + a.outbox() + "x.txt");
    QCOMPARE(a.host.sent[1].info, text + " " + a.outbox() + "y.txt");
    QVERIFY(!a.engine.sender().anyJobInUse());
}

void TestTransfer::slotsStayForNewAddressesAndTheStalestHeaderGivesWay()
{
    Peer a("127.0.0.2"), b("127.0.0.3");
    QVERIFY(a.start());
    QVERIFY(b.start());
    // Two hundred addresses hold a connection each, with one byte of a header; the first
    // has waited longest.
    // The first is a sealed sender past its handshake that has not sent its header yet.
    QVERIFY(b.keyed());
    Identity oldestKey;
    QCOMPARE(oldestKey.load(b.tmp.filePath("oldest.key"), true), Identity::State::Ready);
    QCOMPARE(b.engine.peerKeys().offer("oldest", "127.0.1.1", oldestKey.publicKey()), PeerKeys::Trust::Pinned);
    SealedClient oldest(oldestKey, b.engine.identity().publicKey());
    QVERIFY(oldest.open("127.0.0.3", "127.0.1.1"));
    QTest::qWait(30);
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 1; i < 200; ++i) {
        held.push_back(rawClient("127.0.0.3", QString("127.0.1.%1").arg(1 + i)));
        QVERIFY(held.back());
        held.back()->write("0");
    }
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), 200);
    // They try for more: the last free slots stay for addresses that hold none.
    std::vector<std::unique_ptr<QTcpSocket>> more;
    for (int i = 0; i < 56; ++i) {
        more.push_back(rawClient("127.0.0.3", QString("127.0.1.%1").arg(1 + i)));
        QVERIFY(more.back());
    }
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), kRecvSlots - kSlotsKeptForNewAddresses);
    for (int i = 56 - kSlotsKeptForNewAddresses; i < 56; ++i)
        QCOMPARE(readReply(*more[size_t(i)]), kShortageReply);
    for (int i = 0; i < kSlotsKeptForNewAddresses; ++i) {
        held.push_back(rawClient("127.0.0.3", QString("127.0.2.%1").arg(1 + i)));
        QVERIFY(held.back());
    }
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), kRecvSlots);
    // Full, an address holding one more is answered and closed at once.
    auto extra = rawClient("127.0.0.3", "127.0.1.7");
    QVERIFY(extra);
    QSignalSpy extraGone(extra.get(), &QTcpSocket::disconnected);
    QCOMPARE(readReply(*extra), kShortageReply);
    QVERIFY(!extraGone.isEmpty() || extraGone.wait(5000));

    // A sender from an address that holds none takes the place of the connection whose
    // header is incomplete after the longest time, which is told so (sealed, inside its
    // stream, where a plain reply would read as a broken record); the rest go on.
    QSignalSpy oldestGone(oldest.socket.get(), &QTcpSocket::disconnected);
    const QByteArray bytes = writeFile(a.outbox() + "through.bin", randomBytes(50000, 28));
    a.queue("127.0.0.3", a.outbox(), "through.bin");
    QTRY_COMPARE(a.host.sent.size(), 1);
    QCOMPARE(a.host.sent[0].result, 0);
    QCOMPARE(readFile(b.recvFile("through.bin")), bytes);
    QCOMPARE(oldest.nextRecord(), kShortageReply);
    QVERIFY(!oldestGone.isEmpty() || oldestGone.wait(5000));
    QCOMPARE(b.engine.receiver().openConnections(), kRecvSlots - 1);
    for (size_t i = 0; i < held.size(); ++i)
        QCOMPARE(held[i]->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(b.host.received.size(), 1); // the file; no line for those turned away

    held.clear();
    more.clear();
    extra.reset();
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), 0);
    QTRY_COMPARE(b.engine.receiver().openConnections(), 0);
}

void TestTransfer::oneAddressCannotHoldEverySlot()
{
    Peer a("127.0.0.2"), b("127.0.0.3");
    QVERIFY(a.start());
    QVERIFY(b.start());
    // Twenty connections from one host, each sending a byte and then waiting.
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    for (int i = 0; i < 20; ++i) {
        slow.push_back(rawClient("127.0.0.3", "127.0.0.5"));
        QVERIFY(slow.back());
        slow.back()->write("0");
    }
    // The first ones are served; the others get the shortage reply and are closed.
    QTRY_COMPARE(b.engine.receiver().openConnections(), kConnectionsPerAddress);
    for (int i = kConnectionsPerAddress; i < 20; ++i) {
        QCOMPARE(readReply(*slow[size_t(i)]), kShortageReply);
        QTRY_COMPARE(slow[size_t(i)]->state(), QAbstractSocket::UnconnectedState);
    }
    for (int i = 0; i < kConnectionsPerAddress; ++i) {
        QCOMPARE(slow[size_t(i)]->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(slow[size_t(i)]->bytesAvailable(), 0);
    }
    QCOMPARE(b.engine.receiver().slotsInUse(), kConnectionsPerAddress);

    // Another address is served as usual.
    const QByteArray bytes = writeFile(a.outbox() + "meanwhile.bin", randomBytes(100000, 21));
    a.queue("127.0.0.3", a.outbox(), "meanwhile.bin");
    QTRY_COMPARE(a.host.sent.size(), 1);
    QCOMPARE(a.host.sent[0].result, 0);
    QCOMPARE(readFile(b.recvFile("meanwhile.bin")), bytes);

    // A keyed copy at the full address is turned away before its handshake is answered: it
    // reports the busy reply, not a transfer that failed to verify.
    Peer c("127.0.0.5");
    QVERIFY(c.start() && c.keyed() && b.keyed());
    QCOMPARE(c.pin(b, "127.0.0.3"), PeerKeys::Trust::Pinned);
    QCOMPARE(b.pin(c, "127.0.0.5"), PeerKeys::Trust::Pinned);
    writeFile(c.outbox() + "turned.bin", randomBytes(1000, 22));
    c.queue("127.0.0.3", c.outbox(), "turned.bin");
    QTRY_COMPARE(c.host.sent.size(), 1);
    QCOMPARE(c.host.sent[0].result, 1);
    QCOMPARE(c.host.sent[0].info, ReceiveReports::errorReplyText(ReceiveReports::kNoRoom) + " " + c.outbox() + "turned.bin");
    QVERIFY(!QFileInfo::exists(b.recvFile("turned.bin")));
}

void TestTransfer::theHeaderHasADeadlineOfItsOwn()
{
    Peer b("127.0.0.3");
    b.engine.receiver().setHeaderDeadline(500);
    QVERIFY(b.start());
    {
        // A byte now and then keeps the idle watch away, but not the deadline.
        auto trickler = rawClient("127.0.0.3");
        QVERIFY(trickler);
        QSignalSpy gone(trickler.get(), &QTcpSocket::disconnected);
        QTimer drip;
        connect(&drip, &QTimer::timeout, trickler.get(), [&] { trickler->write("0"); });
        drip.start(50);
        QVERIFY(gone.wait(10000));
        QTRY_COMPARE(b.engine.receiver().slotsInUse(), 0);
    }
    // A header in time: the body may take longer than the deadline.
    auto s = rawClient("127.0.0.3");
    QVERIFY(s);
    s->write(rawHeader("0001", "0002", "000000000010", "", "slow.txt"));
    QTRY_COMPARE(b.recvTemp(), QStringList({"slow.txt"}));
    const QByteArray body("0123456789");
    int sent = 0;
    QTimer drip;
    connect(&drip, &QTimer::timeout, s.get(), [&] {
        if (sent < body.size())
            s->write(body.mid(sent++, 1));
    });
    drip.start(150);
    QTRY_COMPARE_WITH_TIMEOUT(b.host.received.size(), 1, 10000);
    QCOMPARE(b.host.received[0].result, 0);
    QCOMPARE(readFile(b.recvFile("slow.txt")), body);
}

namespace {

// The lowest file descriptor number that is free, or the highest one in use plus one.
int highestOpenDescriptor()
{
    int highest = 2;
    for (const QString &name : QDir("/proc/self/fd").entryList(QDir::Files | QDir::System))
        highest = qMax(highest, name.toInt());
    return highest;
}

// A connected client made from plain system calls, so that nothing of Qt stands between
// the test and the bytes.
int posixClient(const char *from, const char *to)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &a.sin_addr);
    sockaddr_in b{};
    b.sin_family = AF_INET;
    b.sin_port = htons(TestPort::port());
    ::inet_pton(AF_INET, to, &b.sin_addr);
    // The kernel completes the connection from the listener's backlog, without its owner.
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&b), sizeof b) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

void TestTransfer::listenerRestsWhileDescriptorsRunOutAndGoesOn()
{
    Peer b("127.0.0.3");
    QVERIFY(b.start());
    auto *server = b.engine.receiver().findChild<QTcpServer *>();
    QVERIFY(server);
    QSignalSpy acceptFailed(server, &QTcpServer::acceptError);

    // Every descriptor taken: the limit just above the highest in use, the gaps filled.
    rlimit normal{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &normal), 0);
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    rlimit low = normal;
    low.rlim_cur = rlim_t(highestOpenDescriptor() + 1);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        fillers.push_back(fd);
    for (int &fd : clients) {
        ::close(fd);
        fd = posixClient("127.0.0.2", "127.0.0.3");
    }
    // Closing a client made room for it again: take that room back.
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        fillers.push_back(fd);
    for (int fd : clients)
        QVERIFY(fd >= 0);

    QVERIFY(acceptFailed.wait(5000));
    QCOMPARE(b.engine.receiver().openConnections(), 0);
    for (int fd : fillers)
        ::close(fd);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &normal), 0);
    // The waiting connections are taken once descriptors are back.
    QTRY_COMPARE_WITH_TIMEOUT(b.engine.receiver().openConnections(), 3, 5000);
    qInfo() << "failed accepts while no descriptor was free:" << acceptFailed.size();
    for (int fd : clients)
        ::close(fd);
    QTRY_COMPARE(b.engine.receiver().openConnections(), 0);
}

void TestTransfer::replyReachesASenderThatClosedItsSendingSide()
{
    Peer b("127.0.0.3");
    QVERIFY(b.start());
    const int fd = posixClient("127.0.0.2", "127.0.0.3");
    QVERIFY(fd >= 0);
    const QByteArray bad = rawHeader("0000", "0002", "000000000004", "", "a.txt") + "body";
    QCOMPARE(::send(fd, bad.constData(), size_t(bad.size()), 0), ssize_t(bad.size()));
    QCOMPARE(::shutdown(fd, SHUT_WR), 0);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Everything up to the receiver's close.
    QByteArray got;
    bool ended = false;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 char buf[512];
                                 ssize_t n;
                                 while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
                                     got.append(buf, n);
                                 ended = n == 0 || (n < 0 && errno != EAGAIN);
                                 return ended;
                             }()),
                             10000);
    ::close(fd);
    QCOMPARE(got, kFormatErrorReply);
    QTRY_COMPARE(b.host.received.size(), 1);
    QTRY_COMPARE(b.engine.receiver().openConnections(), 0);
}

void TestTransfer::hangUpsAndIdleConnectionsLeaveNothing()
{
    Peer b("127.0.0.3");
    b.engine.receiver().setIdleTimeout(300);
    b.engine.CheckArchiver();
    QVERIFY(b.start());
    {
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(rawHeader("0001", "0002", "000000001000", "", "partial.bin") + QByteArray(10, 'x'));
        QTRY_COMPARE(b.recvTemp(), QStringList({"partial.bin"}));
        s->disconnectFromHost();
        QTRY_COMPARE(b.recvTemp(), QStringList());
        QTRY_COMPARE(b.engine.receiver().slotsInUse(), 0);
        // Listed once no stop request followed the hang-up in time.
        QCOMPARE(b.host.received.size(), 0);
        QTRY_COMPARE(b.host.received.size(), 1);
    }
    {
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        QTRY_COMPARE(b.engine.receiver().slotsInUse(), 1);
        QSignalSpy gone(s.get(), &QTcpSocket::disconnected);
        QVERIFY(gone.wait(5000));
        QCOMPARE(b.engine.receiver().slotsInUse(), 0);
    }
    {
        // The idle watch also ends a body that stops half way.
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(rawHeader("0001", "0002", "000000001000", "", "stalled.bin") + QByteArray(10, 'x'));
        QSignalSpy gone(s.get(), &QTcpSocket::disconnected);
        QVERIFY(gone.wait(5000));
        QTRY_COMPARE(b.recvTemp(), QStringList());
        QCOMPARE(b.engine.receiver().slotsInUse(), 0);
    }
    {
        // A stored entry is unpacked as it arrives: what is already in place goes with the
        // hang-up.
        const QByteArray data = randomBytes(200000, 42);
        const QByteArray archive = CraftedArchives::level2Entry("cut.bin", data, "-lh0-", data.size(),
                                                                CraftedArchives::crcOf(data)) +
                                   '\0';
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(packedHeader(archive.size(), "CUT.LZH", "cut.bin") + archive.left(150000));
        QTRY_VERIFY(b.arrivingSize("cut.bin") > 100000);
        s->disconnectFromHost();
        QTRY_COMPARE(b.recvTemp(), QStringList());
        QCOMPARE(b.engine.receiver().slotsInUse(), 0);
    }
    {
        // So does a packed entry: the unpack that ran while it arrived stops, and its file goes.
        // Half the archive unpacks to several of the unpack's output pieces.
        const QByteArray archive = CraftedArchives::lh5Archive("cut.txt", wordText(4 << 20, 43));
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(packedHeader(archive.size(), "CUTLH5.LZH", "cut.txt") + archive.left(archive.size() / 2));
        QTRY_COMPARE(b.engine.receiver().unpacksOnArrival(), 1);
        QTRY_VERIFY(b.arrivingSize("cut.txt") > 100000);
        s->disconnectFromHost();
        QTRY_COMPARE(b.recvTemp(), QStringList());
        QCOMPARE(b.engine.receiver().slotsInUse(), 0);
        QCOMPARE(b.engine.receiver().unpacksOnArrival(), 0);
    }
    // Every reception that had begun is a line; the connection without a header is none.
    const QString cut = QString::fromUtf8("ファイル受信中にエラーが発生しました。転送中に切断されました。 ");
    QTRY_COMPARE(b.host.received.size(), 4);
    QStringList lines;
    for (const RecvLine &line : b.host.received) {
        QCOMPARE(line.result, 1);
        QCOMPARE(line.name, QString("IPｱﾄﾞﾚｽ 127.0.0.2"));
        lines << line.info;
    }
    QCOMPARE(lines,
             QStringList({cut + "partial.bin", cut + "stalled.bin", cut + "cut.bin", cut + "cut.txt"}));
    QCOMPARE(QDir(b.ctx.settings.RecvFileSavePlace).entryList(QDir::Files), QStringList());
}

void TestTransfer::stopRequestDropsTheReceive()
{
    Peer b("127.0.0.3");
    QVERIFY(b.start());
    auto first = rawClient("127.0.0.3");
    auto second = rawClient("127.0.0.3");
    QVERIFY(first && second);
    first->write(rawHeader("0001", "0002", "000000001000", "CAPTA.LZH", "a.txt") + QByteArray(10, 'x'));
    second->write(rawHeader("0001", "0002", "000000001000", "CAPTB.LZH", "b.txt") + QByteArray(10, 'x'));
    QTRY_COMPARE(b.recvTemp(), QStringList({"a.txt", "b.txt"}));

    QSignalSpy secondGone(second.get(), &QTcpSocket::disconnected);
    b.engine.HandleDatagram("127.0.0.2", "captSP" + QByteArray("CAPTB.LZH").leftJustified(22, ' '));
    QVERIFY(secondGone.wait(5000));
    QCOMPARE(b.recvTemp(), QStringList({"a.txt"}));
    QCOMPARE(first->state(), QAbstractSocket::ConnectedState);

    // From another sender it changes nothing; blank from this sender takes the first.
    b.engine.HandleDatagram("127.0.0.9", "captSP" + QByteArray(22, ' '));
    QSignalSpy firstGone(first.get(), &QTcpSocket::disconnected);
    QVERIFY(!firstGone.wait(300));
    b.engine.HandleDatagram("127.0.0.2", "captSP" + QByteArray(22, ' '));
    QVERIFY(firstGone.count() == 1 || firstGone.wait(5000));
    QCOMPARE(b.recvTemp(), QStringList());
    QCOMPARE(b.engine.receiver().slotsInUse(), 0);

    // A packed entry unpacked while it arrives stops with its transfer, half way.
    b.engine.CheckArchiver();
    const QByteArray archive = CraftedArchives::lh5Archive("c.txt", wordText(1 << 20, 47));
    auto third = rawClient("127.0.0.3");
    QVERIFY(third);
    third->write(packedHeader(archive.size(), "CAPTC.LZH", "c.txt") + archive.left(archive.size() / 2));
    QTRY_COMPARE(b.engine.receiver().unpacksOnArrival(), 1);
    QSignalSpy thirdGone(third.get(), &QTcpSocket::disconnected);
    b.engine.HandleDatagram("127.0.0.2", "captSP" + QByteArray("CAPTC.LZH").leftJustified(22, ' '));
    QVERIFY(thirdGone.wait(5000));
    QCOMPARE(b.engine.receiver().unpacksOnArrival(), 0);
    QCOMPARE(b.recvTemp(), QStringList());
    // Each stopped reception is a cancel line, also when the hang-up came before the stop.
    auto fourth = rawClient("127.0.0.3");
    QVERIFY(fourth);
    fourth->write(rawHeader("0001", "0002", "000000001000", "CAPTD.LZH", "d.txt") + QByteArray(10, 'x'));
    QTRY_COMPARE(b.recvTemp(), QStringList({"d.txt"}));
    fourth->abort();
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), 0);
    QTest::qWait(200);
    b.engine.HandleDatagram("127.0.0.2", "captSP" + QByteArray("CAPTD.LZH").leftJustified(22, ' '));
    QTest::qWait(kCutLineGraceMs + 200);
    QStringList lines;
    for (const RecvLine &line : b.host.received)
        lines << QString::number(line.result) + line.info;
    const QString cancelled = QString::fromUtf8("1送信側でキャンセルされました。 ");
    QCOMPARE(lines, QStringList({cancelled + "b.txt", cancelled + "a.txt", cancelled + "c.txt",
                                 cancelled + "d.txt"}));

    // A hang-up held back for its stop is not claimed by a stop for another archive of the
    // same sender: that one stops the running reception it names, the hang-up is a cut.
    b.host.received.clear();
    auto fifth = rawClient("127.0.0.3");
    auto sixth = rawClient("127.0.0.3");
    QVERIFY(fifth && sixth);
    fifth->write(rawHeader("0001", "0002", "000000001000", "CAPTE.LZH", "e.txt") + QByteArray(10, 'x'));
    sixth->write(rawHeader("0001", "0002", "000000001000", "CAPTF.LZH", "f.txt") + QByteArray(10, 'x'));
    QTRY_COMPARE(b.recvTemp(), QStringList({"e.txt", "f.txt"}));
    fifth->abort();
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), 1);
    QSignalSpy sixthGone(sixth.get(), &QTcpSocket::disconnected);
    b.engine.HandleDatagram("127.0.0.2", "captSP" + QByteArray("CAPTF.LZH").leftJustified(22, ' '));
    QVERIFY(sixthGone.wait(5000));
    QTest::qWait(kCutLineGraceMs + 200);
    lines.clear();
    for (const RecvLine &line : b.host.received)
        lines << QString::number(line.result) + line.info;
    QCOMPARE(lines, QStringList({cancelled + "f.txt", QString::fromUtf8("1ファイル受信中にエラーが発生しました。"
                                                                         "転送中に切断されました。 e.txt")}));
    QCOMPARE(b.recvTemp(), QStringList());
}

void TestTransfer::cancelAndGoodbyeEndTheSendersJobs()
{
    Peer a("127.0.0.2");
    QVERIFY(a.start());
    // A receiver that takes connections and reads nothing, and a datagram probe beside it.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.3"), TestPort::port()));
    QList<QTcpSocket *> conns;
    connect(&server, &QTcpServer::newConnection, this, [&] { conns.append(server.nextPendingConnection()); });
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress("127.0.0.3"), TestPort::port()));

    writeFile(a.outbox() + "big.bin", randomBytes(8 * 1024 * 1024, 5));
    const int first = a.queue("127.0.0.3", a.outbox(), "big.bin");
    const int second = a.queue("127.0.0.3", a.outbox(), "big.bin");
    const QString archive = a.engine.sender().job(first).archiveName;
    QTRY_COMPARE(conns.size(), 1);
    QTRY_COMPARE(a.engine.sender().job(first).state, 3);

    QSignalSpy firstGone(conns[0], &QTcpSocket::disconnected);
    a.engine.sender().CancelSendJob(first);
    QCOMPARE(a.host.sent.size(), 1);
    QCOMPARE(a.host.sent[0].result, 1);
    QCOMPARE(a.host.sent[0].info, QString::fromUtf8("キャンセルしました。 ") + a.outbox() + "big.bin");
    QVERIFY(firstGone.wait(5000));
    QTRY_VERIFY(probe.hasPendingDatagrams());
    // The job went unpacked, so its archive name travels blank.
    QCOMPARE(probe.receiveDatagram().data(), QByteArray("captSP") + QByteArray(22, ' '));
    QVERIFY(!archive.isEmpty());
    QTRY_COMPARE(conns.size(), 2); // the next job for that destination starts
    QTRY_COMPARE(a.engine.sender().job(second).state, 3);

    a.engine.HandleDatagram("127.0.0.3", "captGB");
    QCOMPARE(a.host.sent.size(), 2);
    QCOMPARE(a.host.sent[1].result, 1);
    QCOMPARE(a.host.sent[1].info,
             QString::fromUtf8("相手側「ぞるびん」が終了しました。 ") + a.outbox() + "big.bin");
    QVERIFY(!a.engine.sender().anyJobInUse());
    qDeleteAll(conns);
}

// Over a loopback of 40 Mbit/s a transfer takes seconds: both sides report it at their
// pace and end it, and a cancel, a quit and a hang-up half way each end as lines.
void TestTransfer::progressCancelsAndCutsOnASlowLink()
{
    SlowLoopback slow;
    QString why;
    if (!slow.enter("40mbit", &why))
        QSKIP(qPrintable(why));
    Peer a("127.0.0.2"), b("127.0.0.3");
    QVERIFY(a.start());
    QVERIFY(b.start());
    a.engine.CheckArchiver();
    b.engine.CheckArchiver();
    a.know("127.0.0.3", "bob (h3)", "266");
    b.know("127.0.0.2", "alice (h2)", "266");
    QList<TransferProgress> sent, received;
    connect(&a.engine.events(), &EngineEvents::transferProgress, this,
            [&](const TransferProgress &p) { sent.append(p); });
    connect(&b.engine.events(), &EngineEvents::transferProgress, this,
            [&](const TransferProgress &p) { received.append(p); });
    const auto movedAtLeast = [](const QList<TransferProgress> &reports, qint64 bytes) {
        return !reports.isEmpty() && reports.last().state == TransferProgress::State::Moving &&
               reports.last().done >= bytes;
    };

    const qint64 size = 12 << 20; // about 2.5 s
    writeFile(a.outbox() + "slow.bin", randomBytes(size, 21));
    QElapsedTimer clock;
    clock.start();
    const int job = a.queue("127.0.0.3", a.outbox(), "slow.bin");
    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 1, 30000);
    QCOMPARE(a.host.sent[0].result, 0);
    QTRY_COMPARE(b.host.received.size(), 1);
    QCOMPARE(b.host.received[0].result, 0);
    const qint64 took = clock.elapsed();
    QVERIFY2(took > 1000, qPrintable(QString::number(took)));
    for (const auto &[reports, name] :
         {std::pair{sent, QString("to3")}, std::pair{received, QString("alice (h2)")}}) {
        QVERIFY(reports.size() >= 4);
        QCOMPARE(reports.last().state, TransferProgress::State::Ended);
        qint64 done = 0;
        bool paced = false;
        for (const TransferProgress &p : reports.first(reports.size() - 1)) {
            QCOMPARE(p.state, TransferProgress::State::Moving);
            QCOMPARE(p.id, reports.first().id);
            QCOMPARE(p.name, name);
            QCOMPARE(p.item, QString("slow.bin"));
            QCOMPARE(p.total, size);
            QVERIFY(p.done >= done);
            done = p.done;
            paced = paced || (p.bytesPerSecond > 0 && p.secondsLeft() >= 0);
        }
        QVERIFY(done > 0 && done <= size);
        QVERIFY(paced);
        // At most one report a quarter of a second, besides the first and the end.
        QVERIFY2(reports.size() <= took / ProgressPace::kProgressIntervalMs + 3,
                 qPrintable(QString::number(reports.size())));
    }
    QCOMPARE(sent.first().id, job);

    // "ｷｬﾝｾﾙ" half way: a line on each side, nothing left behind.
    sent.clear();
    received.clear();
    writeFile(a.outbox() + "cancel.bin", randomBytes(size, 22));
    const int cancelled = a.queue("127.0.0.3", a.outbox(), "cancel.bin");
    QTRY_VERIFY_WITH_TIMEOUT(movedAtLeast(received, 1 << 20), 20000);
    a.engine.sender().CancelSendJob(cancelled);
    QCOMPARE(a.host.sent.size(), 2);
    QCOMPARE(a.host.sent[1].info, QString::fromUtf8("キャンセルしました。 ") + a.outbox() + "cancel.bin");
    QCOMPARE(sent.last().state, TransferProgress::State::Ended);
    QTRY_COMPARE(b.host.received.size(), 2);
    QCOMPARE(b.host.received[1].result, 1);
    QCOMPARE(b.host.received[1].info, QString::fromUtf8("送信側でキャンセルされました。 cancel.bin"));
    QTRY_COMPARE(received.last().state, TransferProgress::State::Ended);
    QTRY_COMPARE(b.recvTemp(), QStringList());
    QVERIFY(!QFile::exists(b.recvFile("cancel.bin")));

    // The sender quits half way through an unpacked send: the receiver lists the cut.
    writeFile(a.outbox() + "cut.bin", randomBytes(size, 23));
    a.queue("127.0.0.3", a.outbox(), "cut.bin");
    QTRY_VERIFY_WITH_TIMEOUT(movedAtLeast(received, 1 << 20), 20000);
    a.engine.sender().EndAllForQuit();
    QCOMPARE(a.host.sent.size(), 2); // a quit lists nothing
    QVERIFY(!a.engine.sender().anyJobInUse());
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), 0);
    QCOMPARE(b.recvTemp(), QStringList());
    QTRY_COMPARE(b.host.received.size(), 3);
    QCOMPARE(b.host.received[2].info,
             QString::fromUtf8("ファイル受信中にエラーが発生しました。転送中に切断されました。 cut.bin"));

    // A packed send shows its packing first; quitting stops it at the receiver ("captSP").
    sent.clear();
    writeFile(a.outbox() + "words.txt", wordText(24 << 20, 24));
    a.queue("127.0.0.3", a.outbox(), "words.txt", 'F', 2, true);
    QTRY_VERIFY_WITH_TIMEOUT(movedAtLeast(received, 256 << 10), 30000);
    QCOMPARE(sent.first().state, TransferProgress::State::Packing);
    QCOMPARE(sent.first().total, qint64(24 << 20));
    qint64 packed = 0;
    for (const TransferProgress &p : sent) {
        if (p.state != TransferProgress::State::Packing)
            break;
        QVERIFY(p.done >= packed && p.done <= p.total);
        packed = p.done;
    }
    QVERIFY(sent.last().state == TransferProgress::State::Moving);
    QVERIFY(sent.last().total < (24 << 20)); // the archive
    a.engine.sender().EndAllForQuit();
    QTRY_COMPARE(b.host.received.size(), 4);
    QCOMPARE(b.host.received[3].info, QString::fromUtf8("送信側でキャンセルされました。 words.txt"));
    QTRY_COMPARE(b.recvTemp(), QStringList());
    QCOMPARE(a.host.sent.size(), 2);
}

void TestTransfer::closeBeforeAllBytesIsAFailure()
{
    Peer a("127.0.0.2");
    QVERIFY(a.start());
    // A receiver that hangs up after the header.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.3"), TestPort::port()));
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *s = server.nextPendingConnection();
        connect(s, &QTcpSocket::readyRead, s, [s] {
            if (s->bytesAvailable() >= 256)
                s->close();
        });
    });
    writeFile(a.outbox() + "big.bin", randomBytes(64 * 1024 * 1024, 6));
    a.queue("127.0.0.3", a.outbox(), "big.bin");
    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 1, 20000);
    QCOMPARE(a.host.sent[0].result, 1);
    qInfo() << "reported:" << a.host.sent[0].info;

    // A file cut short while it streams ends its job as a failure, and the next job runs.
    Peer b("127.0.0.4");
    QVERIFY(b.start());
    a.engine.sender().setWriteHighWater(64 * 1024);
    writeFile(a.outbox() + "shrinks.bin", randomBytes(16 * 1024 * 1024, 13));
    writeFile(a.outbox() + "after.txt", "after");
    const int shrinking = a.queue("127.0.0.4", a.outbox(), "shrinks.bin");
    a.queue("127.0.0.4", a.outbox(), "after.txt");
    QTRY_COMPARE(a.engine.sender().job(shrinking).state, 3);
    QVERIFY(QFile::resize(a.outbox() + "shrinks.bin", 1000));
    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 3, 20000);
    QCOMPARE(a.host.sent[1].result, 1);
    QCOMPARE(a.host.sent[2].result, 0);
    QCOMPARE(readFile(b.recvFile("after.txt")), QByteArray("after"));
    QVERIFY(!a.engine.sender().anyJobInUse());
    QCOMPARE(a.engine.sender().job(shrinking).state, 0);
}

void TestTransfer::foldersMissingFilesAndNotices()
{
    Peer a("127.0.0.2"), b("127.0.0.3");
    QVERIFY(a.start());
    QVERIFY(b.start());
    QDir().mkpath(a.outbox() + "sub");
    writeFile(a.outbox() + "ok.txt", "fine");
    a.queue("127.0.0.3", a.outbox(), "sub");
    a.queue("127.0.0.3", a.outbox(), "gone.txt");
    a.queue("127.0.0.3", a.outbox(), "gone.txt", 'F', 1); // success only: the failure is quiet
    a.queue("127.0.0.3", a.outbox(), "ok.txt", 'F', 3);   // failure only: the success is quiet
    a.queue("127.0.0.3", a.outbox(), "ok.txt", 'F', 0);
    a.queue("127.0.0.3", a.outbox(), "ok.txt", 'F', 1);
    QTRY_COMPARE(b.host.received.size(), 3);
    QTRY_VERIFY(!a.engine.sender().anyJobInUse());
    QCOMPARE(a.host.sent.size(), 3);
    QCOMPARE(a.host.sent[0].info, QString::fromUtf8("フォルダは転送できません。 ") + a.outbox() + "sub");
    QCOMPARE(a.host.sent[1].info, QString::fromUtf8("ファイルが見つからない。 ") + a.outbox() + "gone.txt");
    QCOMPARE(a.host.sent[2].result, 0);

    // Nobody listening: the socket's own error, then the next job for that address.
    a.queue("127.0.0.9", a.outbox(), "ok.txt");
    a.queue("127.0.0.9", a.outbox(), "gone.txt");
    QTRY_COMPARE(a.host.sent.size(), 5);
    QCOMPARE(a.host.sent[3].result, 1);
    QVERIFY(a.host.sent[3].info.endsWith(" " + a.outbox() + "ok.txt"));
    QVERIFY(a.host.sent[3].info.size() > a.outbox().size() + 8);
    QCOMPARE(a.host.sent[4].result, 1);

    TransferSender &s = a.engine.sender();
    s.setSocketCounter(32700);
    QCOMPARE(s.NextSocketIndex(), 32701);
    QCOMPARE(s.NextSocketIndex(), 2);
}

// A receive folder on another file system than the work folder (tmpfs here): the file is
// copied there on a worker, the sender told once it is in place; a hang-up during the copy
// leaves either the whole file or none, never a part or a temporary copy.
void TestTransfer::aFileOntoAnotherFileSystemIsCopiedAside()
{
    QTemporaryDir shm(QStringLiteral("/dev/shm/zorvin-test-XXXXXX"));
    if (!shm.isValid())
        QSKIP("no /dev/shm");
    Peer a("127.0.0.2"), b("127.0.0.3");
    if (QStorageInfo(shm.path()).device() == QStorageInfo(b.ctx.RecvTempDir).device())
        QSKIP("/dev/shm is on the work folder's file system");
    b.ctx.settings.RecvFileSavePlace = shm.path();
    b.ctx.settings.FileRecvFolOP = 1;
    QVERIFY(a.start());
    QVERIFY(b.start());
    const QByteArray body = writeFile(a.outbox() + "aside.bin", randomBytes(24 << 20, 31));
    a.queue("127.0.0.3", a.outbox(), "aside.bin");
    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 1, 60000);
    QCOMPARE(a.host.sent[0].result, 0);
    QCOMPARE(b.host.received.size(), 1);
    QCOMPARE(b.host.received[0].result, 0);
    QCOMPARE(b.host.received[0].info, QStringLiteral("aside.bin"));
    QCOMPARE(b.host.folders, QStringList{shm.path() + u'/'});
    QCOMPARE(QDir(shm.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"aside.bin"});
    QVERIFY(readFile(b.recvFile("aside.bin")) == body);
    QCOMPARE(b.recvTemp(), QStringList());

    // Hung up as the body completes: the copy stops, or had ended.
    const QByteArray big = randomBytes(96 << 20, 32);
    auto s = rawClient("127.0.0.3");
    QVERIFY(s);
    s->write(
        rawHeader("0001", "0002", QByteArray::number(big.size()).rightJustified(12, '0'), "", "cut.bin") +
        big);
    QTRY_VERIFY_WITH_TIMEOUT(s->bytesToWrite() == 0, 30000);
    s->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(b.engine.receiver().slotsInUse(), 0, 30000);
    QTest::qWait(200);
    const QStringList left = QDir(shm.path()).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(left == QStringList({"aside.bin"}) || left == QStringList({"aside.bin", "cut.bin"}),
             qPrintable(left.join(u' ')));
    if (left.contains("cut.bin"))
        QVERIFY(readFile(b.recvFile("cut.bin")) == big);
    QCOMPARE(b.recvTemp(), QStringList());
}

void TestTransfer::packedTransfersArriveByteIdentical()
{
    Peer a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4");
    for (Peer *p : {&a, &b, &c}) {
        p->engine.CheckArchiver();
        QVERIFY(p->ctx.ArchiverReady);
        QVERIFY(p->start());
    }
    const QString japanese = QString::fromUtf8("画面のメモ.txt");
    // Text-like data so that packing has something to do, and long enough to take a while.
    QByteArray text;
    for (int i = 0; text.size() < 12 * 1024 * 1024; ++i)
        text += "line " + QByteArray::number(qint64(i) * 7919 % 100003) + " of the packed transfer test\n";
    writeFile(a.outbox() + "big.log", text);
    const QByteArray small = writeFile(a.outbox() + japanese, randomBytes(20000, 7));
    const QString picName = "CAPT" + a.ctx.LocalIpHex + "9.BMP";
    const QByteArray picture = writeFile(a.ctx.SendTempDir + picName, "BM" + randomBytes(3000, 8));

    // A second packed transfer to b that a raw client holds back by its last byte. Two
    // entries, so that it goes to the archiver (an archive of the item alone is unpacked as
    // it arrives).
    const QByteArray note = writeFile(a.outbox() + "note.txt", fillerText(3000));
    writeFile(a.outbox() + "also.txt", fillerText(2000));
    QCOMPARE(runArchiver(a.engine, a.tmp.path() + "/SMALL.LZH", a.outbox() + "note.txt", true), 0);
    QCOMPARE(runArchiver(a.engine, a.tmp.path() + "/ALSO.LZH", a.outbox() + "also.txt", true), 0);
    const QByteArray archive =
        readFile(a.tmp.path() + "/SMALL.LZH").chopped(1) + readFile(a.tmp.path() + "/ALSO.LZH");
    auto held = rawClient("127.0.0.3");
    QVERIFY(held);
    held->write(packedHeader(archive.size(), "SMALL.LZH", "note.txt") + archive.chopped(1));
    QTRY_COMPARE(b.recvTemp(), QStringList({"note.txt"}));

    // The archivers are held busy by commands of the test's own: a job queued while a's
    // archiver packs finds it busy; so does the held transfer, completed while b's packs.
    // Each goes on as soon as the holding command's finished arrives, not on a timer.
    writeFile(a.tmp.path() + "/hold.txt", fillerText(24 * 1024 * 1024));
    writeFile(b.tmp.path() + "/hold.txt", fillerText(24 * 1024 * 1024));
    // Connected after the sender's and receiver's own handlers: each looks once the engine
    // has reacted to the end of the holding command.
    ArchiverTicket holdA, holdB;
    int toC = -1;
    auto heldSlot = [&] {
        for (int i = 0; i < kRecvSlots; ++i)
            if (b.engine.receiver().slot(i).inUse &&
                b.engine.receiver().slot(i).header.archiveName == "SMALL.LZH")
                return i;
        return -1;
    };
    bool holdADone = false, holdBDone = false, packedAtOnce = false, unpackedAtOnce = false;
    connect(&a.engine.archiver(), &ArchiverQueue::finished, this, [&](int id, int result) {
        if (id != holdA.id)
            return;
        holdADone = result == 0;
        packedAtOnce = a.engine.sender().job(toC).archiverId != 0 && a.engine.archiver().isBusy();
    });
    connect(&b.engine.archiver(), &ArchiverQueue::finished, this, [&](int id, int result) {
        if (id != holdB.id)
            return;
        holdBDone = result == 0;
        unpackedAtOnce = heldSlot() >= 0 && b.engine.receiver().slot(heldSlot()).archiverId != 0;
    });

    holdA = a.engine.RunArchiver(a.tmp.path() + "/HOLD.LZH", a.tmp.path() + "/hold.txt", true);
    QVERIFY(holdA.started());
    toC = a.queue("127.0.0.4", a.outbox(), japanese, 'F', 2, true);
    // Connected, then refused by the busy archiver: the job waits in state 2.
    QTRY_VERIFY_WITH_TIMEOUT(a.engine.sender().job(toC).archiverBusy, 20000);
    QCOMPARE(a.engine.sender().job(toC).state, 2);
    QTRY_VERIFY_WITH_TIMEOUT(holdADone, 60000);
    QVERIFY(packedAtOnce);

    holdB = b.engine.RunArchiver(b.tmp.path() + "/HOLD.LZH", b.tmp.path() + "/hold.txt", true);
    QVERIFY(holdB.started());
    held->write(archive.right(1));
    QTRY_VERIFY_WITH_TIMEOUT(heldSlot() >= 0 && b.engine.receiver().slot(heldSlot()).archiverBusy, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(holdBDone, 60000);
    QVERIFY(unpackedAtOnce);
    QTRY_COMPARE_WITH_TIMEOUT(held->state(), QAbstractSocket::UnconnectedState, 20000);
    QCOMPARE(readFile(b.recvFile("note.txt")), note);
    QCOMPARE(a.engine.sender().job(toC).busyRetries, 0);
    a.queue("127.0.0.3", a.outbox(), "big.log", 'F', 2, true);
    a.queue("127.0.0.3", a.ctx.SendTempDir, picName, 'I', 2, true);

    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 3, 60000);
    for (const SendLine &l : a.host.sent)
        QCOMPARE(l.result, 0);
    QCOMPARE(readFile(b.recvFile("big.log")), text);
    QCOMPARE(readFile(c.recvFile(japanese)), small);
    QTRY_COMPARE(b.host.images.size(), 1);
    QCOMPARE(b.host.imageBytes[0], picture);
    QCOMPARE(b.host.images[0].displayKind, 0);
    // Archives are gone on both sides once their jobs are done.
    QCOMPARE(b.recvTemp(), QStringList());
    QCOMPARE(c.recvTemp(), QStringList());
    QCOMPARE(QDir(a.ctx.SendTempDir).entryList(QDir::Files), QStringList());
}

void TestTransfer::receiverWithoutArchiver()
{
    Peer a("127.0.0.2"), b("127.0.0.3");
    a.engine.CheckArchiver();
    QVERIFY(a.ctx.ArchiverReady);
    QVERIFY(a.start());
    QVERIFY(b.start()); // b has no archiver
    writeFile(a.outbox() + "one.txt", randomBytes(5000, 9));
    writeFile(a.outbox() + "two.txt", randomBytes(5000, 10));
    writeFile(a.outbox() + "three.zip", randomBytes(5000, 11));

    // A receiver of version 266 gets the item again, unpacked, and once only.
    a.know("127.0.0.3", "bob (h3)", "266");
    a.queue("127.0.0.3", a.outbox(), "one.txt", 'F', 2, true);
    a.queue("127.0.0.3", a.outbox(), "two.txt", 'F', 2, true);
    QTRY_COMPARE(a.host.sent.size(), 2);
    QCOMPARE(a.host.sent[0].result, 0);
    QCOMPARE(a.host.sent[1].result, 0);
    QCOMPARE(b.host.received.size(), 2);
    QCOMPARE(readFile(b.recvFile("one.txt")), readFile(a.outbox() + "one.txt"));

    // An older receiver: the refusal ends this job and every other job to it.
    a.know("127.0.0.3", "bob (h3)", "250");
    a.host.sent.clear();
    b.host.received.clear();
    a.queue("127.0.0.3", a.outbox(), "one.txt", 'F', 2, true);
    a.queue("127.0.0.3", a.outbox(), "two.txt", 'F', 2, true);
    QTRY_COMPARE(a.host.sent.size(), 2);
    const QString refusal = QString::fromUtf8("相手側に UNLHA32.DLL がインストールされてません。 ");
    QCOMPARE(a.host.sent[0].info, refusal + a.outbox() + "one.txt");
    QCOMPARE(a.host.sent[1].info, refusal + a.outbox() + "two.txt");
    QVERIFY(!a.engine.sender().anyJobInUse());
    QCOMPARE(b.recvTemp(), QStringList());

    // A zip goes unpacked even when packing is wanted, so the old receiver takes it.
    a.queue("127.0.0.3", a.outbox(), "three.zip", 'F', 2, true);
    QTRY_COMPARE(a.host.sent.size(), 3);
    QCOMPARE(a.host.sent[2].info, a.outbox() + "three.zip");
    QCOMPARE(a.host.sent[2].result, 0);
    QCOMPARE(readFile(b.recvFile("three.zip")), readFile(a.outbox() + "three.zip"));
}

void TestTransfer::singleEntryArchivesUnpackAsTheyArrive_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<qint64>("senderHighWater");
    // Data that does not pack (a photo, say) goes as one stored entry; text as -lh5-.
    QTest::newRow("photo, stored") << randomBytes(3 << 20, 41) << true << qint64(0);
    QTest::newRow("text, -lh5-") << wordText(3 << 20, 44) << false << qint64(0);
    // The unpack waits for bytes that come in small pieces now and then.
    QTest::newRow("text, -lh5-, throttled sender") << wordText(1 << 20, 45) << false << qint64(4096);
}

void TestTransfer::singleEntryArchivesUnpackAsTheyArrive()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, stored);
    QFETCH(qint64, senderHighWater);
    Peer a("127.0.0.2"), b("127.0.0.3");
    for (Peer *p : {&a, &b}) {
        p->engine.CheckArchiver();
        QVERIFY(p->start());
    }
    if (senderHighWater > 0)
        a.engine.sender().setWriteHighWater(senderHighWater);
    // The receiver's archiver never sees an archive of the item alone: the entry is
    // unpacked into place as the archive arrives.
    const QString name = QString::fromUtf8("写真 1.jpg");
    writeFile(a.outbox() + name, content);
    const QDateTime taken(QDate(2023, 5, 6), QTime(7, 8, 10), Qt::UTC);
    {
        QFile f(a.outbox() + name);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(taken, QFileDevice::FileModificationTime));
    }
    QSignalSpy unpacks(&b.engine.archiver(), &ArchiverQueue::finished);
    const int slot = a.queue("127.0.0.3", a.outbox(), name, 'F', 2, true);
    const QString archive = a.ctx.SendTempDir + a.engine.sender().job(slot).archiveName;
    qint64 archiveBytes = -1;
    connect(&a.engine.archiver(), &ArchiverQueue::finished, this,
            [&] { archiveBytes = QFileInfo(archive).size(); });
    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 1, 60000);
    QCOMPARE(a.host.sent[0].result, 0);
    QCOMPARE(readFile(b.recvFile(name)), content);
    QCOMPARE(QFileInfo(b.recvFile(name)).lastModified().toUTC(), taken);
    QCOMPARE(unpacks.size(), 0);
    // Nor is a stored entry copied into an archive on the sending side: the pack leaves
    // the entry's header alone, and the body is streamed from the file behind it.
    if (stored)
        QVERIFY2(archiveBytes > 0 && archiveBytes < 1000, qPrintable(QString::number(archiveBytes)));
    else
        QVERIFY2(archiveBytes > 1000 && archiveBytes < content.size() / 2,
                 qPrintable(QString::number(archiveBytes)));
    QCOMPARE(a.engine.sender().job(slot).inUse, false);
    QCOMPARE(b.engine.receiver().unpacksOnArrival(), 0);
    QCOMPARE(b.recvTemp(), QStringList());
    QCOMPARE(QDir(a.ctx.SendTempDir).entryList(QDir::Files), QStringList());
}

namespace {

// A receiver with the archiver, and a raw client that sends it `archive` as the packed
// transfer of `item`.
struct PackedArrival
{
    PackedArrival()
    {
        b.engine.CheckArchiver();
        started = b.start();
    }
    std::unique_ptr<QTcpSocket> send(const QByteArray &archive, const QByteArray &item,
                                     const QByteArray &archiveName = "CAPTRAW.LZH")
    {
        auto s = rawClient("127.0.0.3");
        if (s)
            s->write(packedHeader(archive.size(), archiveName, item) + archive);
        return s;
    }
    QStringList delivered() const { return QDir(b.ctx.settings.RecvFileSavePlace).entryList(QDir::Files); }

    Peer b{"127.0.0.3"};
    bool started = false;
};

} // namespace

void TestTransfer::packedArchiveArrivesAtAnyPace_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("largestPiece");
    // The unpack starts long before the end and reads across many small pieces.
    QTest::newRow("a few bytes at a time") << wordText(400 * 1024, 50) << 12;
    // Written at once, the archive comes faster than it unpacks: the receiver stops reading
    // while the unpack is behind and goes on when it caught up.
    QTest::newRow("all at once, more than the unpack takes in") << wordText(24 << 20, 51) << 0;
}

void TestTransfer::packedArchiveArrivesAtAnyPace()
{
    QFETCH(QByteArray, content);
    QFETCH(int, largestPiece);
    PackedArrival arrival;
    QVERIFY(arrival.started);
    QSignalSpy unpacks(&arrival.b.engine.archiver(), &ArchiverQueue::finished);
    const QByteArray archive = CraftedArchives::lh5Archive("paced.txt", content);
    QVERIFY2(archive.size() > 100 * 1024 && archive.size() < content.size() / 2,
             qPrintable(QString::number(archive.size())));
    const QByteArray all = packedHeader(archive.size(), "PACED.LZH", "paced.txt") + archive;
    auto s = rawClient("127.0.0.3");
    QVERIFY(s);
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QTimer drip;
    qsizetype at = 0;
    QRandomGenerator pieces(52);
    connect(&drip, &QTimer::timeout, s.get(), [&] {
        const qsizetype n = 1 + pieces.bounded(largestPiece);
        s->write(all.mid(at, n));
        s->flush();
        at += n;
        if (at >= all.size())
            drip.stop();
    });
    if (largestPiece > 0)
        drip.start(0);
    else
        s->write(all);
    QTRY_COMPARE_WITH_TIMEOUT(arrival.b.host.received.size(), 1, 120000);
    QCOMPARE(arrival.b.host.received[0].result, 0);
    QVERIFY(readFile(arrival.b.recvFile("paced.txt")) == content);
    QCOMPARE(QFileInfo(arrival.b.recvFile("paced.txt")).lastModified().toUTC(),
             QDateTime::fromSecsSinceEpoch(1735689600, Qt::UTC));
    QCOMPARE(unpacks.size(), 0);
    QTRY_COMPARE(s->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(arrival.b.recvTemp(), QStringList());
}

void TestTransfer::otherArchiversMethodsUnpackAsTheyArrive_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("method");
    QTest::newRow("-lh6-") << "ao6" << QByteArray("-lh6-");
    QTest::newRow("-lh7-") << "ao7" << QByteArray("-lh7-");
    QTest::newRow("-lh5-, level-1 header") << "a1o5" << QByteArray("-lh5-");
}

void TestTransfer::otherArchiversMethodsUnpackAsTheyArrive()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, method);
    PackedArrival arrival;
    QVERIFY(arrival.started);
    QSignalSpy unpacks(&arrival.b.engine.archiver(), &ArchiverQueue::finished);
    // An archive of the item alone as another LHA program writes it.
    const QString folder = arrival.b.tmp.path() + "/theirs";
    QVERIFY(QDir().mkpath(folder));
    const QByteArray content = writeFile(folder + "/theirs.txt", wordText(400 * 1024, 53));
    const QDateTime written(QDate(2022, 11, 12), QTime(13, 14, 16), Qt::UTC);
    {
        QFile f(folder + "/theirs.txt");
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(written, QFileDevice::FileModificationTime));
    }
    QProcess lha;
    lha.setWorkingDirectory(folder);
    lha.start("lha", {command, "THEIRS.LZH", "theirs.txt"});
    QVERIFY(lha.waitForFinished(60000));
    QCOMPARE(lha.exitCode(), 0);
    const QByteArray archive = readFile(folder + "/THEIRS.LZH");
    QCOMPARE(archive.mid(2, 5), method);
    QVERIFY(archive.size() > 100 * 1024);

    auto s = arrival.send(archive, "theirs.txt", "THEIRS.LZH");
    QVERIFY(s);
    QTRY_COMPARE_WITH_TIMEOUT(arrival.b.host.received.size(), 1, 30000);
    QCOMPARE(arrival.b.host.received[0].result, 0);
    QVERIFY(readFile(arrival.b.recvFile("theirs.txt")) == content);
    QCOMPARE(QFileInfo(arrival.b.recvFile("theirs.txt")).lastModified().toUTC(), written);
    QCOMPARE(unpacks.size(), 0);
    QCOMPARE(arrival.b.recvTemp(), QStringList());
}

void TestTransfer::aWriteFailureDuringTheUnpackIsASaveError()
{
    PackedArrival arrival;
    QVERIFY(arrival.started);
    const QByteArray archive = CraftedArchives::lh5Archive("big.txt", wordText(2 << 20, 54));
    // Files of this process may not grow beyond 1 MiB for a while: the unpack's writes fail
    // half way, as on a full disk.
    rlimit normal{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &normal), 0);
    rlimit low = normal;
    low.rlim_cur = 1 << 20;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &low), 0);
    auto s = arrival.send(archive, "big.txt", "BIG.LZH");
    QVERIFY(s);
    const QByteArray reply = readReply(*s);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &normal), 0);
    std::signal(SIGXFSZ, previous);
    QCOMPARE(reply, kSaveErrorReply);
    QTRY_COMPARE(arrival.b.host.received.size(), 1);
    QCOMPARE(arrival.b.host.received[0].info,
             QString::fromUtf8("ファイル受信中にエラーが発生しました。ファイルを保存できません。"));
    QCOMPARE(arrival.b.recvTemp(), QStringList());
    QCOMPARE(arrival.delivered(), QStringList());
}

void TestTransfer::aFullReceiveFolderKeepsNoPartOfAFile()
{
    SmallFileSystem small(10 << 20);
    if (!small.mounted())
        QSKIP(qPrintable(small.why()));
    Peer a("127.0.0.2"), b("127.0.0.3");
    b.ctx.settings.RecvFileSavePlace = small.path();
    b.engine.CheckArchiver();
    a.engine.CheckArchiver();
    QVERIFY(a.start());
    QVERIFY(b.start());
    a.know("127.0.0.3", "bob (h3)", "266");
    const QString saveError =
        QString::fromUtf8("ファイル受信中にエラーが発生しました。ファイルを保存できません。");

    // More than the folder holds: refused before a byte, nothing left.
    writeFile(a.outbox() + "big50.bin", randomBytes(50 << 20, 60));
    a.queue("127.0.0.3", a.outbox(), "big50.bin");
    QTRY_COMPARE(a.host.sent.size(), 1);
    QVERIFY(a.host.sent[0].result != 0);
    QCOMPARE(small.names(), QStringList());

    // It fits when it starts, then the disk fills under it: the write fails half way, plain
    // and as a stored entry unpacked on arrival, and the part written goes.
    const QByteArray six = randomBytes(6 << 20, 61);
    const QByteArray stored = CraftedArchives::level0Entry("st.bin", six) + '\0';
    for (const QByteArray &start :
         {rawHeader("0001", "0002", "000006291456", "", "plain.bin") + six.left(1 << 20),
          packedHeader(stored.size(), "ST.LZH", "st.bin") + stored.left(1 << 20)}) {
        auto s = rawClient("127.0.0.3");
        QVERIFY(s);
        s->write(start);
        QTRY_COMPARE(b.recvTemp().size(), 1);
        writeFile(small.path() + "/other.bin", randomBytes(6 << 20, 62).left(5 << 20));
        s->write((start.contains("ST.LZH") ? stored : six).mid(1 << 20));
        QCOMPARE(readReply(*s), kSaveErrorReply);
        QTRY_COMPARE(b.host.received.last().info, saveError);
        QTRY_COMPARE(small.names(), QStringList({"other.bin"}));
        QVERIFY(QFile::remove(small.path() + "/other.bin"));
    }

    // The next small files arrive whole, packed and not, and nothing else is there.
    const QByteArray text = writeFile(a.outbox() + "small.txt", wordText(300000, 63));
    const QByteArray bin = writeFile(a.outbox() + "small.bin", randomBytes(300000, 64));
    a.queue("127.0.0.3", a.outbox(), "small.txt", 'F', 2, true);
    a.queue("127.0.0.3", a.outbox(), "small.bin");
    QTRY_COMPARE(a.host.sent.size(), 3);
    QCOMPARE(a.host.sent[1].result, 0);
    QCOMPARE(a.host.sent[2].result, 0);
    QCOMPARE(readFile(b.recvFile("small.txt")), text);
    QCOMPARE(readFile(b.recvFile("small.bin")), bin);
    QCOMPARE(small.names(), QStringList({"small.bin", "small.txt"}));
    QCOMPARE(b.engine.receiver().reservations().count(), 0);
}

void TestTransfer::arrivalsAtOnceAreMeasuredTogetherAgainstTheFreeSpace()
{
    // 160 MiB, of which the unpack margin keeps 10 MiB: one archive declaring 60 MiB fits,
    // two at once fit, a third at the same time does not, though each alone would.
    SmallFileSystem small(160 << 20);
    if (!small.mounted())
        QSKIP(qPrintable(small.why()));
    Peer b("127.0.0.3");
    b.ctx.settings.RecvFileSavePlace = small.path();
    b.engine.CheckArchiver();
    QVERIFY(b.start());
    // Real -lh5- data that declares far more than it holds: the unpack runs on the part
    // sent and waits for the rest, which never comes.
    const QByteArray packed = CraftedArchives::lh5Packed(wordText(1 << 20, 65));
    const auto bomb = [&](const QByteArray &item) {
        return CraftedArchives::level0Entry(item, packed, "-lh5-", 60u << 20) + '\0';
    };
    std::vector<std::unique_ptr<QTcpSocket>> running;
    for (const QByteArray item : {"b1.txt", "b2.txt"}) {
        const QByteArray archive = bomb(item);
        running.push_back(rawClient("127.0.0.3", "127.0.0." + QByteArray::number(20 + int(running.size()))));
        QVERIFY(running.back());
        running.back()->write(packedHeader(archive.size(), "B.LZH", item) + archive.left(200000));
        QTRY_COMPARE(b.engine.receiver().unpacksOnArrival(), int(running.size()));
    }
    const QByteArray third = bomb("b3.txt");
    auto refused = rawClient("127.0.0.3", "127.0.0.30");
    QVERIFY(refused);
    refused->write(packedHeader(third.size(), "B.LZH", "b3.txt") + third.left(200000));
    QCOMPARE(readReply(*refused), kSaveErrorReply);
    // A plain file counts as well: what is left besides the two fits, a little more does not.
    auto fits = rawClient("127.0.0.3", "127.0.0.31");
    auto tooBig = rawClient("127.0.0.3", "127.0.0.32");
    QVERIFY(fits && tooBig);
    fits->write(rawHeader("0001", "0002", QByteArray::number(30 << 20).rightJustified(12, '0'), "", "p.bin") +
                "x");
    QTRY_COMPARE(b.recvTemp().size(), 3);
    tooBig->write(
        rawHeader("0001", "0002", QByteArray::number(20 << 20).rightJustified(12, '0'), "", "q.bin"));
    QCOMPARE(readReply(*tooBig), kSaveErrorReply);
    QCOMPARE(b.recvTemp(), QStringList({"b1.txt", "b2.txt", "p.bin"}));

    // One ends: what it held is free again, and the third is taken.
    running[0].reset();
    QTRY_COMPARE(b.engine.receiver().unpacksOnArrival(), 1);
    auto later = rawClient("127.0.0.3", "127.0.0.33");
    QVERIFY(later);
    later->write(packedHeader(third.size(), "B.LZH", "b3.txt") + third.left(200000));
    QTRY_COMPARE(b.engine.receiver().unpacksOnArrival(), 2);
    running.clear();
    fits.reset();
    later.reset();
    refused.reset();
    tooBig.reset();
    QTRY_COMPARE(b.engine.receiver().slotsInUse(), 0);
    QTRY_COMPARE(small.names(), QStringList());
    QCOMPARE(b.engine.receiver().reservations().count(), 0);
}

void TestTransfer::hostileArchivesAreRefusedAndLeaveNothing_data()
{
    using namespace CraftedArchives;
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("line");
    const auto unlha = [](int code) { return QString("UNLHA32 ERR C=%1").arg(code); };
    // A few bytes that decode to 33 MB.
    const QByteArray blocks = lh5RepeatBlocks(2);
    const QByteArray huge = level2Entry("huge.bin", blocks, "-lh5-", 100'000'000'000'000ull, 0);
    const QString saveError = QString::fromUtf8("ファイルを保存できません。");
    // Refused before the unpack writes a byte, whether on arrival or by the archiver.
    QTest::newRow("declares more than the disk holds") << huge + '\0' << kSaveErrorReply << saveError;
    QTest::newRow("two entries, declare more than the disk holds")
        << huge + level0Entry("other.txt", "x") + '\0' << kSaveErrorReply << saveError;
    // The unpack stops at the declared size; what it made does not match the CRC.
    QTest::newRow("expands past its declaration")
        << level2Entry("huge.bin", blocks, "-lh5-", 1000, crcOf(QByteArray(1000, ' ')) ^ 1) + '\0'
        << kUnlhaErrorReply << unlha(lzh::ErrCrcMismatch);
    // An archive of the item alone is unpacked while it arrives; it ends as the archiver's
    // unpack of it would, with the same error number, and leaves no file either.
    const QByteArray text = wordText(400 * 1024, 46);
    const QByteArray packed = lh5Packed(text);
    QTest::newRow("-lh5-, wrong CRC")
        << level2Entry("huge.bin", packed, "-lh5-", text.size(), crcOf(text) ^ 1) + '\0' << kUnlhaErrorReply
        << unlha(lzh::ErrCrcMismatch);
    QTest::newRow("-lh5-, no end mark")
        << level2Entry("huge.bin", packed, "-lh5-", text.size(), crcOf(text)) + 'x' << kUnlhaErrorReply
        << unlha(lzh::ErrHeaderTruncated);
    // A position table that names a symbol beyond the table.
    QByteArray badTable = lh5RepeatBlocks(1);
    badTable[2] = char(0x07);
    badTable[3] = char(0xC0);
    QTest::newRow("-lh5-, bad code table") << level2Entry("huge.bin", badTable, "-lh5-", 1000, 0) + '\0'
                                           << kUnlhaErrorReply << unlha(lzh::ErrDataCorrupt);
    // Bytes overwritten half way: found bad while the rest still arrives.
    QByteArray damaged = lh5Archive("huge.bin", text);
    damaged.replace(damaged.size() / 2, 4000, QByteArray(4000, char(0xA5)));
    const int damage = firstEntryResult(damaged);
    QVERIFY(damage != lzh::Ok);
    QTest::newRow("-lh5-, damaged half way") << damaged << kUnlhaErrorReply << unlha(damage);
    // One stored entry is unpacked while it arrives; its CRC is checked at the end.
    const QByteArray data = randomBytes(300000, 40);
    QTest::newRow("stored, wrong CRC")
        << level2Entry("huge.bin", data, "-lh0-", data.size(), crcOf(data) ^ 1) + '\0' << kUnlhaErrorReply
        << QString("UNLHA32 ERR C=%1").arg(int(lzh::ErrCrcMismatch));
    QTest::newRow("stored, no end mark")
        << level2Entry("huge.bin", data, "-lh0-", data.size(), crcOf(data)) + 'x' << kUnlhaErrorReply
        << QString("UNLHA32 ERR C=%1").arg(int(lzh::ErrHeaderTruncated));
}

void TestTransfer::hostileArchivesAreRefusedAndLeaveNothing()
{
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, reply);
    QFETCH(QString, line);
    PackedArrival arrival;
    QVERIFY(arrival.started);
    auto s = arrival.send(archive, "huge.bin");
    QVERIFY(s);
    QCOMPARE(readReply(*s), reply);
    QTRY_COMPARE(arrival.b.host.received.size(), 1);
    QCOMPARE(arrival.b.host.received[0].result, 1);
    QCOMPARE(arrival.b.host.received[0].info,
             QString::fromUtf8("ファイル受信中にエラーが発生しました。") + line);
    QCOMPARE(arrival.b.recvTemp(), QStringList());
    QCOMPARE(arrival.delivered(), QStringList());
}

void TestTransfer::onlyTheHeadersItemIsUnpacked()
{
    using CraftedArchives::level0Entry;
    PackedArrival arrival;
    QVERIFY(arrival.started);
    QByteArray archive;
    for (int i = 0; i < 300; ++i)
        archive += level0Entry("extra" + QByteArray::number(i), QByteArray());
    archive += level0Entry("sub\\note.txt", "the note");
    archive += level0Entry("other.txt", "not this");
    archive += '\0';
    QSignalSpy unpacks(&arrival.b.engine.archiver(), &ArchiverQueue::finished);
    auto s = arrival.send(archive, "note.txt");
    QVERIFY(s);
    QTRY_COMPARE(arrival.b.host.received.size(), 1);
    QCOMPARE(arrival.b.host.received[0].result, 0);
    // Many entries: the archiver picks the item out once the archive is complete.
    QCOMPARE(unpacks.size(), 1);
    QCOMPARE(arrival.delivered(), QStringList({"note.txt"}));
    QCOMPARE(readFile(arrival.b.recvFile("note.txt")), QByteArray("the note"));
    QCOMPARE(arrival.b.recvTemp(), QStringList());
}

// The archiver works on its own thread while the connection it packs or unpacks for
// ends: its finished must find the transfer gone, delete the files nobody takes and
// touch no freed slot. An unpack nobody will take is stopped, also by an engine that goes.
enum class End { HangUp, Stop, Cancel, Goodbye, Quit };

void TestTransfer::receiverSurvivesAnEndWhileItUnpacks_data()
{
    QTest::addColumn<End>("end");
    QTest::addColumn<bool>("onArrival");
    for (bool onArrival : {false, true}) {
        const char *path = onArrival ? "on arrival, " : "archiver, ";
        QTest::addRow("%ssender hangs up", path) << End::HangUp << onArrival;
        QTest::addRow("%sstop request", path) << End::Stop << onArrival;
        QTest::addRow("%squit", path) << End::Quit << onArrival;
    }
}

void TestTransfer::receiverSurvivesAnEndWhileItUnpacks()
{
    QFETCH(End, end);
    QFETCH(bool, onArrival);
    // A few hundred bytes that unpack to 335 MB, a long unpack: on arrival when the item is
    // alone in the archive, by the archiver when another entry follows it.
    QByteArray archive = CraftedArchives::repeatArchive("big.txt", 20);
    if (!onArrival)
        archive = archive.chopped(1) + CraftedArchives::level0Entry("other.txt", "x") + '\0';
    auto b = std::make_unique<Peer>("127.0.0.3");
    b->engine.CheckArchiver();
    QVERIFY(b->start());
    // The folders outlive the engine, to be looked at after it went.
    b->tmp.setAutoRemove(false);
    const QString root = b->tmp.path();
    const QString recvTemp = b->ctx.RecvTempDir;
    const QString received = b->ctx.settings.RecvFileSavePlace;

    auto s = rawClient("127.0.0.3");
    QVERIFY(s);
    QSignalSpy closed(s.get(), &QTcpSocket::disconnected);
    bool acted = false;
    const auto unpacking = [&] {
        return onArrival ? b->engine.receiver().unpacksOnArrival() > 0 : b->engine.archiver().isBusy();
    };
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (acted || !unpacking())
            return;
        acted = true;
        if (end == End::HangUp)
            s->abort();
        else if (end == End::Stop)
            b->engine.HandleDatagram("127.0.0.2", "captSP" + QByteArray("BIG.LZH").leftJustified(22, ' '));
        else
            b.reset();
    });
    watch.start(1);
    s->write(packedHeader(archive.size(), "BIG.LZH", "big.txt") + archive);
    QTRY_VERIFY_WITH_TIMEOUT(acted, 20000);
    watch.stop();
    // The receiver closes its end, also when it goes down.
    if (end != End::HangUp)
        QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 20000);
    if (end != End::Quit) {
        QTRY_COMPARE(b->engine.receiver().slotsInUse(), 0);
        QTRY_COMPARE(b->engine.receiver().openConnections(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!unpacking(), 20000);
        // The sender's stop is listed as its cancel; a hang-up after the whole body is a failure.
        if (end == End::Stop) {
            QCOMPARE(b->host.received.size(), 1);
            QCOMPARE(b->host.received[0].result, 1);
            QCOMPARE(b->host.received[0].info, QString::fromUtf8("送信側でキャンセルされました。 big.txt"));
        } else {
            QCOMPARE(b->host.received.size(), 1);
            QCOMPARE(b->host.received[0].result, 1);
            QCOMPARE(b->host.received[0].info,
                     QString::fromUtf8("ファイル受信中にエラーが発生しました。転送中に切断されました。"));
        }
    }
    // Once the unpack has ended, neither the archive nor what it unpacked is left.
    QCOMPARE(QDir(recvTemp).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(received).entryList(QDir::Files), QStringList());
    b.reset();
    QVERIFY(QDir(root).removeRecursively());
}

void TestTransfer::senderSurvivesAnEndWhileItPacks_data()
{
    QTest::addColumn<End>("end");
    QTest::newRow("receiver hangs up") << End::HangUp;
    QTest::newRow("cancel") << End::Cancel;
    QTest::newRow("goodbye") << End::Goodbye;
    QTest::newRow("quit") << End::Quit;
}

void TestTransfer::senderSurvivesAnEndWhileItPacks()
{
    QFETCH(End, end);
    auto a = std::make_unique<Peer>("127.0.0.2");
    a->engine.CheckArchiver();
    QVERIFY(a->start());
    // A receiver that takes connections and reads nothing (or hangs up at once), and a
    // datagram probe beside it.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.3"), TestPort::port()));
    QList<QTcpSocket *> conns;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        conns.append(server.nextPendingConnection());
        if (end == End::HangUp)
            conns.last()->close();
    });
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress("127.0.0.3"), TestPort::port()));
    writeFile(a->outbox() + "big.txt", fillerText(16 * 1024 * 1024));
    const QString item = a->outbox() + "big.txt";

    bool packingAtReport = false;
    connect(&a->engine.events(), &EngineEvents::sendResultAdded, this,
            [&] { packingAtReport = a->engine.archiver().isBusy(); });
    QSignalSpy packed(&a->engine.archiver(), &ArchiverQueue::finished);
    const int job = a->queue("127.0.0.3", a->outbox(), "big.txt", 'F', 2, true);
    const QString archive = a->engine.sender().job(job).archiveName;
    bool acted = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (acted || end == End::HangUp || !a->engine.archiver().isBusy())
            return;
        acted = true;
        QCOMPARE(a->engine.sender().job(job).state, 2);
        if (end == End::Cancel)
            a->engine.sender().CancelSendJob(job);
        else if (end == End::Goodbye)
            a->engine.HandleDatagram("127.0.0.3", "captGB");
        else
            a.reset();
    });
    watch.start(1);
    if (end == End::HangUp)
        QTRY_COMPARE_WITH_TIMEOUT(a->host.sent.size(), 1, 20000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(acted, 20000);
    watch.stop();
    qDeleteAll(conns);
    if (end == End::Quit)
        return;

    QVERIFY(!a->engine.sender().anyJobInUse());
    if (end == End::Cancel) {
        QCOMPARE(a->host.sent.size(), 1);
        QCOMPARE(a->host.sent[0].info, QString::fromUtf8("キャンセルしました。 ") + item);
        QTRY_VERIFY(probe.hasPendingDatagrams());
        QCOMPARE(probe.receiveDatagram().data(), "captSP" + archive.toLatin1().leftJustified(22, ' '));
    } else {
        QCOMPARE(a->host.sent.size(), 1);
        QVERIFY(packingAtReport);
        QCOMPARE(a->host.sent[0].result, 1);
        QCOMPARE(a->host.sent[0].info, end == End::HangUp
                                           ? QString::fromUtf8("転送中に切断されました。") + item
                                           : QString::fromUtf8("相手側「ぞるびん」が終了しました。 ") + item);
    }
    // The archive nobody sends any more stops being packed and is deleted; the item itself
    // stays.
    QTRY_VERIFY_WITH_TIMEOUT(!a->engine.archiver().isBusy(), 20000);
    QCOMPARE(packed.size(), 1);
    if (end != End::HangUp)
        QCOMPARE(packed[0].at(1).toInt(), int(lzh::ErrCancelled));
    QCOMPARE(QDir(a->ctx.SendTempDir).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(QFileInfo::exists(item));
}


// Two keyed copies with each other's keys pinned; the sender reaches the receiver through a
// relay that keeps what crossed the wire.
struct SealedPair
{
    SealedPair() : relay("127.0.0.5", "127.0.0.3", "127.0.0.2") {}
    bool start()
    {
        if (!relay.isListening() || !a.start() || !b.start() || !a.keyed() || !b.keyed())
            return false;
        return a.pin(b, "127.0.0.5") == PeerKeys::Trust::Pinned && b.pin(a, "127.0.0.2") == PeerKeys::Trust::Pinned;
    }
    Peer a{"127.0.0.2"}, b{"127.0.0.3"};
    TcpRelay relay;
};

void TestTransfer::sealedTransfersArriveWholeAndShowNothingOnTheWire()
{
    SealedPair p;
    for (Peer *peer : {&p.a, &p.b}) {
        peer->engine.CheckArchiver();
        QVERIFY(peer->ctx.ArchiverReady);
    }
    QVERIFY(p.start());
    const QString secretName = QString::fromUtf8("極秘の計画.txt");
    const QByteArray big = writeFile(p.a.outbox() + "plain.bin", randomBytes(3 * 1024 * 1024 + 17, 11));
    const QByteArray text = writeFile(p.a.outbox() + secretName, fillerText(400 * 1024));
    writeFile(p.a.outbox() + "empty.dat", QByteArray());
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "plain.bin") >= 0);
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), secretName, 'F', 2, true) >= 0);
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "empty.dat") >= 0);

    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 3, 30000);
    for (const SendLine &l : p.a.host.sent)
        QCOMPARE(l.result, 0);
    QCOMPARE(readFile(p.b.recvFile("plain.bin")), big);
    QTRY_COMPARE(readFile(p.b.recvFile(secretName)), text);
    QCOMPARE(QFileInfo(p.b.recvFile("empty.dat")).size(), 0);
    QCOMPARE(p.relay.connections, 3);

    // Each connection opens with the sealed offer, and nothing of a header, a name or a
    // body crosses in the clear. Every pattern is long enough (five bytes or more) that
    // megabytes of ciphertext cannot hold it by chance.
    QVERIFY(p.relay.forward.startsWith(TransferHandshake::magic().toByteArray()));
    QVERIFY(p.relay.forward.size() > big.size());
    const QByteArray wire = p.relay.forward + p.relay.backward;
    for (const QByteArray &clear :
         {QByteArray("00010002"), QByteArray("plain.bin"), QByteArray("empty.dat"), AnsiCodec::encode(secretName),
          AnsiCodec::encode(p.a.ctx.LocalHostName + QString(20 - p.a.ctx.LocalHostName.size(), ' ')),
          big.mid(1000, 32), big.right(32), text.mid(5000, 32), "CAPT" + p.a.ctx.LocalIpHex.toLatin1(),
          QByteArray("-lh5-")})
        QVERIFY2(!wire.contains(clear), clear.constData());
}

void TestTransfer::aBrokenRecordLeavesNoFileAndALine()
{
    SealedPair p;
    QVERIFY(p.start());
    writeFile(p.a.outbox() + "cut.bin", randomBytes(2 * 1024 * 1024, 12));
    // Inside a record of the body, well after the handshake and the header.
    p.relay.flipForwardByteAt(TransferHandshake::kOfferBytes + 300 * 1024);
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "cut.bin") >= 0);

    // The receiver's own direction is still whole: it says why, sealed, however fast the
    // sender had handed over every byte.
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 1, 20000);
    QVERIFY(p.a.host.sent[0].result != 0);
    QVERIFY2(p.a.host.sent[0].info.startsWith(ReceiveReports::errorReplyText(2)), qPrintable(p.a.host.sent[0].info));
    QVERIFY(!p.relay.backward.contains("9999"));
    // The body was under way when the altered record arrived.
    QVERIFY(p.relay.forward.size() > 300 * 1024);
    QTRY_COMPARE(p.b.host.received.size(), 1);
    QCOMPARE(p.b.host.received[0].result, 1);
    QVERIFY2(p.b.host.received[0].info.contains(QString::fromUtf8("受信中にエラーが発生しました。")),
             qPrintable(p.b.host.received[0].info));
    QTRY_VERIFY(p.b.recvTemp().isEmpty());
    QVERIFY(!QFileInfo::exists(p.b.recvFile("cut.bin")));
    QTRY_COMPARE(p.b.engine.receiver().openConnections(), 0);
    QCOMPARE(p.b.engine.receiver().slotsInUse(), 0);

    // An offer that does not verify (altered on its way) is refused before anything is read.
    TcpRelay altered("127.0.0.6", "127.0.0.3", "127.0.0.2");
    QVERIFY(altered.isListening());
    QVERIFY(p.a.pin(p.b, "127.0.0.6") == PeerKeys::Trust::Pinned);
    altered.flipForwardByteAt(TransferHandshake::kOfferBytes - 1);
    writeFile(p.a.outbox() + "small.txt", "a note");
    QVERIFY(p.a.queue("127.0.0.6", p.a.outbox(), "small.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 2, 20000);
    QVERIFY(p.a.host.sent[1].result != 0);
    QVERIFY(altered.backward.isEmpty());
    QVERIFY(!QFileInfo::exists(p.b.recvFile("small.txt")));
}

void TestTransfer::aPlainSenderReachesAKeyedReceiverByteForByte()
{
    // a has no key pair (a 2.66 copy as far as the wire goes); b has one and knows a's
    // address only as a peer that never announced a key.
    Peer a("127.0.0.2"), b("127.0.0.3");
    TcpRelay relay("127.0.0.5", "127.0.0.3", "127.0.0.2");
    QVERIFY(relay.isListening());
    QVERIFY(a.start());
    QVERIFY(b.start());
    QVERIFY(b.keyed());
    const QByteArray body = writeFile(a.outbox() + "open.bin", randomBytes(700 * 1024, 13));
    QVERIFY(a.queue("127.0.0.5", a.outbox(), "open.bin") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(a.host.sent.size(), 1, 20000);
    QCOMPARE(a.host.sent[0].result, 0);
    QCOMPARE(readFile(b.recvFile("open.bin")), body);

    TransferHeader h;
    h.dataKind = "0002";
    h.size = body.size();
    h.itemName = "open.bin";
    h.kind = 'F';
    h.hostName = a.ctx.LocalHostName;
    QCOMPARE(relay.forward, AnsiCodec::encode(h.build()) + body);
    QVERIFY(relay.backward.isEmpty());
}

void TestTransfer::sealedOnlyRefusesAPlainTransferBeforeConnecting()
{
    // Behind a second relay b is a peer that never announced a key, as a 2.66 copy.
    SealedPair p;
    QVERIFY(p.start());
    TcpRelay plain("127.0.0.6", "127.0.0.3", "127.0.0.2");
    QVERIFY(plain.isListening());
    const QByteArray body = writeFile(p.a.outbox() + "plan.txt", fillerText(3000));
    p.a.ctx.settings.SndSealedOnly = 1;

    // Refused before a connection is even made, and said so although the user asked to
    // hear of nothing: the file would otherwise seem sent. A picture likewise.
    QVERIFY(p.a.queue("127.0.0.6", p.a.outbox(), "plan.txt", 'F', 0) >= 0);
    QVERIFY(p.a.queue("127.0.0.6", p.a.outbox(), "plan.txt", 'I', 1) >= 0);
    QCOMPARE(p.a.host.sent.size(), 2);
    for (const SendLine &l : std::as_const(p.a.host.sent)) {
        QVERIFY(l.result != 0);
        QVERIFY2(l.info.startsWith(TransferSealing::unsealedText()), qPrintable(l.info));
    }
    QVERIFY(p.a.host.sent[0].info.endsWith("plan.txt"));
    QCOMPARE(p.a.engine.sender().jobsInUse(), 0);
    // The sealed peer still gets it.
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "plan.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 3, 20000);
    QCOMPARE(p.a.host.sent[2].result, 0);
    QCOMPARE(readFile(p.b.recvFile("plan.txt")), body);
    QCOMPARE(plain.connections, 0);

    // Off (the default): the plain 2.66 transfer, byte for byte.
    p.a.ctx.settings.SndSealedOnly = 0;
    QVERIFY(QFile::remove(p.b.recvFile("plan.txt")));
    QVERIFY(p.a.queue("127.0.0.6", p.a.outbox(), "plan.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 4, 20000);
    QCOMPARE(p.a.host.sent[3].result, 0);
    QCOMPARE(readFile(p.b.recvFile("plan.txt")), body);
    TransferHeader h;
    h.dataKind = "0002";
    h.size = body.size();
    h.itemName = "plan.txt";
    h.kind = 'F';
    h.hostName = p.a.ctx.LocalHostName;
    QCOMPARE(plain.connections, 1);
    QCOMPARE(plain.forward, AnsiCodec::encode(h.build()) + body);
}

void TestTransfer::aChangedKeyGetsNothingUntilAccepted()
{
    SealedPair p;
    QVERIFY(p.start());
    const QByteArray body = writeFile(p.a.outbox() + "later.txt", fillerText(5000));

    // b shows another key at the relay's address: the pinned one stays, and the send is
    // refused rather than sealed to the new key or sent in the clear.
    QCOMPARE(p.a.engine.peerKeys().offer(p.b.ctx.LocalHostName, "127.0.0.5", randomBytes(32, 14)),
             PeerKeys::Trust::Changed);
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "later.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 1, 20000);
    QVERIFY(p.a.host.sent[0].result != 0);
    QVERIFY(p.a.host.sent[0].info.startsWith(TransferSealing::changedKeyText()));
    QVERIFY(p.relay.forward.isEmpty());

    // Accepted, the new key is the one sealed to: b cannot show it, so the handshake fails
    // and nothing arrives.
    QVERIFY(p.a.engine.peerKeys().accept("127.0.0.5"));
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "later.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 2, 20000);
    QVERIFY(p.a.host.sent[1].result != 0);
    QVERIFY(!QFileInfo::exists(p.b.recvFile("later.txt")));

    // b's real key again, accepted: the send goes sealed and arrives.
    QCOMPARE(p.a.pin(p.b, "127.0.0.5"), PeerKeys::Trust::Changed);
    QVERIFY(p.a.engine.peerKeys().accept("127.0.0.5"));
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "later.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 3, 20000);
    QCOMPARE(p.a.host.sent[2].result, 0);
    QCOMPARE(readFile(p.b.recvFile("later.txt")), body);

    // On the receiving side, a sender whose key changed and is not accepted is refused too.
    QCOMPARE(p.b.engine.peerKeys().offer(p.a.ctx.LocalHostName, "127.0.0.2", randomBytes(32, 15)),
             PeerKeys::Trust::Changed);
    writeFile(p.a.outbox() + "refused.txt", "x");
    QVERIFY(p.a.queue("127.0.0.5", p.a.outbox(), "refused.txt") >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(p.a.host.sent.size(), 4, 20000);
    QVERIFY(p.a.host.sent[3].result != 0);
    QVERIFY(!QFileInfo::exists(p.b.recvFile("refused.txt")));
}

void TestTransfer::sealedRecordsRefuseReorderReplayCutsAndTrailingBytes()
{
    ConnectionKeys::SessionKeys keys;
    keys.transmit.fill(3);
    keys.receive.fill(3);
    SealedWriter writer(keys);
    const QByteArray r1 = writer.seal("first"), r2 = writer.seal("second"), last = writer.seal("last", true);
    QVERIFY(writer.seal("after the end").isEmpty());

    // Read back as sent, whatever the pieces: every record, then the end.
    auto readAll = [&](const QByteArray &wire, qsizetype piece, QList<QByteArray> *got) {
        SealedReader reader(keys);
        QByteArray plain;
        SealedReader::Status status = SealedReader::Status::NeedMore;
        for (qsizetype at = 0; at < wire.size(); at += piece) {
            reader.feed(QByteArrayView(wire).sliced(at, qMin(piece, wire.size() - at)));
            while ((status = reader.next(plain)) == SealedReader::Status::Record ||
                   status == SealedReader::Status::Final)
                *got << plain;
            if (status == SealedReader::Status::Broken)
                return status;
        }
        return reader.isFinished() ? SealedReader::Status::Final : status;
    };
    for (qsizetype piece : {1, 7, 4096}) {
        QList<QByteArray> got;
        QCOMPARE(readAll(r1 + r2 + last, piece, &got), SealedReader::Status::Final);
        QCOMPARE(got, QList<QByteArray>({"first", "second", "last"}));
    }
    QList<QByteArray> got;
    // Cut before the final record: never whole.
    QCOMPARE(readAll(r1 + r2, 5, &got), SealedReader::Status::NeedMore);
    // Reordered, replayed, dropped, altered, or followed by more: refused at that record.
    for (const QByteArray &wire : {r2 + r1 + last, r1 + r1 + r2 + last, r1 + last,
                                   r1 + r2 + last + r2, r1 + r2 + last + QByteArray(1, 'x')}) {
        got.clear();
        QCOMPARE(readAll(wire, 4096, &got), SealedReader::Status::Broken);
        QVERIFY(!got.contains("last"));
    }
    QByteArray altered = r1 + r2 + last;
    altered[r1.size() + 6] ^= 0x20;
    got.clear();
    QCOMPARE(readAll(altered, 4096, &got), SealedReader::Status::Broken);
    QCOMPARE(got, QList<QByteArray>({"first"}));
    // The end mark is sealed with the record: set on another record, or taken off the last,
    // the record does not open, so a stream can be neither cut nor ended early.
    for (const auto &[at, before] : {std::pair{r1.size(), QList<QByteArray>({"first"})},
                                     std::pair{r1.size() + r2.size(), QList<QByteArray>({"first", "second"})}}) {
        QByteArray moved = r1 + r2 + last;
        moved[at] = char(moved[at] ^ 0x80);
        got.clear();
        QCOMPARE(readAll(moved, 4096, &got), SealedReader::Status::Broken);
        QCOMPARE(got, before);
    }
    // A length beyond the largest record is refused before anything waits for it.
    got.clear();
    QCOMPARE(readAll(QByteArray("\x7f\xff\xff\xff", 4), 4096, &got), SealedReader::Status::Broken);
    // Another key opens nothing.
    ConnectionKeys::SessionKeys other;
    other.receive.fill(4);
    SealedReader stranger(other);
    stranger.feed(r1);
    QByteArray plain;
    QCOMPARE(stranger.next(plain), SealedReader::Status::Broken);
    QVERIFY(plain.isEmpty());
}

void TestTransfer::recordsSealedOnWorkersComeBackInOrder()
{
    ConnectionKeys::SessionKeys keys;
    keys.transmit.fill(5);
    keys.receive.fill(5);
    auto workers = std::make_shared<WorkerThreads>(4);
    // Records of very different sizes, so that later ones are done before earlier ones.
    QList<QByteArray> plain;
    for (int i = 0; i < 40; ++i)
        plain << randomBytes(i % 3 == 0 ? 300 * 1024 : 1 + i, quint32(100 + i));
    auto runThrough = [&](RecordPipeline &pipeline, const QList<QByteArray> &records, QList<QByteArray> *out,
                          QList<bool> *oks) {
        QSignalSpy ready(&pipeline, &RecordPipeline::ready);
        for (int i = 0; i < records.size(); ++i)
            pipeline.submit(quint64(i), i == records.size() - 1, records[i]);
        QCOMPARE(pipeline.pending(), records.size());
        while (out->size() < records.size()) {
            QByteArray r;
            bool ok = false;
            while (pipeline.take(r, ok)) {
                *out << r;
                *oks << ok;
            }
            if (out->size() < records.size())
                QVERIFY(ready.wait(5000));
        }
        QCOMPARE(pipeline.pending(), 0);
        QCOMPARE(pipeline.pendingBytes(), 0);
    };
    QList<QByteArray> laidOut, sealed, opened;
    for (const QByteArray &p : plain)
        laidOut << SealedRecords::layOut(p);
    QList<bool> oks;
    {
        RecordPipeline sealer(workers, SealedRecords::RecordKey(keys.transmit), RecordPipeline::Work::Seal);
        runThrough(sealer, laidOut, &sealed, &oks);
    }
    // In order, and each exactly as the sequential writer seals it.
    SealedWriter writer(keys);
    for (int i = 0; i < plain.size(); ++i)
        QCOMPARE(sealed[i], writer.seal(plain[i], i == plain.size() - 1));

    // Opened on the workers, one altered on the way: it alone fails, at its place.
    sealed[7][SealedRecords::kLengthBytes + 3] ^= 0x01;
    oks.clear();
    {
        RecordPipeline opener(workers, SealedRecords::RecordKey(keys.receive), RecordPipeline::Work::Open);
        runThrough(opener, sealed, &opened, &oks);
    }
    for (int i = 0; i < plain.size(); ++i) {
        QCOMPARE(oks[i], i != 7);
        if (i != 7)
            QCOMPARE(opened[i].sliced(SealedRecords::kLengthBytes, plain[i].size()), plain[i]);
    }

    // Dropped with work still queued: nothing waits for it and nothing is delivered after.
    auto dropped = std::make_unique<RecordPipeline>(workers, SealedRecords::RecordKey(keys.transmit),
                                                    RecordPipeline::Work::Seal);
    for (int i = 0; i < 64; ++i)
        dropped->submit(quint64(i), false, SealedRecords::layOut(plain[0]));
    dropped.reset();
    // The threads end with what was under way; the queued work they skip or drop.
    workers.reset();
    QCoreApplication::processEvents();
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
