// The LHA library on its own: round trips, the bytes it writes, hostile archives, and
// interop with Debian's LHA programs (lhasa and the Java lha).
#include "lzh/Crc16.h"
#include "lzh/Lh5Encoder.h"
#include "lzh/LhDecoder.h"
#include "lzh/LhFormat.h"
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"
#include "support/CraftedArchives.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>
#include <thread>

namespace fs = std::filesystem;
using CraftedArchives::level0Entry;

namespace {

fs::path P(const QString &s)
{
    return fs::path(QFile::encodeName(s).toStdString());
}

// Names on disk as raw bytes: code-page-932 names are not UTF-8, so QString cannot
// carry them through.
QByteArray readRaw(const QString &dir, const QByteArray &name)
{
    const fs::path p = fs::path(QFile::encodeName(dir).toStdString()) / name.toStdString();
    std::FILE *f = std::fopen(p.c_str(), "rb");
    if (!f)
        return QByteArray("<missing>");
    QByteArray data;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, qsizetype(n));
    std::fclose(f);
    return data;
}

QList<QByteArray> rawNamesIn(const QString &dir)
{
    QList<QByteArray> names;
    for (const auto &e : fs::directory_iterator(fs::path(QFile::encodeName(dir).toStdString())))
        names.append(QByteArray::fromStdString(e.path().filename().string()));
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(rng.generate() & 0xFF);
    return b;
}

// Text-like data with long and short repeats and a changing vocabulary.
QByteArray mixedBytes(qsizetype n, quint32 seed)
{
    QRandomGenerator rng(seed);
    static const char *words[] = {"capture ", "picture ", "zorvin ", "\x83\x65\x83\x58\x83\x67 ",
                                  "0x1F, ",   "send ",    "\r\n",    "\0\0\0\0",
                                  "receive "};
    QByteArray b;
    b.reserve(n);
    while (b.size() < n) {
        const quint32 r = rng.generate();
        if (r % 11 == 0)
            b.append(char(r >> 8));
        else
            b.append(words[r % 9], qsizetype(std::strlen(words[r % 9]) + ((r % 9) == 7 ? 4 : 0)));
    }
    b.truncate(n);
    return b;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

int runTool(const QString &program, const QStringList &args, const QString &workDir,
            QByteArray *out = nullptr, bool japanese = false)
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    if (japanese) {
        // With its "y" switch the Java lha converts between UTF-8 names on disk and
        // code-page-932 names in the archive; it needs a UTF-8 locale for the first.
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        p.setProcessEnvironment(env);
    }
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// One piece of an LZ77 stream: a literal (length 0) or a match of `length` bytes from
// `distance` bytes back.
struct Token
{
    int length = 0;
    quint32 distance = 0;
    quint8 literal = 0;
};

// What the tokens stand for, byte by byte as the format defines it.
QByteArray expand(const std::vector<Token> &tokens)
{
    QByteArray out;
    for (const Token &t : tokens) {
        if (t.length == 0)
            out.append(char(t.literal));
        for (int k = 0; k < t.length; ++k)
            out.append(out[out.size() - qsizetype(t.distance)]);
    }
    return out;
}

// Code lengths of the literal/length and the position codes a crafted stream uses; each
// must fill its code space exactly, so that any LHA reader accepts it.
struct CodeLengths
{
    std::vector<uint8_t> c, p;
};

// Literals 0 and 1 in 8 bits, every other literal and length in 9, positions in k and
// k + 1 bits: short codes that fall at every bit position of the input.
CodeLengths shortCodes(const lzh::MethodParams &method)
{
    CodeLengths codes{std::vector<uint8_t>(lzh::kNC, 9), {}};
    codes.c[0] = codes.c[1] = 8;
    const int k = std::bit_width(unsigned(method.np)) - 1;
    for (int i = 0; i < method.np; ++i)
        codes.p.push_back(uint8_t(i < (2 << k) - method.np ? k : k + 1));
    return codes;
}

// Codes of 1 to 16 bits for the literals 'A' to 'O' and 0, and the match of 256 bytes;
// positions of 1 to 16 bits, the farthest one 16. A far match then takes 47 bits.
CodeLengths longCodes()
{
    CodeLengths codes{std::vector<uint8_t>(lzh::kNC, 0), {}};
    for (int i = 0; i < 15; ++i)
        codes.c['A' + i] = uint8_t(i + 1);
    codes.c[0] = codes.c[lzh::kNC - 1] = 16;
    for (int i = 0; i < lzh::kLh7.np; ++i)
        codes.p.push_back(uint8_t(std::min(i + 1, 16)));
    return codes;
}

// Writes the tokens as -lh5-/-lh6-/-lh7- data with the given codes, so that a test chooses
// every literal and match itself.
QByteArray craftStream(const std::vector<Token> &tokens, const lzh::MethodParams &method, size_t blockSymbols,
                       const CodeLengths &codes)
{
    QByteArray out;
    quint64 acc = 0;
    int bits = 0;
    auto put = [&](quint32 value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc = acc << 1 | ((value >> i) & 1);
            if (++bits == 8) {
                out.append(char(acc & 0xFF));
                bits = 0;
            }
        }
    };
    // Writes code lengths as the position and code-length tables hold them.
    auto putLength = [&](int len) {
        put(quint32(std::min(len, 7)), 3);
        for (int i = 7; i < len; ++i)
            put(1, 1);
        if (len >= 7)
            put(0, 1);
    };
    // The code for the literal/length code lengths: all 19 symbols, 13 in 4 bits and 6 in 5.
    uint8_t tLen[lzh::kNT];
    for (int i = 0; i < lzh::kNT; ++i)
        tLen[i] = uint8_t(i < 13 ? 4 : 5);
    uint16_t tCode[lzh::kNT], cCode[lzh::kNC], pCode[17];
    lzh::canonicalCodes(tLen, lzh::kNT, tCode);
    lzh::canonicalCodes(codes.c.data(), lzh::kNC, cCode);
    lzh::canonicalCodes(codes.p.data(), method.np, pCode);

    for (size_t first = 0; first < tokens.size(); first += blockSymbols) {
        const size_t count = std::min(blockSymbols, tokens.size() - first);
        put(quint32(count), 16);
        put(lzh::kNT, lzh::kTBits);
        for (int i = 0; i < lzh::kNT; ++i) {
            putLength(tLen[i]);
            if (i == 2)
                put(0, 2); // no run of zero lengths after the third
        }
        put(lzh::kNC, lzh::kCBits);
        for (const uint8_t len : codes.c) {
            const int t = len == 0 ? 0 : len + 2; // 0: a run of one zero length
            put(tCode[t], tLen[t]);
        }
        put(quint32(method.np), method.pBits);
        for (int i = 0; i < method.np; ++i)
            putLength(codes.p[size_t(i)]);
        for (size_t i = first; i < first + count; ++i) {
            const Token &t = tokens[i];
            const int c = t.length == 0 ? t.literal : 256 + t.length - lzh::kMinMatch;
            put(cCode[c], codes.c[size_t(c)]);
            if (t.length == 0)
                continue;
            const quint32 p = t.distance - 1;
            const int symbol = p < 2 ? int(p) : std::bit_width(p);
            put(pCode[symbol], codes.p[size_t(symbol)]);
            if (symbol > 1)
                put(p - (1u << (symbol - 1)), symbol - 1);
        }
    }
    if (bits > 0)
        put(0, 8 - bits);
    return out;
}

// Random literals and matches of every length, from every distance the data so far and
// the method's dictionary allow, the farthest ones included.
std::vector<Token> randomTokens(size_t n, const lzh::MethodParams &method, quint32 seed)
{
    QRandomGenerator rng(seed);
    std::vector<Token> tokens;
    quint64 produced = 0;
    const quint32 dictionary = 1u << method.dicBits;
    for (size_t i = 0; i < n; ++i) {
        const quint32 r = rng.generate();
        if (produced < 16 || r % 5 < 2) {
            tokens.push_back({0, 0, quint8(r >> 8)});
            ++produced;
            continue;
        }
        const quint32 reach = quint32(std::min<quint64>(produced, dictionary));
        const quint32 pick = rng.generate();
        const quint32 distance = pick % 8 == 0  ? reach
                                 : pick % 8 < 4 ? 1 + pick / 8 % std::min(reach, 40u)
                                                : 1 + pick / 8 % reach;
        const int length = lzh::kMinMatch + int(rng.generate() % (lzh::kMaxMatch - lzh::kMinMatch + 1));
        tokens.push_back({length, distance, 0});
        produced += quint64(length);
    }
    return tokens;
}

