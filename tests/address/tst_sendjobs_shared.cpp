// One item sent to several recipients, as the send dialog queues it, delivered to real
// engines on 127.0.0.x and to raw receivers that hold their connection: the jobs of the
// item share its bitmap and its archive, the item is packed once, and the shared files
// live exactly as long as the last job that sends them.
#include "net/AddressEntry.h"
#include "pictures/SendJobs.h"
#include "base/AnsiCodec.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "net/ArchiverQueue.h"
#include "net/EngineEvents.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "support/FileBytes.h"
#include "support/LoopbackEngine.h"
#include "support/TcpPeer.h"
#include "support/TestPort.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkDatagram>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

namespace {

// An engine with its own folders; what arrives is read while its signal runs, as the
// viewer and the received list do.
struct Copy
{
    explicit Copy(const QString &ip, bool archiver = true)
    {
        ctx.net.bindAddress = QHostAddress(ip);
        ctx.net.broadcastAddress = ip;
        ctx.net.port = TestPort::port();
        ctx.ProgramDir = tmp.path() + u'/';
        ctx.MakeTempFolders(tmp.path() + QStringLiteral("/temp/"));
        ctx.settings.RecvFileSavePlace = tmp.path() + QStringLiteral("/RECVFILE");
        QDir().mkpath(ctx.settings.RecvFileSavePlace);
        if (archiver)
            engine.CheckArchiver();
        QObject::connect(&engine.events(), &EngineEvents::imageArrived, &engine,
                         [this](const ArrivedImage &image) { pictures.append(fileBytes(image.path)); });
    }
    bool start() { return startOnLoopback(engine, ctx); }
    QString address() const { return ctx.net.bindAddress.toString(); }
    SendRecipient recipient() const { return {QStringLiteral("to ") + address(), address()}; }
    QStringList sendFolder() const { return QDir(ctx.SendTempDir).entryList(QDir::Files, QDir::Name); }
    QStringList recvTemp() const { return QDir(ctx.RecvTempDir).entryList(QDir::Files); }
    QByteArray received(const QString &name) const
    {
        return fileBytes(ctx.settings.RecvFileSavePlace + u'/' + name);
    }

    QTemporaryDir tmp;
    ModZorvin ctx;
    RecordingHost host;
    NetEngine engine{ctx, host};
    QList<QByteArray> pictures;
};

// A receiver that reads a whole transfer and keeps the connection until told to hang up,
// as a peer does while it unpacks; the datagram socket beside it takes stop requests.
struct Holder : TcpPeer
{
    explicit Holder(const QString &ip) : TcpPeer(ip) {}
    SendRecipient recipient() const { return {QStringLiteral("held ") + address, address}; }
    // The header and every body byte it announces have arrived.
    bool hasAll() const { return bytes.size() >= 256 && bytes.size() - 256 == bytes.mid(8, 12).toLongLong(); }
    QByteArray body() const { return bytes.mid(256); }
    QString archiveName() const { return AnsiCodec::decode(bytes.mid(20, 22)).trimmed(); }
    QString itemName() const { return AnsiCodec::decode(bytes.mid(42, 60)).trimmed(); }
    QByteArray nextDatagram()
    {
        return probe.hasPendingDatagrams() ? probe.receiveDatagram().data() : QByteArray();
    }
};

// Noise packs slowly and badly, so every recipient connects while the pack still runs.
QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator g(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xFF000000u | (g.generate() & 0xFFFFFFu);
    }
    return image;
}

// Random pixels of four colours: a picture that packs (so -lh5- works on it for a while).
QImage fourColours(int width, int height, quint32 seed)
{
    static const quint32 colours[] = {0xFF000000u, 0xFFFFFFFFu, 0xFF3A6EA5u, 0xFFD4D0C8u};
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator g(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = colours[g.generate() & 3];
    }
    return image;
}

QList<SendJob> jobsInUse(const TransferSender &sender)
{
    QList<SendJob> jobs;
    for (int slot = 0; slot < kSendJobSlots; ++slot)
        if (sender.job(slot).inUse)
            jobs << sender.job(slot);
    return jobs;
}

int slotTo(const TransferSender &sender, const QString &address)
{
    for (int slot = 0; slot < kSendJobSlots; ++slot)
        if (sender.job(slot).inUse && sender.job(slot).destination == address)
            return slot;
    return -1;
}

// Arguments of sendResultAdded: name, kind, result, information.
QList<int> resultCodes(const QSignalSpy &results)
{
    QList<int> codes;
    for (const QList<QVariant> &line : results)
        codes << line.at(2).toInt();
    return codes;
}

} // namespace

