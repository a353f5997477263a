// The archiver calls of the engine: the two command lines, names between disk (UTF-8)
// and archive (CP932), error numbers, the busy answer, the event loop running on while a
// long pack works on the worker thread, and an engine destroyed in the middle of a pack or
// an unpack, which stops it.
#include "support/FileBytes.h"
#include "support/RecordingHost.h"
#include "base/ModZorvin.h"
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"
#include "net/NetEngine.h"
#include "net/UnlhaLibrary.h"
#include "support/CraftedArchives.h"
#include "support/RunArchiver.h"
#include "support/TestPort.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

std::filesystem::path P(const QString &s)
{
    return std::filesystem::path(QFile::encodeName(s).toStdString());
}

// Bytes without matches: the probe sends them stored, and the worker still reads, checks
// and writes every one of them, which takes a while at tens of MiB.
void writeRandomFile(const QString &path, int mebibytes)
{
    QRandomGenerator rng(99);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (auto &c : block)
        c = char(rng.generate());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < mebibytes; ++i)
        QCOMPARE(f.write(block), block.size());
}

} // namespace

class TstArchiver : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void commandLinesAreExact();
    void packAndUnpackWithBlanksAndJapaneseName();
    void errorNumbers();
    void busyWhileRunningAndLoopKeepsRunning();
    void destroyedEngineStopsItsPack();
    void unpackTakesOneEntryWithinTheFreeSpace();
    void destroyedEngineStopsItsUnpack();
    void checkArchiverSetsReady();
    void lhaJapaneseArchiveUnpacksToUtf8Name();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingHost m_host;
    ModZorvin m_ctx;
    std::unique_ptr<NetEngine> m_engine;
};

void TstArchiver::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ctx = ModZorvin();
    m_ctx.net.port = TestPort::port();
    m_engine = std::make_unique<NetEngine>(m_ctx, m_host);
}

void TstArchiver::commandLinesAreExact()
{
    QCOMPARE(ArchiverQueue::ArchiverCommandLine(QStringLiteral("/t/S/CAPT7F0000010.LZH"),
                                                QStringLiteral("/p/a b.bmp"), true),
             QStringLiteral("a -n -+0 -gm \"/t/S/CAPT7F0000010.LZH\" \"/p/a b.bmp\""));
    QCOMPARE(ArchiverQueue::ArchiverCommandLine(QStringLiteral("/t/R/x.LZH"), QStringLiteral("/t/R/"), false),
             QStringLiteral("x -n -+0 -c1 -y -gf0 -gm \"/t/R/x.LZH\" \"/t/R/\""));
    QCOMPARE(ArchiverQueue::ArchiverCommandLine(QStringLiteral("/t/R/x.LZH"), QStringLiteral("/t/R/"), false,
                                                QStringLiteral("a b.txt")),
             QStringLiteral("x -n -+0 -c1 -y -gf0 -gm \"/t/R/x.LZH\" \"/t/R/\" \"a b.txt\""));

    QStringList words;
    QList<bool> quoted;
    QVERIFY(
        UnlhaLibrary::splitCommandLine(QStringLiteral("x -n  -y \"/a b/c.lzh\" \"/d e/\""), &words, &quoted));
    QCOMPARE(words, (QStringList{QStringLiteral("x"), QStringLiteral("-n"), QStringLiteral("-y"),
                                 QStringLiteral("/a b/c.lzh"), QStringLiteral("/d e/")}));
    QCOMPARE(quoted, (QList<bool>{false, false, false, true, true}));
    QVERIFY(!UnlhaLibrary::splitCommandLine(QStringLiteral("a \"/open"), &words));
}