// Hands out a few bytes per read, as a network connection does.
class TrickleSource : public lzh::ByteSource
{
  public:
    explicit TrickleSource(const QByteArray &data) : m_data(data) {}
    size_t read(uint8_t *data, size_t size) override
    {
        const size_t n = std::min({size, size_t(1 + m_reads++ % 13), size_t(m_data.size() - m_pos)});
        std::memcpy(data, m_data.constData() + m_pos, n);
        m_pos += qsizetype(n);
        return n;
    }

  private:
    QByteArray m_data;
    qsizetype m_pos = 0;
    size_t m_reads = 0;
};

const lzh::MethodParams &methodParams(const QByteArray &method)
{
    return method == "-lh5-" ? lzh::kLh5 : method == "-lh6-" ? lzh::kLh6 : lzh::kLh7;
}

} // namespace

class TstLzh : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void crcOfCheckString();
    void crcOfLongDataFollowsTheDefinition();
    void roundTrip_data();
    void roundTrip();
    void headerFieldsAndJapaneseName();
    void headerOf256BytesIsPadded();
    void addingKeepsOtherEntriesAndReplacesSameName();
    void unpackReplacesExistingFile();
    void packFailures();
    void unsafeNamesStayInsideDestination_data();
    void unsafeNamesStayInsideDestination();
    void refusedNames_data();
    void refusedNames();
    void corruptArchivesLeaveNothing_data();
    void corruptArchivesLeaveNothing();
    void headerLevelsReadExtensionsAndRefuseDamage_data();
    void headerLevelsReadExtensionsAndRefuseDamage();
    void declaredSizeOverLimitWritesNothing();
    void onlyTheNamedEntryIsWritten();
    void failureRemovesEarlierEntries();
    void cancelStopsAndLeavesNothing();
    void cancelledPackLeavesTheArchiveAsItWas();
    void parallelPiecesJoinIntoOneStream();
    void parallelPackingReportsFailures();
    void probeChoosesMethodAndSearch_data();
    void probeChoosesMethodAndSearch();
    void oursUnpackWithLhasaAndLha();
    void largeAndStoredEntriesUnpackWithLhasaAndLha();
    void storedHeaderAloneCompletesToAnArchive();
    void lhaArchivesUnpackWithOurs_data();
    void lhaArchivesUnpackWithOurs();
    void craftedMatchesUnpackLikeLhasa_data();
    void craftedMatchesUnpackLikeLhasa();
    void shortReadsAndCutStreams();

  private:
    // Unpacks `arc` with lhasa into m_dir/lhasa and with the Java lha (UTF-8 names) into
    // m_dir/lha; false with the tools' output in `log` when one fails.
    bool unpackWithLhasaAndLha(const QString &arc, QByteArray *log);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_in, m_out;
};

bool TstLzh::unpackWithLhasaAndLha(const QString &arc, QByteArray *log)
{
    const QString byLhasa = m_dir->filePath(QStringLiteral("lhasa"));
    const QString byLha = m_dir->filePath(QStringLiteral("lha"));
    return QDir().mkpath(byLhasa) && QDir().mkpath(byLha) &&
           runTool(QStringLiteral("lhasa"), {QStringLiteral("xf"), arc}, byLhasa, log) == 0 &&
           runTool(QStringLiteral("lha"), {QStringLiteral("xy"), arc}, byLha, log, true) == 0;
}

void TstLzh::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_in = m_dir->filePath(QStringLiteral("in"));
    m_out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_in));
    QVERIFY(QDir().mkpath(m_out));
}

void TstLzh::cleanup()
{
    // QTemporaryDir cannot remove names that are not UTF-8; the byte-level call can.
    std::error_code ec;
    fs::remove_all(fs::path(QFile::encodeName(m_dir->path()).toStdString()), ec);
    m_dir.reset();
}

void TstLzh::crcOfCheckString()
{
    // The standard check value of CRC-16/ARC; also split across the four-byte fast path.
    const char *s = "123456789";
    QCOMPARE(lzh::crc16Update(0, reinterpret_cast<const uint8_t *>(s), 9), quint16(0xBB3D));
    const quint16 first = lzh::crc16Update(0, reinterpret_cast<const uint8_t *>(s), 5);
    QCOMPARE(lzh::crc16Update(first, reinterpret_cast<const uint8_t *>(s + 5), 4), quint16(0xBB3D));
}

void TstLzh::crcOfLongDataFollowsTheDefinition()
{
    // The fast paths for long data (eight bytes a step, 16, 64 and 256 folded at once) against the
    // definition one bit at a time, at every length and alignment around their steps, and
    // continuing from a value.
    const QByteArray data = randomBytes(2400, 61);
    auto bitwise = [](quint16 c, const char *p, qsizetype n) {
        while (n-- > 0) {
            c ^= quint8(*p++);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? quint16((c >> 1) ^ 0xA001) : quint16(c >> 1);
        }
        return c;
    };
    for (qsizetype n = 0; n <= 2300; n += (n < 200 ? 1 : 23)) {
        for (const quint16 start : {quint16(0), quint16(0xBEEF)}) {
            const qsizetype at = n % 5;
            const quint16 got =
                lzh::crc16Update(start, reinterpret_cast<const uint8_t *>(data.constData() + at), size_t(n));
            QCOMPARE(got, bitwise(start, data.constData() + at, n));
        }
    }
    // Two parts' CRCs join to the CRC of the whole, at every split.
    const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
    const quint16 whole = lzh::crc16Update(0, bytes, 1100);
    for (size_t split = 0; split <= 1100; split += 17)
        QCOMPARE(lzh::crc16Combine(lzh::crc16Update(0, bytes, split),
                                   lzh::crc16Update(0, bytes + split, 1100 - split), 1100 - split),
                 whole);
}

void TstLzh::roundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("method");
    QTest::newRow("empty") << QByteArray() << "-lh0-";
    QTest::newRow("one byte") << QByteArray("A") << "-lh0-";
    QTest::newRow("zeros") << QByteArray(3 * 1024 * 1024 + 7, '\0') << "-lh5-";
    QTest::newRow("short period") << QByteArray("abcabcabd").repeated(50000) << "-lh5-";
    QTest::newRow("random") << randomBytes(300000, 7) << "-lh0-";
    QTest::newRow("mixed") << mixedBytes(500000, 3) << "-lh5-";
    // Larger than the encoder's read buffer many times over, with matches across refills.
    QTest::newRow("large") << mixedBytes(12 * 1024 * 1024, 9) + randomBytes(100000, 5) << "-lh5-";
    // Large enough for the quick search.
    QTest::newRow("large, quick search") << mixedBytes(17 * 1024 * 1024, 10) << "-lh5-";
    QTest::newRow("random, probed") << randomBytes(1500000, 6) << "-lh0-";
}

void TstLzh::roundTrip()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, method);
    const QString src = m_in + QStringLiteral("/data.bin");
    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    writeBytes(src, data);
    QCOMPARE(lzh::packFile(P(arc), P(src), "data.bin"), int(lzh::Ok));

    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(arc), entries), int(lzh::Ok));
    QCOMPARE(entries.size(), size_t(1));
    QCOMPARE(QString::fromStdString(entries[0].method), method);
    QCOMPARE(entries[0].originalSize, uint64_t(data.size()));
    QCOMPARE(entries[0].level, 2);
    if (method == QStringLiteral("-lh5-"))
        QVERIFY(entries[0].packedSize < entries[0].originalSize);

    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QCOMPARE(filesIn(m_out), QStringList{QStringLiteral("data.bin")});
    QVERIFY(fileBytes(m_out + QStringLiteral("/data.bin")) == data);
    // The modification time travels with the file.
    QCOMPARE(QFileInfo(m_out + QStringLiteral("/data.bin")).lastModified().toSecsSinceEpoch(),
             QFileInfo(src).lastModified().toSecsSinceEpoch());
}