class tst_SendJobsShared : public QObject
{
    Q_OBJECT
  private slots:
    void pictureToManyIsPackedOnceAndOutlivesEveryJob();
    void filesToTwoEnginesShareOneArchivePerFile();
    void cancelAndGoodbyeLeaveTheOtherJobsTheirFiles();
};

void tst_SendJobsShared::pictureToManyIsPackedOnceAndOutlivesEveryJob()
{
    Copy a(QStringLiteral("127.0.0.2")), b(QStringLiteral("127.0.0.3")), c(QStringLiteral("127.0.0.4"));
    // Without the archiver, but new enough to take the item again unpacked.
    Copy d(QStringLiteral("127.0.0.5"), false);
    Holder held(QStringLiteral("127.0.0.6"));
    for (Copy *copy : {&a, &b, &c, &d})
        QVERIFY(copy->start());
    QVERIFY(held.start());
    QVERIFY(a.ctx.ArchiverReady);
    a.engine.UpdatePeer(QStringLiteral("dee (h5)"), d.address(), kStateAvail, QStringLiteral("266"),
                        QStringLiteral("grp"));
    QSignalSpy packs(&a.engine.archiver(), &ArchiverQueue::finished);
    QSignalSpy results(&a.engine.events(), &EngineEvents::sendResultAdded);

    QCOMPARE(SendJobs(a.engine).SendPicture(noise(900, 700, 1), QString(),
                                            {b.recipient(), c.recipient(), d.recipient(), held.recipient()}),
             4);
    const QList<SendJob> jobs = jobsInUse(a.engine.sender());
    QCOMPARE(jobs.size(), 4);
    const QString bitmapName = jobs[0].itemName;
    const QString archiveName = jobs[0].archiveName;
    QCOMPARE(archiveName, bitmapName.chopped(4) + QStringLiteral(".LZH"));
    for (const SendJob &job : jobs) {
        QCOMPARE(job.itemPath(), a.ctx.SendTempDir + bitmapName);
        QCOMPARE(job.archiveName, archiveName);
        QCOMPARE(job.state, 1); // four destinations, four connections at once
    }
    const QByteArray bitmap = fileBytes(a.ctx.SendTempDir + bitmapName);
    QVERIFY(bitmap.startsWith("BM"));

    // The engines are done, the one that holds its connection is not: the shared files stay.
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 3, 60000);
    QCOMPARE(resultCodes(results), QList<int>({0, 0, 0}));
    QTRY_VERIFY_WITH_TIMEOUT(held.hasAll(), 30000);
    QCOMPARE(b.pictures, QList<QByteArray>{bitmap});
    QCOMPARE(c.pictures, QList<QByteArray>{bitmap});
    QCOMPARE(d.pictures, QList<QByteArray>{bitmap});
    QCOMPARE(held.archiveName(), archiveName);
    QCOMPARE(held.itemName(), bitmapName);
    QCOMPARE(a.sendFolder(), QStringList({bitmapName, archiveName}));
    // Noise does not pack: the archive holds the stored entry's header alone, and the body
    // is that header, the bitmap itself and the end mark.
    QCOMPARE(held.body(), fileBytes(a.ctx.SendTempDir + archiveName) + bitmap + QByteArray(1, '\0'));
    QVERIFY(a.engine.sender().anyJobInUse());

    held.connection->close();
    QTRY_COMPARE(results.size(), 4);
    QCOMPARE(results[3].at(2).toInt(), 0);
    QTRY_COMPARE(a.sendFolder(), QStringList());
    QCOMPARE(packs.size(), 1);
    QCOMPARE(packs[0].at(1).toInt(), 0);
    for (const Copy *copy : {&b, &c, &d})
        QCOMPARE(copy->recvTemp(), QStringList());
}