void TstArchiver::packAndUnpackWithBlanksAndJapaneseName()
{
    const QString folder = m_dir->filePath(QStringLiteral("送信 folder"));
    const QString dest = m_dir->filePath(QStringLiteral("受信 folder"));
    QVERIFY(QDir().mkpath(folder) && QDir().mkpath(dest));
    const QByteArray content = QByteArray("picture bytes ").repeated(3000);
    writeBytes(folder + QStringLiteral("/テスト 1.bmp"), content);
    const QString arc = folder + QStringLiteral("/CAPT7F0000011.LZH");

    QCOMPARE(runArchiver(*m_engine, arc, folder + QStringLiteral("/テスト 1.bmp"), true), 0);
    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(arc), entries), int(lzh::Ok));
    QCOMPARE(entries.size(), size_t(1));
    // The bare name in code page 932, without any folder part.
    QCOMPARE(QByteArray::fromStdString(entries[0].name), QByteArray("\x83\x65\x83\x58\x83\x67 1.bmp"));

    writeBytes(dest + QStringLiteral("/テスト 1.bmp"), "older file of the same name");
    QCOMPARE(runArchiver(*m_engine, arc, dest + QLatin1Char('/'), false), 0);
    QCOMPARE(fileBytes(dest + QStringLiteral("/テスト 1.bmp")), content);
    QCOMPARE(QDir(dest).entryList(QDir::Files), QStringList{QStringLiteral("テスト 1.bmp")});
}

void TstArchiver::errorNumbers()
{
    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    const QString dest = m_dir->filePath(QStringLiteral("d"));
    QVERIFY(QDir().mkpath(dest));
    QCOMPARE(runArchiver(*m_engine, arc, m_dir->filePath(QStringLiteral("missing.bmp")), true),
             int(lzh::ErrSourceMissing));
    QCOMPARE(runArchiver(*m_engine, arc, dest, true), int(lzh::ErrSourceNotFile));
    QCOMPARE(runArchiver(*m_engine, arc, dest + QLatin1Char('/'), false), int(lzh::ErrArchiveOpen));
    writeBytes(arc, "this is not an archive");
    QCOMPARE(runArchiver(*m_engine, arc, dest + QLatin1Char('/'), false), int(lzh::ErrNotArchive));
    QCOMPARE(runArchiver(*m_engine, arc, m_dir->filePath(QStringLiteral("no-such-folder/")), false),
             int(lzh::ErrDestinationMissing));

    UnlhaLibrary &lib = m_engine->unlha();
    char out[8];
    std::memset(out, 'X', sizeof out);
    QCOMPARE(lib.Unlha(0, QStringLiteral("d \"a\" \"b\""), out, 8), int(lzh::ErrCommandUnknown));
    QVERIFY(std::memchr(out, '\0', 8) != nullptr); // the text is cut to the buffer and ended
    QCOMPARE(
        lib.Unlha(0, QStringLiteral("x -n \"") + arc + QStringLiteral("\" \"") + dest + QStringLiteral("\""),
                  nullptr, 0),
        int(lzh::ErrMissingDestination));
    QCOMPARE(lib.Unlha(0, QStringLiteral("a -n \"") + arc + QLatin1Char('"'), nullptr, 0),
             int(lzh::ErrMissingSource));
    QCOMPARE(lib.Unlha(0, QStringLiteral("a -n"), nullptr, 0), int(lzh::ErrMissingArchive));
    QCOMPARE(lib.Unlha(0, QStringLiteral("a \"") + arc, nullptr, 0), int(lzh::ErrUnbalancedQuote));
    QVERIFY(!lib.isBusy());

    // A file name with double quotes would split the command line into other paths: the
    // file x" "y would be read as the file x followed by y.
    writeBytes(m_dir->filePath(QStringLiteral("x")), "not the file that was asked for");
    const QString quoted = m_dir->filePath(QStringLiteral("x\" \"y"));
    writeBytes(quoted, "the file that was asked for");
    QFile::remove(arc);
    const ArchiverTicket refused = m_engine->RunArchiver(arc, quoted, true);
    QVERIFY(!refused.started());
    QCOMPARE(refused.result, int(lzh::ErrUnbalancedQuote));
    QVERIFY(!QFile::exists(arc));
}