void TstLzh::headerFieldsAndJapaneseName()
{
    // "テスト.txt" in code page 932; the library keeps whatever bytes it is given.
    const QByteArray name("\x83\x65\x83\x58\x83\x67.txt");
    const QString src = m_in + QStringLiteral("/x");
    writeBytes(src, QByteArray("hello hello hello hello hello hello hello\n"));
    const QDateTime stamp(QDate(2024, 2, 29), QTime(12, 34, 56), Qt::UTC);
    {
        QFile f(src);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    QCOMPARE(lzh::packFile(P(arc), P(src), name.toStdString()), int(lzh::Ok));
    const QByteArray a = fileBytes(arc);
    QVERIFY(a.size() > 40);
    QCOMPARE(a.mid(2, 5), QByteArray("-lh5-"));
    QCOMPARE(a.mid(11, 4), QByteArray("\x2A\x00\x00\x00", 4)); // original size 42
    QCOMPARE(a.mid(15, 4), QByteArray("\xF0\x79\xE0\x65", 4)); // 0x65E079F0 = 2024-02-29 12:34:56 UTC
    QCOMPARE(a.mid(19, 2), QByteArray("\x20\x02", 2));         // level 2
    QCOMPARE(a.mid(26, 1), QByteArray("\x00", 1));             // header CRC extension first
    QCOMPARE(a.mid(29, 13), QByteArray("\x0D\x00\x01\x83\x65\x83\x58\x83\x67.txt", 13));
    QCOMPARE(a.mid(42, 2), QByteArray("\x00\x00", 2)); // no further extension
    const int headerSize = quint8(a[0]) | quint8(a[1]) << 8;
    QCOMPARE(headerSize, 44);
    QCOMPARE(a.right(1), QByteArray("\x00", 1)); // end of archive

    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QCOMPARE(readRaw(m_out, name), QByteArray("hello hello hello hello hello hello hello\n"));
}

void TstLzh::headerOf256BytesIsPadded()
{
    // 34 bytes plus a 222-byte name make 256: a header whose first byte is 0 would read
    // as the end of the archive, so one padding byte follows.
    const QByteArray name = QByteArray(218, 'n') + ".txt";
    writeBytes(m_in + QStringLiteral("/f"), QByteArray("padded"));
    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/f")), name.toStdString()), int(lzh::Ok));
    const QByteArray a = fileBytes(arc);
    QCOMPARE(a.left(2), QByteArray("\x01\x01", 2));
    QCOMPARE(a.mid(256, 1), QByteArray("\x00", 1));
    QCOMPARE(a.mid(257, 6), QByteArray("padded"));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QCOMPARE(fileBytes(m_out + QLatin1Char('/') + QString::fromLatin1(name)), QByteArray("padded"));
    QByteArray log;
    QCOMPARE(runTool(QStringLiteral("lhasa"), {QStringLiteral("t"), arc}, m_out, &log), 0);
}

void TstLzh::addingKeepsOtherEntriesAndReplacesSameName()
{
    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    writeBytes(m_in + QStringLiteral("/one"), QByteArray("first version"));
    writeBytes(m_in + QStringLiteral("/two"), mixedBytes(20000, 1));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/one")), "one"), int(lzh::Ok));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/two")), "two"), int(lzh::Ok));
    writeBytes(m_in + QStringLiteral("/one"), QByteArray("second version"));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/one")), "one"), int(lzh::Ok));

    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(arc), entries), int(lzh::Ok));
    QCOMPARE(entries.size(), size_t(2));
    QCOMPARE(QByteArray::fromStdString(entries[0].name), QByteArray("two"));
    QCOMPARE(QByteArray::fromStdString(entries[1].name), QByteArray("one"));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QCOMPARE(fileBytes(m_out + QStringLiteral("/one")), QByteArray("second version"));
    QCOMPARE(fileBytes(m_out + QStringLiteral("/two")), mixedBytes(20000, 1));
    // No temporary files remain beside the archive.
    QCOMPARE(filesIn(m_dir->path()), QStringList{QStringLiteral("a.lzh")});
}

void TstLzh::unpackReplacesExistingFile()
{
    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    writeBytes(m_in + QStringLiteral("/f"), QByteArray("new"));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/f")), "f"), int(lzh::Ok));
    writeBytes(m_out + QStringLiteral("/f"), QByteArray("old and longer"));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QCOMPARE(fileBytes(m_out + QStringLiteral("/f")), QByteArray("new"));
}

void TstLzh::packFailures()
{
    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/none")), "none"), int(lzh::ErrSourceMissing));
    QCOMPARE(lzh::packFile(P(arc), P(m_in), "in"), int(lzh::ErrSourceNotFile));
    writeBytes(m_in + QStringLiteral("/f"), QByteArray("x"));
    QCOMPARE(lzh::packFile(P(m_dir->filePath(QStringLiteral("no/such/a.lzh"))),
                           P(m_in + QStringLiteral("/f")), "f"),
             int(lzh::ErrArchiveCreate));
    QCOMPARE(lzh::packFile(P(m_out), P(m_in + QStringLiteral("/f")), "f"), int(lzh::ErrArchiveCreate));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/f")), ".."), int(lzh::ErrBadSourceName));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/f")), "a/b"), int(lzh::ErrBadSourceName));
    // Adding to something that is not an archive leaves it untouched.
    writeBytes(arc, QByteArray("not an archive at all, just text"));
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/f")), "f"), int(lzh::ErrNotArchive));
    QCOMPARE(fileBytes(arc), QByteArray("not an archive at all, just text"));
    QCOMPARE(filesIn(m_dir->path()), QStringList{QStringLiteral("a.lzh")});
}

void TstLzh::unsafeNamesStayInsideDestination_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("parent") << QByteArray("../evil") << QByteArray("evil");
    QTest::newRow("deep parent backslash") << QByteArray("a\\..\\..\\..\\evil") << QByteArray("evil");
    QTest::newRow("absolute") << QByteArray("/tmp/evil") << QByteArray("evil");
    QTest::newRow("drive letter") << QByteArray("C:\\WINDOWS\\evil") << QByteArray("evil");
    QTest::newRow("drive relative") << QByteArray("d:evil") << QByteArray("evil");
    QTest::newRow("level-2 folder byte") << QByteArray("..\xFF..\xFF"
                                                       "evil")
                                         << QByteArray("evil");
    // 0x5C as the second byte of a double-byte character is not a folder separator.
    QTest::newRow("so with 5C") << QByteArray("dir\\\x83\x5C.txt") << QByteArray("\x83\x5C.txt");
    QTest::newRow("lead byte then slash") << QByteArray("\x83/evil") << QByteArray("evil");
}

void TstLzh::unsafeNamesStayInsideDestination()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, expected);
    const QString dest = m_out + QStringLiteral("/a/b/c");
    QVERIFY(QDir().mkpath(dest));
    const QString arc = m_dir->filePath(QStringLiteral("evil.lzh"));
    writeBytes(arc, level0Entry(name, QByteArray("payload")) + QByteArray(1, '\0'));
    QCOMPARE(lzh::unpackArchive(P(arc), P(dest), nullptr), int(lzh::Ok));
    QCOMPARE(rawNamesIn(dest), QList<QByteArray>{expected});
    QCOMPARE(readRaw(dest, expected), QByteArray("payload"));
    QVERIFY(!QFile::exists(m_out + QStringLiteral("/a/b/evil")));
    QVERIFY(!QFile::exists(m_out + QStringLiteral("/evil")));
    QVERIFY(!QFile::exists(QStringLiteral("/tmp/evil")));
}

void TstLzh::refusedNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("dot") << QByteArray(".");
    QTest::newRow("dot dot") << QByteArray("..");
    QTest::newRow("folder only") << QByteArray("dir\\");
    QTest::newRow("parent at end") << QByteArray("a/..");
    QTest::newRow("nul inside") << QByteArray("a\0b", 3);
}