void tst_SendJobsShared::filesToTwoEnginesShareOneArchivePerFile()
{
    Copy a(QStringLiteral("127.0.0.2")), b(QStringLiteral("127.0.0.3")), c(QStringLiteral("127.0.0.4"));
    for (Copy *copy : {&a, &b, &c})
        QVERIFY(copy->start());
    QStringList paths;
    QList<QByteArray> contents;
    for (int i = 0; i < 3; ++i) {
        QByteArray text;
        for (int n = 0; text.size() < 2 * 1024 * 1024; ++n)
            text += "file " + QByteArray::number(i) + " line " + QByteArray::number(n * 7919 % 100003) + '\n';
        paths << a.tmp.filePath(QStringLiteral("file%1.txt").arg(i));
        QFile f(paths.last());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        contents << text;
    }
    // A stale file under the first archive's name is not taken for the packed item.
    const QString firstArchive = QStringLiteral("CAPT") + a.ctx.LocalIpHex + QStringLiteral("0.LZH");
    {
        QFile stale(a.ctx.SendTempDir + firstArchive);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("not an archive");
    }
    QSignalSpy packs(&a.engine.archiver(), &ArchiverQueue::finished);
    QSignalSpy results(&a.engine.events(), &EngineEvents::sendResultAdded);

    QCOMPARE(SendJobs(a.engine).SendFiles(paths, {b.recipient(), c.recipient()}), 6);
    // Six slots, the last file first; one archive name per file for both recipients, and
    // one connection per recipient until its first job ends.
    const QList<SendJob> jobs = jobsInUse(a.engine.sender());
    QCOMPARE(jobs.size(), 6);
    QCOMPARE(jobs[0].archiveName, firstArchive);
    QStringList archives;
    for (int i = 0; i < jobs.size(); ++i) {
        QCOMPARE(jobs[i].itemPath(), paths[2 - i / 2]);
        QCOMPARE(jobs[i].archiveName, jobs[i - i % 2].archiveName);
        QCOMPARE(jobs[i].state, i < 2 ? 1 : 0);
        archives << jobs[i].archiveName;
    }
    archives.removeDuplicates();
    QCOMPARE(archives.size(), 3);

    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 6, 120000);
    QCOMPARE(resultCodes(results), QList<int>({0, 0, 0, 0, 0, 0}));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(b.received(QStringLiteral("file%1.txt").arg(i)), contents[i]);
        QCOMPARE(c.received(QStringLiteral("file%1.txt").arg(i)), contents[i]);
        QVERIFY(QFile::exists(paths[i]));
    }
    QCOMPARE(packs.size(), 3);
    QCOMPARE(a.sendFolder(), QStringList());
}

void tst_SendJobsShared::cancelAndGoodbyeLeaveTheOtherJobsTheirFiles()
{
    Copy a(QStringLiteral("127.0.0.2"));
    QVERIFY(a.start());
    Holder first(QStringLiteral("127.0.0.3")), second(QStringLiteral("127.0.0.4")),
        third(QStringLiteral("127.0.0.5"));
    for (Holder *h : {&first, &second, &third})
        QVERIFY(h->start());
    QSignalSpy packs(&a.engine.archiver(), &ArchiverQueue::finished);
    QSignalSpy results(&a.engine.events(), &EngineEvents::sendResultAdded);
    TransferSender &sender = a.engine.sender();

    QCOMPARE(SendJobs(a.engine).SendPicture(fourColours(2000, 1500, 2), QString(),
                                            {first.recipient(), second.recipient(), third.recipient()}),
             3);
    const int toFirst = slotTo(sender, first.address);
    const QString bitmapName = sender.job(toFirst).itemName;
    const QString archiveName = sender.job(toFirst).archiveName;

    // The first recipient's job is cancelled while the item is packed for all three.
    bool cancelled = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (cancelled || !a.engine.archiver().isBusy() || sender.job(toFirst).state != 2)
            return;
        cancelled = true;
        sender.CancelSendJob(toFirst);
    });
    watch.start(1);
    QTRY_VERIFY_WITH_TIMEOUT(cancelled, 30000);
    watch.stop();
    QTRY_VERIFY(first.probe.hasPendingDatagrams());
    QCOMPARE(first.nextDatagram(), "captSP" + archiveName.toLatin1().leftJustified(22, ' '));

    QTRY_VERIFY_WITH_TIMEOUT(second.hasAll() && third.hasAll(), 60000);
    QCOMPARE(a.sendFolder(), QStringList({bitmapName, archiveName}));
    const QByteArray archive = fileBytes(a.ctx.SendTempDir + archiveName);
    QCOMPARE(second.body(), archive);
    QCOMPARE(third.body(), archive);
    QCOMPARE(sender.sharedFileHolders(a.ctx.SendTempDir + archiveName), 2);

    // The second recipient quits: its job ends, the third still sends the same files.
    a.engine.HandleDatagram(second.address, "captGB");
    // The cancel and the quit are each a failure line.
    QCOMPARE(resultCodes(results), QList<int>({1, 1}));
    QCOMPARE(a.sendFolder(), QStringList({bitmapName, archiveName}));
    QCOMPARE(sender.sharedFileHolders(a.ctx.SendTempDir + bitmapName), 1);

    third.connection->close();
    QTRY_COMPARE(results.size(), 3);
    QCOMPARE(results[2].at(2).toInt(), 0);
    QTRY_COMPARE(a.sendFolder(), QStringList());
    QCOMPARE(sender.sharedFileHolders(a.ctx.SendTempDir + bitmapName), 0);
    QCOMPARE(packs.size(), 1);
    QCOMPARE(first.bytes, QByteArray()); // cancelled before its header went out
}

QTEST_MAIN(tst_SendJobsShared)
#include "tst_sendjobs_shared.moc"