void TstArchiver::busyWhileRunningAndLoopKeepsRunning()
{
    const QString big = m_dir->filePath(QStringLiteral("big.bin"));
    writeRandomFile(big, 40);
    const QString small = m_dir->filePath(QStringLiteral("small.txt"));
    writeBytes(small, "small");

    ModZorvin otherCtx;
    otherCtx.net.port = TestPort::port();
    NetEngine other(otherCtx, m_host);
    QSignalSpy finished(&m_engine->archiver(), &ArchiverQueue::finished);
    const ArchiverTicket ticket =
        m_engine->RunArchiver(m_dir->filePath(QStringLiteral("big.lzh")), big, true);
    QVERIFY(ticket.started());
    QVERIFY(m_engine->archiver().isBusy());
    // A second command while the first runs is refused at once and leaves nothing.
    const ArchiverTicket second =
        m_engine->RunArchiver(m_dir->filePath(QStringLiteral("n.lzh")), small, true);
    QVERIFY(!second.started());
    QCOMPARE(second.result, UnlhaLibrary::kBusy);
    // The event loop keeps serving timers while the worker packs.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
    timer.start(1);
    // Each engine has its own archiver.
    QCOMPARE(runArchiver(other, m_dir->filePath(QStringLiteral("o.lzh")), small, true), 0);
    QVERIFY(!finished.isEmpty() || finished.wait(120000));
    timer.stop();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0], (QList<QVariant>{ticket.id, 0}));
    QVERIFY2(ticks > 3, qPrintable(QString::number(ticks)));
    QVERIFY(!m_engine->archiver().isBusy());
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("n.lzh"))));

    // Free again once finished came, under a new id.
    const ArchiverTicket third = m_engine->RunArchiver(m_dir->filePath(QStringLiteral("n.lzh")), small, true);
    QVERIFY(third.started());
    QVERIFY(third.id != ticket.id);
    QCOMPARE(waitForArchiver(m_engine->archiver(), third), 0);
    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(m_dir->filePath(QStringLiteral("big.lzh"))), entries), int(lzh::Ok));
    QCOMPARE(entries.at(0).originalSize, uint64_t(40) << 20);
}

void TstArchiver::destroyedEngineStopsItsPack()
{
    // Quitting does not wait for a pack of a large file: it stops, and the archive and its
    // temporary file go with it; the file packed stays.
    const QString big = m_dir->filePath(QStringLiteral("big.bin"));
    writeRandomFile(big, 96);
    const QString folder = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(folder));
    const QString archive = folder + QStringLiteral("/big.lzh");
    QVERIFY(m_engine->RunArchiver(archive, big, true).started());
    // The worker packs with the library the engine owns; the engine goes at once.
    m_engine.reset();
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(QFileInfo(big).size(), qint64(96) << 20);

    // Asked by its id, a running pack stops the same way and reports it.
    m_engine = std::make_unique<NetEngine>(m_ctx, m_host);
    QSignalSpy stopped(&m_engine->archiver(), &ArchiverQueue::finished);
    const ArchiverTicket again = m_engine->RunArchiver(archive, big, true);
    QVERIFY(again.started());
    m_engine->archiver().cancel(again.id);
    QVERIFY(stopped.wait(60000));
    QCOMPARE(stopped[0], (QList<QVariant>{again.id, int(lzh::ErrCancelled)}));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    // The next command runs as usual.
    QCOMPARE(runArchiver(*m_engine, archive, big, true), 0);
    QVERIFY(QFile::exists(archive));
}