void TstLzh::refusedNames()
{
    QFETCH(QByteArray, name);
    const QString arc = m_dir->filePath(QStringLiteral("evil.lzh"));
    writeBytes(arc, level0Entry(name, QByteArray("payload")) + QByteArray(1, '\0'));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::ErrUnsafeName));
    QCOMPARE(filesIn(m_out), QStringList());
}

void TstLzh::corruptArchivesLeaveNothing_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("error");

    // A real -lh5- archive to damage.
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("f"));
    writeBytes(src, mixedBytes(200000, 4));
    const QString arc = dir.filePath(QStringLiteral("a.lzh"));
    QCOMPARE(lzh::packFile(P(arc), P(src), "f"), int(lzh::Ok));
    const QByteArray good = fileBytes(arc);
    const int headerSize = quint8(good[0]) | quint8(good[1]) << 8;

    QTest::newRow("not an archive") << QByteArray("PK\x03\x04 something else entirely")
                                    << int(lzh::ErrNotArchive);
    QTest::newRow("cut in header") << good.left(30) << int(lzh::ErrHeaderTruncated);
    QTest::newRow("cut in data") << good.left(good.size() / 2) << int(lzh::ErrDataTruncated);
    QByteArray flipped = good;
    flipped[headerSize + 5000] = char(flipped[headerSize + 5000] ^ 0x10);
    QTest::newRow("flipped data bit") << flipped << -1; // CRC or code error, either is right
    QByteArray badHeader = good;
    badHeader[headerSize - 3] = char(badHeader[headerSize - 3] ^ 1); // the name "f" becomes "g"
    QTest::newRow("header CRC") << badHeader << int(lzh::ErrHeaderChecksum);
    QByteArray level3 = good;
    level3[20] = 3;
    QTest::newRow("level 3") << level3 << int(lzh::ErrHeaderLevel);
    QTest::newRow("unknown method") << level0Entry("f", "data", "-lh9-") << int(lzh::ErrUnknownMethod);
    QTest::newRow("stored sizes differ")
        << level0Entry("f", "data", "-lh0-", 40) << int(lzh::ErrSizeMismatch);
    // Claims 4 GB from a few packed bytes: the decoder runs out of input, no huge file.
    QTest::newRow("huge declared size")
        << level0Entry("f", good.mid(headerSize, 2000), "-lh5-", 0xFFFFFFF0u) << -1;
    QByteArray sum = level0Entry("f", "data");
    sum[1] = char(sum[1] + 1);
    QTest::newRow("level-0 checksum") << sum << int(lzh::ErrHeaderChecksum);

    // A stored entry as the probe writes it for data that does not pack.
    writeBytes(src, randomBytes(1100000, 8));
    QCOMPARE(lzh::packFile(P(arc), P(src), "f"), int(lzh::Ok));
    const QByteArray stored = fileBytes(arc);
    QCOMPARE(stored.mid(2, 5), QByteArray("-lh0-"));
    QTest::newRow("stored, cut in data") << stored.left(stored.size() / 2) << int(lzh::ErrDataTruncated);
    QByteArray storedFlipped = stored;
    storedFlipped[stored.size() - 100] = char(storedFlipped[stored.size() - 100] ^ 0x01);
    QTest::newRow("stored, flipped data bit") << storedFlipped << int(lzh::ErrCrcMismatch);
}

void TstLzh::corruptArchivesLeaveNothing()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, error);
    const QString arc = m_dir->filePath(QStringLiteral("bad.lzh"));
    writeBytes(arc, archive);
    const int r = lzh::unpackArchive(P(arc), P(m_out), nullptr);
    if (error >= 0)
        QCOMPARE(r, error);
    else
        QVERIFY2(r == lzh::ErrCrcMismatch || r == lzh::ErrDataCorrupt || r == lzh::ErrDataTruncated,
                 lzh::describe(r));
    QCOMPARE(filesIn(m_out), QStringList());
}

void TstLzh::headerLevelsReadExtensionsAndRefuseDamage_data()
{
    using CraftedArchives::level1Entry;
    using CraftedArchives::put32;
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<quint64>("packedSize");
    QTest::addColumn<quint64>("originalSize");
    QTest::addColumn<qint64>("mtime");

    const QByteArray end(1, '\0');
    QByteArray unixTime("\x54");
    put32(unixTime, 1700000000);
    QByteArray laterTime("\x54");
    put32(laterTime, 1800000000);
    // The first time extension wins; the size field less the extensions is the data.
    QTest::newRow("level 1, name and time from extensions")
        << level1Entry("short", "data", {QByteArray("\x01long-name.txt"), unixTime, laterTime}) + end
        << int(lzh::Ok) << QByteArray("long-name.txt") << quint64(4) << quint64(4) << qint64(1700000000);
    // A 64-bit size is the data's own size: nothing is taken off it, whatever the 32-bit
    // field (here only the extensions' 26 bytes) says.
    QByteArray sizes("\x42");
    put32(sizes, 4);
    put32(sizes, 0);
    put32(sizes, 0x2A05F200); // 5,000,000,000
    put32(sizes, 1);
    QTest::newRow("level 1, 64-bit sizes")
        << level1Entry("f", "data", {sizes, unixTime}, {}, 26) + end << int(lzh::Ok) << QByteArray("f")
        << quint64(4) << quint64(5000000000) << qint64(1700000000);
    const QByteArray name20("\x01" + QByteArray(20, 'n'));
    QTest::newRow("level 1, extension of 2 bytes")
        << level1Entry("f", "data", {name20}, {2}) + end << int(lzh::ErrHeaderCorrupt) << QByteArray()
        << quint64(0) << quint64(0) << qint64(0);
    QTest::newRow("level 1, extensions larger than the size field")
        << level1Entry("f", "data", {name20}, {}, 4) + end << int(lzh::ErrHeaderCorrupt) << QByteArray()
        << quint64(0) << quint64(0) << qint64(0);
    QTest::newRow("level 1, chain cut off")
        << level1Entry("f", "", {name20}).chopped(5) << int(lzh::ErrHeaderTruncated) << QByteArray()
        << quint64(0) << quint64(0) << qint64(0);
    // Each extension is as large as its 16-bit size allows; together they pass 1 MiB.
    const QList<QByteArray> huge(17, "\x40" + QByteArray(65532, 'x'));
    QTest::newRow("level 1, extensions beyond the bound")
        << level1Entry("f", "", huge) + end << int(lzh::ErrHeaderCorrupt) << QByteArray() << quint64(0)
        << quint64(0) << qint64(0);
    QByteArray sum = level1Entry("f", "data", {unixTime}) + end;
    sum[1] = char(sum[1] + 1);
    QTest::newRow("level 1 checksum")
        << sum << int(lzh::ErrHeaderChecksum) << QByteArray() << quint64(0) << quint64(0) << qint64(0);

    const QByteArray level2 =
        CraftedArchives::level2Entry("f", "data", "-lh0-", 4, CraftedArchives::crcOf("data"));
    QTest::newRow("level 2, 64-bit sizes")
        << level2 + end << int(lzh::Ok) << QByteArray("f") << quint64(4) << quint64(4) << qint64(1735689600);
    QByteArray past = level2;
    past[24] = char(0x00);
    past[25] = char(0x0F); // the first extension would end far beyond the header
    QTest::newRow("level 2, extension past the header")
        << past + end << int(lzh::ErrHeaderCorrupt) << QByteArray() << quint64(0) << quint64(0) << qint64(0);
    // A header too short for its fixed part: no archive when first, damage when later.
    QByteArray shortHeader = level2;
    shortHeader[0] = char(25);
    shortHeader[1] = char(0);
    QTest::newRow("level 2 too short, first")
        << shortHeader << int(lzh::ErrNotArchive) << QByteArray() << quint64(0) << quint64(0) << qint64(0);
    QTest::newRow("level 2 too short, second")
        << level0Entry("a", "x") + shortHeader << int(lzh::ErrHeaderCorrupt) << QByteArray() << quint64(0)
        << quint64(0) << qint64(0);
    QByteArray longName = level0Entry("f", "data");
    longName[21] = char(200);
    QTest::newRow("level 0 name beyond header, second")
        << level0Entry("a", "x") + longName << int(lzh::ErrHeaderCorrupt) << QByteArray() << quint64(0)
        << quint64(0) << qint64(0);
}

