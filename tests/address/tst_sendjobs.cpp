// Send jobs as the send dialog and the automatic transfer make them: the order of files
// and recipients, the picture sent as a fresh bitmap or as its source file, and the
// results when the job table is full or the bitmap cannot be written. The recipients are
// loopback addresses nobody listens on, so the jobs are looked at before they fail.
#include "net/AddressStore.h"
#include "pictures/SendJobs.h"
#include "support/RecordingHost.h"
#include "base/ModZorvin.h"
#include "net/EngineEvents.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"
#include "support/TestPort.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const SendRecipient kFirst{QStringLiteral("first (a)"), QStringLiteral("127.0.0.250")};
const SendRecipient kSecond{QStringLiteral("second (b)"), QStringLiteral("127.0.0.251")};

QList<SendJob> jobsInUse(const TransferSender &sender)
{
    QList<SendJob> jobs;
    for (int slot = 0; slot < kSendJobSlots; ++slot) {
        if (sender.job(slot).inUse)
            jobs << sender.job(slot);
    }
    return jobs;
}

QImage picture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 140, 70));
    return image;
}

} // namespace

class tst_SendJobs : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void filesGoLastFirstToEveryRecipient();
    void pictureGoesAsBitmapOrAsItsSourceFile();
    void fullTableAndWriteErrorsAreReported();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModZorvin> m_ctx;
    RecordingHost m_host;
    std::unique_ptr<NetEngine> m_engine;
};

void tst_SendJobs::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_ctx = std::make_unique<ModZorvin>();
    m_ctx->ProgramDir = m_dir->path() + u'/';
    m_ctx->MakeTempFolders(m_dir->filePath(QStringLiteral("tmp")) + u'/');
    m_ctx->SetLocalIp(QStringLiteral("127.0.0.1"));
    // The jobs connect to their recipients: never to a copy on the protocol port.
    m_ctx->net.port = TestPort::port();
    m_engine = std::make_unique<NetEngine>(*m_ctx, m_host);
}

void tst_SendJobs::cleanup()
{
    m_engine.reset();
    m_ctx.reset();
    m_dir.reset();
}

void tst_SendJobs::filesGoLastFirstToEveryRecipient()
{
    QStringList names = {QStringLiteral("one.txt"), QStringLiteral("two.doc"), QStringLiteral("three.zip")};
    QString tag = m_dir->path();
    for (const QString &name : names) {
        QFile file(m_dir->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name.toUtf8());
        tag += QChar(u'\0') + name;
    }
    const QStringList paths = SendJobs::FilesOfTag(tag);
    QCOMPARE(paths,
             (QStringList{m_dir->filePath(names[0]), m_dir->filePath(names[1]), m_dir->filePath(names[2])}));
    QCOMPARE(SendJobs::FilesOfTag(paths[1]), QStringList{paths[1]});
    QVERIFY(SendJobs::FilesOfTag(QString()).isEmpty());

    SendChoices choices;
    choices.notice = 3;
    QCOMPARE(SendJobs(*m_engine).SendFiles(paths, {kFirst, kSecond}, choices), 6);

    // The last file first, each to both under one archive name; only the first job per
    // recipient connects now.
    const QList<SendJob> jobs = jobsInUse(m_engine->sender());
    QCOMPARE(jobs.size(), 6);
    const QStringList expectedItems = {names[2], names[2], names[1], names[1], names[0], names[0]};
    QStringList archives;
    for (int i = 0; i < jobs.size(); ++i) {
        QCOMPARE(jobs[i].itemName, expectedItems[i]);
        QCOMPARE(jobs[i].destination, i % 2 == 0 ? kFirst.address : kSecond.address);
        QCOMPARE(jobs[i].resultName, i % 2 == 0 ? kFirst.name : kSecond.name);
        QCOMPARE(jobs[i].kind, QLatin1Char('F'));
        QCOMPARE(jobs[i].notice, 3);
        QCOMPARE(jobs[i].state, i < 2 ? 1 : 0);
        QVERIFY(jobs[i].archiveName.startsWith(QStringLiteral("CAPT7F000001")));
        QCOMPARE(jobs[i].archiveName, jobs[i - i % 2].archiveName);
        archives << jobs[i].archiveName;
    }
    archives.removeDuplicates();
    QCOMPARE(archives.size(), 3);
    // The user's files stay whatever becomes of the jobs.
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->sender().anyJobInUse(), 10000);
    for (const QString &path : paths)
        QVERIFY(QFile::exists(path));
}