void TstArchiver::unpackTakesOneEntryWithinTheFreeSpace()
{
    using CraftedArchives::level0Entry;
    const QString arc = m_dir->filePath(QStringLiteral("three.lzh"));
    const QString dest = m_dir->filePath(QStringLiteral("d")) + QLatin1Char('/');
    QVERIFY(QDir().mkpath(dest));
    // The wanted entry under a folder and with a code-page name, between two others.
    writeBytes(arc, level0Entry("first.txt", "first") +
                       level0Entry("sub\\\x83\x65\x83\x58\x83\x67.txt", "wanted") +
                       level0Entry("last.txt", "last") + QByteArray(1, '\0'));
    ArchiverQueue &queue = m_engine->archiver();
    QCOMPARE(waitForArchiver(queue, queue.start(arc, dest, false, {QStringLiteral("テスト.txt"), 0})), 0);
    QCOMPARE(QDir(dest).entryList(QDir::Files), QStringList{QStringLiteral("テスト.txt")});
    QCOMPARE(fileBytes(dest + QStringLiteral("テスト.txt")), QByteArray("wanted"));
    QVERIFY(QFile::remove(dest + QStringLiteral("テスト.txt")));

    // Declared sizes that would leave less than the margin free: nothing is written.
    const qint64 free = QStorageInfo(dest).bytesAvailable();
    QVERIFY(free > 0);
    QCOMPARE(waitForArchiver(queue,
                             queue.start(arc, dest, false, {QStringLiteral("first.txt"), free + (1 << 30)})),
             int(lzh::ErrOutputLimit));
    QCOMPARE(QDir(dest).entryList(QDir::Files), QStringList());
    // Within it, every entry.
    QCOMPARE(waitForArchiver(queue, queue.start(arc, dest, false, {QString(), 1024})), 0);
    QCOMPARE(QDir(dest).entryList(QDir::Files).size(), 3);

    // One entry at most, and no quote in its name.
    QCOMPARE(m_engine->unlha().Unlha(0,
                                     QStringLiteral("x \"") + arc + QStringLiteral("\" \"") + dest +
                                         QStringLiteral("\" \"first.txt\" \"last.txt\""),
                                     nullptr, 0),
             int(lzh::ErrTooManyEntries));
    const ArchiverTicket quoted = queue.start(arc, dest, false, {QStringLiteral("a\" \"b"), -1});
    QVERIFY(!quoted.started());
    QCOMPARE(quoted.result, int(lzh::ErrUnbalancedQuote));
}

void TstArchiver::destroyedEngineStopsItsUnpack()
{
    // An unpack of 1 GiB the engine's end does not wait for: it stops, and what it wrote
    // goes with it.
    const QString arc = m_dir->filePath(QStringLiteral("long.lzh"));
    writeBytes(arc, CraftedArchives::repeatArchive("long.txt", 64));
    const QString dest = m_dir->filePath(QStringLiteral("d"));
    QVERIFY(QDir().mkpath(dest));
    QVERIFY(m_engine->RunArchiver(arc, dest + QLatin1Char('/'), false).started());
    m_engine.reset();
    QCOMPARE(QDir(dest).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TstArchiver::checkArchiverSetsReady()
{
    QVERIFY(!m_ctx.ArchiverReady);
    m_engine->CheckArchiver();
    QVERIFY(m_ctx.ArchiverReady);
    QVERIFY(m_engine->unlha().UnlhaGetVersion() != 0);
    QCOMPARE(m_engine->unlha().cursorMode(), 0);
}

void TstArchiver::lhaJapaneseArchiveUnpacksToUtf8Name()
{
    const QString src = m_dir->filePath(QStringLiteral("src"));
    const QString dest = m_dir->filePath(QStringLiteral("dest"));
    QVERIFY(QDir().mkpath(src) && QDir().mkpath(dest));
    writeBytes(src + QStringLiteral("/画像.bmp"), QByteArray("BM").repeated(2000));
    QProcess lha;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8")); // "y": UTF-8 on disk, CP932 inside
    lha.setProcessEnvironment(env);
    lha.setWorkingDirectory(src);
    lha.start(QStringLiteral("lha"),
              {QStringLiteral("ay"), QStringLiteral("j.lzh"), QStringLiteral("画像.bmp")});
    QVERIFY2(lha.waitForFinished(120000) && lha.exitCode() == 0,
             "lha (jlha-utils) is needed: run scripts/setup");
    QCOMPARE(runArchiver(*m_engine, src + QStringLiteral("/j.lzh"), dest + QLatin1Char('/'), false), 0);
    QCOMPARE(fileBytes(dest + QStringLiteral("/画像.bmp")), QByteArray("BM").repeated(2000));
}

QTEST_GUILESS_MAIN(TstArchiver)
#include "tst_archiver.moc"