void TstLzh::headerLevelsReadExtensionsAndRefuseDamage()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, error);
    const QString arc = m_dir->filePath(QStringLiteral("levels.lzh"));
    writeBytes(arc, archive);
    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(arc), entries), error);
    if (error != lzh::Ok)
        return;
    QCOMPARE(entries.size(), size_t(1));
    QTEST(QByteArray::fromStdString(entries[0].name), "name");
    QTEST(quint64(entries[0].packedSize), "packedSize");
    QTEST(quint64(entries[0].originalSize), "originalSize");
    QTEST(qint64(entries[0].mtime), "mtime");
    // The data follows the extensions: unpacking finds it and its CRC.
    if (entries[0].originalSize == quint64(entries[0].packedSize))
        QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
}

void TstLzh::declaredSizeOverLimitWritesNothing()
{
    // A few packed bytes that claim 4 GB: refused from the header alone.
    const QString arc = m_dir->filePath(QStringLiteral("bomb.lzh"));
    writeBytes(arc,
              level0Entry("small", "tiny") + level0Entry("f", QByteArray(100, 'x'), "-lh5-", 0xFFFFFFF0u));
    lzh::UnpackOptions options;
    options.maxTotalBytes = quint64(1) << 30;
    uint64_t total = 0;
    QCOMPARE(lzh::declaredSize(P(arc), options, total), int(lzh::ErrOutputLimit));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr, options), int(lzh::ErrOutputLimit));
    QCOMPARE(filesIn(m_out), QStringList());

    // Exactly at the limit is allowed; one byte more is not.
    writeBytes(arc, level0Entry("a", QByteArray(600, 'a')) + level0Entry("b", QByteArray(400, 'b')));
    options.maxTotalBytes = 1000;
    QCOMPARE(lzh::declaredSize(P(arc), options, total), int(lzh::Ok));
    QCOMPARE(total, uint64_t(1000));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr, options), int(lzh::Ok));
    QCOMPARE(filesIn(m_out), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    QDir(m_out).removeRecursively();
    QDir().mkpath(m_out);
    options.maxTotalBytes = 999;
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr, options), int(lzh::ErrOutputLimit));
    QCOMPARE(filesIn(m_out), QStringList());
    // Only the selected entry counts against the limit.
    options.onlyEntry = "b";
    QCOMPARE(lzh::declaredSize(P(arc), options, total), int(lzh::Ok));
    QCOMPARE(total, uint64_t(400));
}

void TstLzh::onlyTheNamedEntryIsWritten()
{
    // Many entries, one wanted: the others never reach the disk.
    QByteArray archive;
    for (int i = 0; i < 2000; ++i)
        archive += level0Entry("extra" + QByteArray::number(i), QByteArray());
    archive += level0Entry("dir\\wanted.bmp", "the picture");
    archive += level0Entry("other.bmp", "not this");
    const QString arc = m_dir->filePath(QStringLiteral("many.lzh"));
    writeBytes(arc, archive);
    lzh::UnpackOptions options;
    options.onlyEntry = "wanted.bmp";
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr, options), int(lzh::Ok));
    QCOMPARE(filesIn(m_out), QStringList{QStringLiteral("wanted.bmp")});
    QCOMPARE(fileBytes(m_out + QStringLiteral("/wanted.bmp")), QByteArray("the picture"));
    // A name that is not there writes nothing and is no error of the archive.
    QDir(m_out).removeRecursively();
    QDir().mkpath(m_out);
    options.onlyEntry = "missing.bmp";
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr, options), int(lzh::Ok));
    QCOMPARE(filesIn(m_out), QStringList());
}

void TstLzh::failureRemovesEarlierEntries()
{
    QByteArray second = level0Entry("second", "data");
    second[second.size() - 1] = 'X'; // the stored CRC no longer matches
    const QString arc = m_dir->filePath(QStringLiteral("half.lzh"));
    writeBytes(arc, level0Entry("first", "fine") + second);
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::ErrCrcMismatch));
    QCOMPARE(filesIn(m_out), QStringList());
}

void TstLzh::cancelStopsAndLeavesNothing()
{
    const QString src = m_in + QStringLiteral("/big.bin");
    writeBytes(src, mixedBytes(4 * 1024 * 1024, 2));
    const QString arc = m_dir->filePath(QStringLiteral("big.lzh"));
    QCOMPARE(lzh::packFile(P(arc), P(src), "big.bin"), int(lzh::Ok));
    writeBytes(m_in + QStringLiteral("/small.bin"), "small");
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/small.bin")), "small.bin"), int(lzh::Ok));

    // Stopped in the middle of an entry: the flag goes up as the first entry's output opens.
    std::atomic<bool> cancel{false};
    lzh::UnpackOptions options;
    options.cancel = &cancel;
    const lzh::NameMapper raiseFlag = [&cancel](std::string_view bare) {
        cancel = true;
        return fs::path(std::string(bare));
    };
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), raiseFlag, options), int(lzh::ErrCancelled));
    QCOMPARE(filesIn(m_out), QStringList());
    // Stopped before it began.
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr, options), int(lzh::ErrCancelled));
    QCOMPARE(filesIn(m_out), QStringList());
    cancel = false;
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr, options), int(lzh::Ok));
    QCOMPARE(filesIn(m_out), (QStringList{QStringLiteral("big.bin"), QStringLiteral("small.bin")}));
}