void tst_SendJobs::pictureGoesAsBitmapOrAsItsSourceFile()
{
    const QDir sendFolder(m_ctx->SendTempDir);
    const QImage small = picture(QSize(8, 6));
    SendJobs jobs(*m_engine);

    // A fresh capture: one bitmap and one archive name for every recipient.
    QCOMPARE(jobs.SendPicture(small, QString(), {kFirst, kSecond}), 2);
    QList<SendJob> queued = jobsInUse(m_engine->sender());
    QCOMPARE(queued.size(), 2);
    QCOMPARE(queued[0].itemName, queued[1].itemName);
    QCOMPARE(sendFolder.entryList(QDir::Files), QStringList{queued[0].itemName});
    for (const SendJob &job : queued) {
        QCOMPARE(job.kind, QLatin1Char('I'));
        QCOMPARE(QDir::cleanPath(job.folder), QDir::cleanPath(m_ctx->SendTempDir));
        QCOMPARE(job.archiveName, job.itemName.chopped(4) + QStringLiteral(".LZH"));
        QCOMPARE(QImage(job.itemPath()).pixelColor(4, 3), QColor(30, 140, 70));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->sender().anyJobInUse(), 10000);
    QCOMPARE(sendFolder.entryList(QDir::Files), QStringList());

    // From a JPEG file: the file itself goes, and no bitmap is left behind.
    const QString jpeg = m_dir->filePath(QStringLiteral("photo.JPG"));
    QVERIFY(picture(QSize(200, 100)).save(jpeg, "JPEG"));
    QCOMPARE(jobs.SendPicture(picture(QSize(200, 100)), jpeg, {kFirst, kSecond}), 2);
    queued = jobsInUse(m_engine->sender());
    QCOMPARE(queued.size(), 2);
    for (const SendJob &job : queued)
        QCOMPARE(job.itemPath(), jpeg);
    QCOMPARE(sendFolder.entryList(QDir::Files), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->sender().anyJobInUse(), 10000);
    QVERIFY(QFile::exists(jpeg));

    // From a bitmap file larger than a fresh one (trailing bytes): the fresh bitmap goes.
    // A name of 60 characters or more: the bitmap, whatever the file.
    const QString padded = m_dir->filePath(QStringLiteral("padded.bmp"));
    QVERIFY(small.save(padded, "BMP"));
    {
        QFile file(padded);
        QVERIFY(file.open(QIODevice::Append));
        file.write(QByteArray(4096, '\0'));
    }
    const QString longJpeg = m_dir->filePath(QString(56, u'x') + QStringLiteral(".jpg"));
    QVERIFY(QFile::copy(jpeg, longJpeg));
    QCOMPARE(jobs.SendPicture(small, padded, {kFirst}) + jobs.SendPicture(small, longJpeg, {kSecond}), 2);
    queued = jobsInUse(m_engine->sender());
    QCOMPARE(queued.size(), 2);
    for (const SendJob &job : queued)
        QCOMPARE(QDir::cleanPath(job.folder), QDir::cleanPath(m_ctx->SendTempDir));
    // As large as the fresh bitmap: the source file goes.
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->sender().anyJobInUse(), 10000);
    const QString exact = m_dir->filePath(QStringLiteral("exact.bmp"));
    QVERIFY(small.save(exact, "BMP"));
    QCOMPARE(jobs.SendPicture(small, exact, {kFirst}), 1);
    QCOMPARE(jobsInUse(m_engine->sender()).first().itemPath(), exact);
}

void tst_SendJobs::fullTableAndWriteErrorsAreReported()
{
    QSignalSpy results(&m_engine->events(), &EngineEvents::sendResultAdded);
    // Every slot taken by jobs to one address: only the first of them starts.
    for (int slot = 0; slot < kSendJobSlots; ++slot) {
        SendRequest request;
        request.destination = QStringLiteral("127.0.0.252");
        request.resultName = QStringLiteral("filler");
        request.folder = m_dir->path();
        request.itemName = QStringLiteral("filler%1").arg(slot);
        QCOMPARE(m_engine->QueueSendJob(request), slot);
    }
    const QString file = m_dir->filePath(QStringLiteral("notes.txt"));
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    SendJobs jobs(*m_engine);
    const QString full = QStringLiteral("ぞるびんのリソース不足");

    // The send dialog reports every recipient and file.
    QCOMPARE(jobs.SendPicture(picture(QSize(4, 4)), QString(), {kFirst, kSecond}), 0);
    QCOMPARE(jobs.SendFiles({file}, {kFirst, kSecond}), 0);
    QCOMPARE(results.size(), 4);
    QCOMPARE(results[0], (QVariantList{kFirst.name, QStringLiteral("I"), 1, full + u' '}));
    QCOMPARE(results[1], (QVariantList{kSecond.name, QStringLiteral("I"), 1, full + u' '}));
    QCOMPARE(results[3], (QVariantList{kSecond.name, QStringLiteral("F"), 1, full + u' ' + file}));
    // The automatic transfer gives up after the first target.
    for (const SendRecipient &to : {kFirst, kSecond}) {
        AddressEntry entry;
        entry.EntryName = to.name;
        entry.EntryAddress = to.address;
        entry.EntryType = QStringLiteral("T");
        entry.EntryState = QStringLiteral("avail");
        m_engine->addresses().append(entry);
    }
    QCOMPARE(jobs.AutoTranCapture(picture(QSize(4, 4))), 0);
    QCOMPARE(results.size(), 5);
    QCOMPARE(results[4], (QVariantList{kFirst.name, QStringLiteral("I"), 1, full}));
    // No bitmap stays behind for jobs that never got a slot.
    QCOMPARE(QDir(m_ctx->SendTempDir).entryList(QDir::Files), QStringList());

    // A send folder that cannot be written: one line per recipient, and nothing queued.
    m_engine->sender().CloseAll();
    for (int slot = 0; slot < kSendJobSlots; ++slot)
        m_engine->sender().DelSlist(slot);
    m_ctx->SendTempDir = file + QStringLiteral("/STemp");
    QCOMPARE(jobs.SendPicture(picture(QSize(4, 4)), QString(), {kFirst, kSecond}), 0);
    QCOMPARE(results.size(), 7);
    QVERIFY(results[5][3].toString().startsWith(QStringLiteral("ZorvinSt=001 FrmAdrEdit C=0 ")));
    QCOMPARE(results[6][0].toString(), kSecond.name);
    QVERIFY(!m_engine->sender().anyJobInUse());
}

QTEST_MAIN(tst_SendJobs)
#include "tst_sendjobs.moc"