// A pack stopped from another thread (quit, or the last send of the file cancelled) ends
// with ErrCancelled and leaves the archive as it was and no temporary file beside it:
// stored, packed on one thread, and packed on every core while the flag goes up.
void TstLzh::cancelledPackLeavesTheArchiveAsItWas()
{
    const QString folder = m_dir->filePath(QStringLiteral("packs"));
    QVERIFY(QDir().mkpath(folder));
    const QString arc = folder + QStringLiteral("/keep.lzh");
    writeBytes(m_in + QStringLiteral("/small.bin"), "small");
    QCOMPARE(lzh::packFile(P(arc), P(m_in + QStringLiteral("/small.bin")), "small.bin"), int(lzh::Ok));
    const QByteArray before = [&arc] {
        QFile f(arc);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QVERIFY(!before.isEmpty());
    const QString stored = m_in + QStringLiteral("/random.bin");
    writeBytes(stored, randomBytes(3 << 20, 5));
    const QString text = m_in + QStringLiteral("/text.bin");
    writeBytes(text, mixedBytes(2 << 20, 6));
    const QString large = m_in + QStringLiteral("/large.bin");
    writeBytes(large, mixedBytes(48 << 20, 8));

    std::atomic<bool> cancel{true};
    lzh::PackOptions options;
    options.cancel = &cancel;
    const auto unchanged = [&] {
        QFile f(arc);
        return filesIn(folder) == QStringList{QStringLiteral("keep.lzh")} && f.open(QIODevice::ReadOnly) &&
               f.readAll() == before;
    };
    QCOMPARE(lzh::packFile(P(arc), P(stored), "random.bin", options), int(lzh::ErrCancelled));
    QVERIFY(unchanged());
    QCOMPARE(lzh::packFile(P(arc), P(text), "text.bin", options), int(lzh::ErrCancelled));
    QVERIFY(unchanged());
    options.headerOnlyWhenStored = true;
    QCOMPARE(lzh::packFile(P(folder + QStringLiteral("/new.lzh")), P(stored), "random.bin", options),
             int(lzh::ErrCancelled));
    QVERIFY(unchanged());
    options.headerOnlyWhenStored = false;

    // Raised while the pieces are packed: once the temporary archive holds packed output.
    cancel = false;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done.load()) {
            for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
                if (file.fileName() != QLatin1String("keep.lzh") && file.size() > (1 << 20))
                    cancel = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const int result = lzh::packFile(P(arc), P(large), "large.bin", options);
    done = true;
    watcher.join();
    QVERIFY2(cancel.load(), "the pack ended before the watcher saw its output");
    QCOMPARE(result, int(lzh::ErrCancelled));
    QVERIFY(unchanged());
}

void TstLzh::parallelPiecesJoinIntoOneStream()
{
    // Pieces packed side by side, their bit streams joined at any bit position: one
    // stream that decodes whole, the same bytes whatever the number of threads, and about
    // the size of one encoder's.
    const QByteArray data = mixedBytes(9 << 20, 71) + randomBytes(300000, 72) + mixedBytes(5000, 73);
    auto pack = [&](int threads, lzh::EncodeResult &result) {
        lzh::MemorySource source(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
        lzh::MemorySink sink;
        const int r =
            lzh::encodeLh5Parallel(source, sink, result, 0xFFFFFFFFull, lzh::EncoderTuning::fast(), threads);
        return r == lzh::Ok ? sink.bytes : std::vector<uint8_t>();
    };
    lzh::EncodeResult one, two, three, whole;
    const std::vector<uint8_t> byOne = pack(1, one);
    const std::vector<uint8_t> byTwo = pack(2, two);
    const std::vector<uint8_t> byThree = pack(3, three);
    QVERIFY(!byOne.empty());
    QVERIFY(byOne == byTwo);
    QVERIFY(byOne == byThree);
    QCOMPARE(two.crc, one.crc);
    QCOMPARE(one.originalSize, uint64_t(data.size()));
    QCOMPARE(one.packedSize, uint64_t(byOne.size()));

    lzh::MemorySource plain(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
    lzh::MemorySink single;
    QCOMPARE(lzh::encodeLh5(plain, single, whole, 0xFFFFFFFFull, lzh::EncoderTuning::fast()), int(lzh::Ok));
    QCOMPARE(one.crc, whole.crc);
    QVERIFY2(double(byOne.size()) < 1.01 * double(single.bytes.size()),
             qPrintable(QStringLiteral("%1 vs %2").arg(byOne.size()).arg(single.bytes.size())));

    lzh::MemorySource packed(byOne.data(), byOne.size());
    lzh::LimitedSource limited(packed, byOne.size());
    lzh::MemorySink back(size_t(data.size()));
    uint16_t crc = 0;
    QCOMPARE(lzh::decodeEntry("-lh5-", limited, uint64_t(data.size()), back, crc), int(lzh::Ok));
    QCOMPARE(crc, one.crc);
    QVERIFY(back.bytes == std::vector<uint8_t>(data.begin(), data.end()));
}

void TstLzh::parallelPackingReportsFailures()
{
    // Input of whole pieces only: the end shows as a read of nothing.
    const QByteArray data = mixedBytes(3 * int(lzh::kParallelPieceBytes), 81);
    const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
    const lzh::EncoderTuning fast = lzh::EncoderTuning::fast();
    lzh::EncodeResult result;
    for (int threads : {1, 2}) {
        // Input beyond the limit, found while earlier pieces are being packed.
        lzh::MemorySource source(bytes, size_t(data.size()));
        lzh::MemorySink sink;
        QCOMPARE(
            lzh::encodeLh5Parallel(source, sink, result, 2 * lzh::kParallelPieceBytes + 1, fast, threads),
            int(lzh::ErrSourceTooLarge));
        // An archive that takes a quarter of a piece: the write fails while the next
        // pieces are being packed.
        lzh::MemorySource again(bytes, size_t(data.size()));
        lzh::MemorySink small(lzh::kParallelPieceBytes / 4);
        QCOMPARE(lzh::encodeLh5Parallel(again, small, result, 0xFFFFFFFFull, fast, threads),
                 int(lzh::ErrArchiveWrite));
    }
    // Exactly at the limit it packs, and decodes whole.
    lzh::MemorySource source(bytes, size_t(data.size()));
    lzh::MemorySink sink;
    QCOMPARE(lzh::encodeLh5Parallel(source, sink, result, uint64_t(data.size()), fast, 2), int(lzh::Ok));
    lzh::MemorySource packed(sink.bytes.data(), sink.bytes.size());
    lzh::LimitedSource limited(packed, sink.bytes.size());
    lzh::MemorySink back(size_t(data.size()));
    uint16_t crc = 0;
    QCOMPARE(lzh::decodeEntry("-lh5-", limited, uint64_t(data.size()), back, crc), int(lzh::Ok));
    QCOMPARE(crc, result.crc);
    QVERIFY(back.bytes == std::vector<uint8_t>(data.begin(), data.end()));

    // A read that fails: a folder opened as a file.
    std::FILE *folder = std::fopen(QFile::encodeName(m_in).constData(), "rb");
    QVERIFY(folder);
    lzh::FileSource unreadable(folder);
    lzh::MemorySink nothing;
    const int r = lzh::encodeLh5Parallel(unreadable, nothing, result, 0xFFFFFFFFull, fast, 2);
    std::fclose(folder);
    QCOMPARE(r, int(lzh::ErrSourceRead));
}

void TstLzh::probeChoosesMethodAndSearch_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("fastSearch");
    QTest::addColumn<QString>("written"); // the entry's method in the end
    const int autoMethod = int(lzh::PackMethod::Auto);
    // Below the probe's size everything is packed as before: random data is stored only
    // after -lh5- made it larger, as -lh5- does with random data when forced.
    QTest::newRow("small random") << randomBytes(600000, 1) << autoMethod << false << false
                                  << QStringLiteral("-lh0-");
    QTest::newRow("random") << randomBytes(3 << 20, 2) << autoMethod << true << false
                            << QStringLiteral("-lh0-");
    // Random pieces with a little text between them: a photo with its metadata.
    QByteArray photo;
    while (photo.size() < (3 << 20))
        photo += randomBytes(60000, quint32(photo.size())) + QByteArray("Exif\0\0MM").repeated(200);
    QTest::newRow("mostly random") << photo << autoMethod << true << false << QStringLiteral("-lh0-");
    QTest::newRow("text") << mixedBytes(3 << 20, 3) << autoMethod << false << false
                          << QStringLiteral("-lh5-");
    // Half random, half text packs well enough to be worth it.
    QTest::newRow("half random") << randomBytes(3 << 19, 4) + mixedBytes(3 << 19, 4) << autoMethod << false
                                 << false << QStringLiteral("-lh5-");
    QTest::newRow("large text") << mixedBytes(17 << 20, 5) << autoMethod << false << true
                                << QStringLiteral("-lh5-");
    // A long run packs so well that the thorough search costs nothing.
    QTest::newRow("large zeros") << QByteArray(17 << 20, '\0') << autoMethod << false << false
                                 << QStringLiteral("-lh5-");
    QTest::newRow("forced -lh5-") << randomBytes(3 << 20, 6) << int(lzh::PackMethod::Lh5) << false << false
                                  << QStringLiteral("-lh0-");
    QTest::newRow("forced stored") << mixedBytes(2000, 7) << int(lzh::PackMethod::Stored) << true << false
                                   << QStringLiteral("-lh0-");
}

void TstLzh::probeChoosesMethodAndSearch()
{
    QFETCH(QByteArray, data);
    QFETCH(int, method);
    QFETCH(bool, stored);
    QFETCH(bool, fastSearch);
    QFETCH(QString, written);
    const QString src = m_in + QStringLiteral("/data.bin");
    writeBytes(src, data);
    lzh::PackOptions options;
    options.method = lzh::PackMethod(method);
    std::FILE *f = std::fopen(QFile::encodeName(src).constData(), "rb");
    QVERIFY(f);
    const lzh::PackPlan plan = lzh::planPack(f, uint64_t(data.size()), options);
    const long at = std::ftell(f);
    std::fclose(f);
    // The probe leaves the file at its start for the packer.
    QCOMPARE(at, 0L);
    QCOMPARE(plan.stored, stored);
    QCOMPARE(plan.fastSearch, fastSearch);

    const QString arc = m_dir->filePath(QStringLiteral("a.lzh"));
    QCOMPARE(lzh::packFile(P(arc), P(src), "data.bin", options), int(lzh::Ok));
    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(arc), entries), int(lzh::Ok));
    QCOMPARE(QString::fromStdString(entries.at(0).method), written);
    QCOMPARE(entries[0].originalSize, uint64_t(data.size()));
    if (written == QStringLiteral("-lh0-"))
        QCOMPARE(entries[0].packedSize, uint64_t(data.size()));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QVERIFY(fileBytes(m_out + QStringLiteral("/data.bin")) == data);
}

void TstLzh::oursUnpackWithLhasaAndLha()
{
    if (QStandardPaths::findExecutable(QStringLiteral("lhasa")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("lha")).isEmpty())
        QFAIL("lhasa and lha (jlha-utils) are needed: run scripts/setup");
    const QByteArray jpName("\x83\x65\x83\x58\x83\x67.txt"); // テスト.txt
    const QList<QPair<QByteArray, QByteArray>> files = {
        {"text.txt", mixedBytes(150000, 11)},
        {"zeros.bin", QByteArray(70000, '\0')},
        {"random.bin", randomBytes(5000, 12)},
        {"empty", QByteArray()},
        {"CAPT7F000001.BMP", QByteArray("BM upper-case names stay upper case")},
        {jpName, QByteArray("\x83\x65\x83\x58\x83\x67\r\n")},
    };
    const QString arc = m_dir->filePath(QStringLiteral("ours.lzh"));
    for (const auto &f : files) {
        const QString src = m_in + QStringLiteral("/src");
        writeBytes(src, f.second);
        QCOMPARE(lzh::packFile(P(arc), P(src), f.first.toStdString()), int(lzh::Ok));
    }
    QByteArray listing;
    QCOMPARE(runTool(QStringLiteral("lhasa"), {QStringLiteral("l"), arc}, m_out, &listing), 0);
    QVERIFY2(listing.contains("text.txt") && listing.contains("zeros.bin") && listing.contains("6 files"),
             listing);
    QCOMPARE(runTool(QStringLiteral("lhasa"), {QStringLiteral("t"), arc}, m_out, &listing), 0);

    QVERIFY2(unpackWithLhasaAndLha(arc, &listing), listing);
    const QString byLhasa = m_dir->filePath(QStringLiteral("lhasa"));
    const QString byLha = m_dir->filePath(QStringLiteral("lha"));
    for (const auto &f : files) {
        // lhasa keeps the name bytes; the Java lha turns code page 932 into UTF-8 names.
        QCOMPARE(readRaw(byLhasa, f.first), f.second);
        const QString utf8Name =
            f.first == jpName ? QStringLiteral("テスト.txt") : QString::fromLatin1(f.first);
        QCOMPARE(fileBytes(byLha + QLatin1Char('/') + utf8Name), f.second);
    }
}

void TstLzh::largeAndStoredEntriesUnpackWithLhasaAndLha()
{
    // Every method the packer chooses for a large file: stored after the probe (with a
    // Japanese name), -lh5- with the quick search, -lh5- with the thorough search on a
    // picture-like run, and an empty file next to them.
    const QByteArray jpName("\x83\x65\x83\x58\x83\x67\x20\x8E\xCA\x90\x5E.jpg"); // テスト 写真.jpg
    const QString jpUtf8 = QStringLiteral("テスト 写真.jpg");
    struct File
    {
        QByteArray name;
        QByteArray data;
        const char *method;
    };
    const QList<File> files = {
        {jpName, randomBytes(5 << 20, 31), "-lh0-"},
        {"program.bin", mixedBytes(17 << 20, 32), "-lh5-"},
        {"CAPT7F000002.BMP", QByteArray(3 << 20, '\x5A') + mixedBytes(100000, 33), "-lh5-"},
        {"empty.dat", QByteArray(), "-lh0-"},
    };
    const QString arc = m_dir->filePath(QStringLiteral("ours.lzh"));
    for (const File &f : files) {
        const QString src = m_in + QStringLiteral("/src");
        writeBytes(src, f.data);
        QCOMPARE(lzh::packFile(P(arc), P(src), f.name.toStdString()), int(lzh::Ok));
    }
    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(arc), entries), int(lzh::Ok));
    QCOMPARE(entries.size(), size_t(files.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        QCOMPARE(QByteArray::fromStdString(entries[i].name), files[qsizetype(i)].name);
        QCOMPARE(entries[i].method, std::string(files[qsizetype(i)].method));
    }

    QByteArray log;
    QCOMPARE(runTool(QStringLiteral("lhasa"), {QStringLiteral("t"), arc}, m_out, &log), 0);
    QVERIFY2(unpackWithLhasaAndLha(arc, &log), log);
    const QString byLhasa = m_dir->filePath(QStringLiteral("lhasa"));
    const QString byLha = m_dir->filePath(QStringLiteral("lha"));
    for (const File &f : files) {
        QVERIFY2(readRaw(byLhasa, f.name) == f.data, f.name.constData());
        const QString utf8Name = f.name == jpName ? jpUtf8 : QString::fromLatin1(f.name);
        QVERIFY2(fileBytes(byLha + QLatin1Char('/') + utf8Name) == f.data, f.name.constData());
    }
}

void TstLzh::storedHeaderAloneCompletesToAnArchive()
{
    // For a transfer, a stored entry leaves only its header; the header, the file and the
    // end mark one after another make an archive that lhasa, lha and we unpack.
    const QByteArray jpName("\x8E\xCA\x90\x5E.jpg"); // 写真.jpg
    const QByteArray photo = randomBytes(2 << 20, 51);
    const QString src = m_in + QStringLiteral("/photo");
    writeBytes(src, photo);
    lzh::PackOptions forSending;
    forSending.headerOnlyWhenStored = true;
    const QString head = m_dir->filePath(QStringLiteral("head.lzh"));
    QCOMPARE(lzh::packFile(P(head), P(src), jpName.toStdString(), forSending), int(lzh::Ok));
    lzh::StoredBehind behind;
    QVERIFY(lzh::storedBehind(P(head), behind));
    QCOMPARE(behind.dataBytes, uint64_t(photo.size()));
    QCOMPARE(qint64(behind.headerBytes), QFileInfo(head).size());

    const QString arc = m_dir->filePath(QStringLiteral("whole.lzh"));
    writeBytes(arc, fileBytes(head) + photo + QByteArray(1, '\0'));
    QVERIFY(!lzh::storedBehind(P(arc), behind));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QCOMPARE(readRaw(m_out, jpName), photo);
    QByteArray log;
    QVERIFY2(unpackWithLhasaAndLha(arc, &log), log);
    const QString byLhasa = m_dir->filePath(QStringLiteral("lhasa"));
    const QString byLha = m_dir->filePath(QStringLiteral("lha"));
    QCOMPARE(readRaw(byLhasa, jpName), photo);
    QCOMPARE(fileBytes(byLha + QStringLiteral("/写真.jpg")), photo);

    // Data that packs, and an archive that already holds entries, are written whole.
    const QString text = m_in + QStringLiteral("/text");
    writeBytes(text, mixedBytes(2 << 20, 52));
    const QString packed = m_dir->filePath(QStringLiteral("packed.lzh"));
    QCOMPARE(lzh::packFile(P(packed), P(text), "text", forSending), int(lzh::Ok));
    QVERIFY(!lzh::storedBehind(P(packed), behind));
    QCOMPARE(lzh::packFile(P(packed), P(src), "photo", forSending), int(lzh::Ok));
    QVERIFY(!lzh::storedBehind(P(packed), behind));
    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(packed), entries), int(lzh::Ok));
    QCOMPARE(entries.size(), size_t(2));
    QCOMPARE(entries[1].method, std::string("-lh0-"));

    // A large file's CRC is taken in parts side by side; parts of odd lengths join to the
    // CRC of the whole, which the unpack checks.
    const QByteArray video = randomBytes((16 << 20) + 13, 53);
    const QString large = m_in + QStringLiteral("/video");
    writeBytes(large, video);
    const QString videoHead = m_dir->filePath(QStringLiteral("video-head.lzh"));
    QCOMPARE(lzh::packFile(P(videoHead), P(large), "video", forSending), int(lzh::Ok));
    QVERIFY(lzh::storedBehind(P(videoHead), behind));
    QCOMPARE(behind.dataBytes, uint64_t(video.size()));
    writeBytes(arc, fileBytes(videoHead) + video + QByteArray(1, '\0'));
    QCOMPARE(lzh::listArchive(P(arc), entries), int(lzh::Ok));
    QCOMPARE(entries[0].crc,
             lzh::crc16Update(0, reinterpret_cast<const uint8_t *>(video.constData()), size_t(video.size())));
    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
}

void TstLzh::lhaArchivesUnpackWithOurs_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<int>("level");
    QTest::newRow("lh5 level 2") << "ayo52" << QByteArray("-lh5-") << 2;
    QTest::newRow("lh5 level 1") << "ay1o5" << QByteArray("-lh5-") << 1;
    QTest::newRow("lh5 level 0") << "ay0o5" << QByteArray("-lh5-") << 0;
    QTest::newRow("lh6") << "ayo6" << QByteArray("-lh6-") << 2;
    QTest::newRow("lh7") << "ayo7" << QByteArray("-lh7-") << 2;
    QTest::newRow("stored") << "ayz" << QByteArray("-lh0-") << 2;
    QTest::newRow("stored, large") << "ayz" << QByteArray("-lh0-") << 2;
}

void TstLzh::lhaArchivesUnpackWithOurs()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, method);
    QFETCH(int, level);
    // The large row: more than the unpacker's buffers many times over.
    const QByteArray text = QByteArray(QTest::currentDataTag()).endsWith("large")
                                ? randomBytes(6 << 20, 22) + mixedBytes(90000, 21)
                                : mixedBytes(90000, 21);
    const QByteArray jp = QByteArray("\x83\x65\x83\x58\x83\x67").repeated(500);
    writeBytes(m_in + QStringLiteral("/text.txt"), text);
    writeBytes(m_in + QStringLiteral("/テスト.txt"), jp);
    const QString arc = m_dir->filePath(QStringLiteral("theirs.lzh"));
    QByteArray log;
    QCOMPARE(runTool(QStringLiteral("lha"),
                     {command, arc, QStringLiteral("text.txt"), QStringLiteral("テスト.txt")}, m_in, &log,
                     true),
             0);
    std::vector<lzh::EntryInfo> entries;
    QCOMPARE(lzh::listArchive(P(arc), entries), int(lzh::Ok));
    QCOMPARE(entries.size(), size_t(2));
    QCOMPARE(QByteArray::fromStdString(entries[0].method), method);
    QCOMPARE(entries[0].level, level);
    QCOMPARE(QByteArray::fromStdString(entries[1].name), QByteArray("\x83\x65\x83\x58\x83\x67.txt"));

    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QCOMPARE(fileBytes(m_out + QStringLiteral("/text.txt")), text);
    QCOMPARE(readRaw(m_out, "\x83\x65\x83\x58\x83\x67.txt"), jp);
}

void TstLzh::craftedMatchesUnpackLikeLhasa_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("packed");

    // Every short distance, where a match overlaps the bytes it writes, with lengths
    // around the widths of whole-word copies.
    std::vector<Token> overlapping;
    QRandomGenerator rng(31);
    for (int i = 0; i < 64; ++i)
        overlapping.push_back({0, 0, quint8(rng.generate())});
    for (quint32 distance = 1; distance <= 40; ++distance) {
        for (const int length : {3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 100, 255, 256}) {
            overlapping.push_back({length, distance, 0});
            overlapping.push_back({0, 0, quint8(rng.generate())});
        }
    }
    QTest::newRow("lh5, overlapping matches")
        << QByteArray("-lh5-") << expand(overlapping)
        << craftStream(overlapping, lzh::kLh5, 65535, shortCodes(lzh::kLh5));
    // Megabytes from far more packed bytes than one read takes, in many blocks, with
    // matches from as far back as the method reaches.
    for (const QByteArray &method : {QByteArray("-lh5-"), QByteArray("-lh6-"), QByteArray("-lh7-")}) {
        const std::vector<Token> tokens = randomTokens(120000, methodParams(method), 40 + quint32(method[3]));
        QTest::newRow(method.mid(1, 3) + ", long stream")
            << method << expand(tokens)
            << craftStream(tokens, methodParams(method), 7001, shortCodes(methodParams(method)));
    }
    // The longest codes: second-level tables, and matches whose codes take 47 bits.
    std::vector<Token> far;
    for (int i = 0; i < 70000; ++i)
        far.push_back({0, 0, quint8(i % 3 == 0 ? 0 : 'A' + rng.generate() % 15)});
    for (int i = 0; i < 20000; ++i) {
        far.push_back({lzh::kMaxMatch, 32769 + rng.generate() % 32768, 0});
        far.push_back({0, 0, quint8(i % 2 == 0 ? 0 : 'A' + rng.generate() % 15)});
        far.push_back({lzh::kMaxMatch, 1 + rng.generate() % 65536, 0});
    }
    QTest::newRow("lh7, longest codes")
        << QByteArray("-lh7-") << expand(far) << craftStream(far, lzh::kLh7, 30000, longCodes());
}

void TstLzh::craftedMatchesUnpackLikeLhasa()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, packed);
    const QString arc = m_dir->filePath(QStringLiteral("crafted.lzh"));
    writeBytes(arc, CraftedArchives::level2Entry("data.bin", packed, method.constData(),
                                                quint64(expected.size()), CraftedArchives::crcOf(expected)) +
                       '\0');
    // lhasa reads the crafted data as intended, so the expected bytes are the format's.
    const QString byLhasa = m_dir->filePath(QStringLiteral("lhasa"));
    QVERIFY(QDir().mkpath(byLhasa));
    QByteArray log;
    QVERIFY2(runTool(QStringLiteral("lhasa"), {QStringLiteral("xf"), arc}, byLhasa, &log) == 0, log);
    QVERIFY(fileBytes(byLhasa + QStringLiteral("/data.bin")) == expected);

    QCOMPARE(lzh::unpackArchive(P(arc), P(m_out), nullptr), int(lzh::Ok));
    QVERIFY(fileBytes(m_out + QStringLiteral("/data.bin")) == expected);
}

void TstLzh::shortReadsAndCutStreams()
{
    const std::vector<Token> tokens = randomTokens(60000, lzh::kLh7, 77);
    const QByteArray expected = expand(tokens);
    const QByteArray packed = craftStream(tokens, lzh::kLh7, 60000, shortCodes(lzh::kLh7));
    const quint16 crc = CraftedArchives::crcOf(expected);
    auto decode = [&](lzh::ByteSource &source, quint64 packedSize, lzh::MemorySink &sink, uint16_t &got) {
        lzh::LimitedSource limited(source, packedSize);
        return lzh::decodeEntry("-lh7-", limited, quint64(expected.size()), sink, got);
    };

    // A few bytes per read: the same bytes and CRC as from memory in one piece.
    TrickleSource trickle(packed);
    lzh::MemorySink sink;
    uint16_t got = 0;
    QCOMPARE(decode(trickle, quint64(packed.size()), sink, got), int(lzh::Ok));
    QVERIFY(QByteArray(reinterpret_cast<const char *>(sink.bytes.data()), qsizetype(sink.bytes.size())) ==
            expected);
    QCOMPARE(got, crc);

    // The last bytes missing: with the shorter size declared the codes run past the data;
    // with the full size declared the archive itself ends early.
    const QByteArray cut = packed.left(packed.size() - 3);
    lzh::MemorySource shortData(reinterpret_cast<const uint8_t *>(cut.constData()), size_t(cut.size()));
    lzh::MemorySink corruptSink;
    QCOMPARE(decode(shortData, quint64(cut.size()), corruptSink, got), int(lzh::ErrDataCorrupt));
    lzh::MemorySource shortArchive(reinterpret_cast<const uint8_t *>(cut.constData()), size_t(cut.size()));
    lzh::MemorySink truncatedSink;
    QCOMPARE(decode(shortArchive, quint64(packed.size()), truncatedSink, got), int(lzh::ErrDataTruncated));
    // Whatever reached the sink before the error is the true start of the data.
    QVERIFY(corruptSink.bytes.size() < size_t(expected.size()));
    QVERIFY(std::equal(corruptSink.bytes.begin(), corruptSink.bytes.end(),
                       reinterpret_cast<const uint8_t *>(expected.constData())));
}

QTEST_GUILESS_MAIN(TstLzh)
#include "tst_lzh.moc"
