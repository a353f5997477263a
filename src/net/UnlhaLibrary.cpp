#include "net/UnlhaLibrary.h"

#include "base/AnsiCodec.h"
#include "lzh/Lh5Encoder.h"
#include "lzh/LhDecoder.h"
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

// The caller tells "try again later" from failures by this one number.
static_assert(UnlhaLibrary::kBusy < lzh::kFirstErrorCode || UnlhaLibrary::kBusy > lzh::kLastErrorCode);

namespace {

// Packs and unpacks a small sample in memory; a library that cannot do this is not ready.
bool selfCheck()
{
    std::vector<uint8_t> sample;
    for (int i = 0; i < 4096; ++i)
        sample.push_back(uint8_t("zorvin archiver self-check "[i % 27] ^ (i >> 7)));
    lzh::MemorySource src(sample.data(), sample.size());
    lzh::MemorySink packed;
    lzh::EncodeResult enc;
    if (lzh::encodeLh5(src, packed, enc) != lzh::Ok)
        return false;
    lzh::MemorySource packedSrc(packed.bytes.data(), packed.bytes.size());
    lzh::LimitedSource limited(packedSrc, packed.bytes.size());
    lzh::MemorySink unpacked(sample.size());
    uint16_t crc = 0;
    return lzh::decodeEntry("-lh5-", limited, sample.size(), unpacked, crc) == lzh::Ok &&
           unpacked.bytes == sample && crc == enc.crc;
}

} // namespace

std::filesystem::path UnlhaLibrary::fsPath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

UnlhaLibrary::UnlhaLibrary() = default;
UnlhaLibrary::~UnlhaLibrary() = default;

bool UnlhaLibrary::splitCommandLine(const QString &line, QStringList *words, QList<bool> *quoted)
{
    words->clear();
    if (quoted)
        quoted->clear();
    QString word;
    bool inWord = false, inQuote = false, wasQuoted = false;
    for (const QChar c : line) {
        if (c == u'"') {
            inQuote = !inQuote;
            inWord = wasQuoted = true;
        } else if (c == u' ' && !inQuote) {
            if (inWord) {
                words->append(word);
                if (quoted)
                    quoted->append(wasQuoted);
            }
            word.clear();
            inWord = wasQuoted = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inQuote)
        return false;
    if (inWord) {
        words->append(word);
        if (quoted)
            quoted->append(wasQuoted);
    }
    return true;
}

int UnlhaLibrary::Unlha(quintptr owner, const QString &commandLine, char *output, int outputSize,
                        const UnlhaLimits &limits)
{
    Q_UNUSED(owner)
    if (m_busy.exchange(true))
        return kBusy;
    const int result = run(commandLine, limits);
    if (output && outputSize > 0) {
        const QByteArray text = QByteArray(lzh::describe(result)).left(outputSize - 1);
        std::memcpy(output, text.constData(), size_t(text.size()));
        output[text.size()] = '\0';
    }
    m_busy.store(false);
    return result;
}

int UnlhaLibrary::run(const QString &commandLine, const UnlhaLimits &limits)
{
    QStringList words;
    QList<bool> quoted;
    if (!splitCommandLine(commandLine, &words, &quoted))
        return lzh::ErrUnbalancedQuote;
    QString verb;
    QStringList paths;
    for (int i = 0; i < words.size(); ++i) {
        if (!quoted[i] && words[i].startsWith(u'-'))
            continue; // switches
        if (verb.isEmpty() && !quoted[i])
            verb = words[i].toLower();
        else
            paths.append(words[i]);
    }
    if (verb != u"a" && verb != u"x" && verb != u"e")
        return lzh::ErrCommandUnknown;
    if (paths.isEmpty())
        return lzh::ErrMissingArchive;
    const std::filesystem::path archive = fsPath(paths.takeFirst());

    if (verb == u"a") {
        if (paths.isEmpty())
            return lzh::ErrMissingSource;
        for (const QString &file : paths) {
            const QByteArray stored = AnsiCodec::encode(QFileInfo(file).fileName());
            lzh::PackOptions options;
            options.headerOnlyWhenStored = limits.headerOnlyWhenStored;
            options.cancel = limits.cancel;
            options.inputRead = limits.inputRead;
            const int r = lzh::packFile(archive, fsPath(file), stored.toStdString(), options);
            if (r != lzh::Ok)
                return r;
        }
        return lzh::Ok;
    }

    // The destination folder, then the names of the entries to extract.
    const auto folder = std::find_if(paths.cbegin(), paths.cend(),
                                     [](const QString &p) { return p.endsWith(u'/') || p.endsWith(u'\\'); });
    if (folder == paths.cend())
        return lzh::ErrMissingDestination;
    QString destination = *folder;
    const QStringList entries(folder + 1, paths.cend());
    if (entries.size() > 1)
        return lzh::ErrTooManyEntries;
    if (destination.endsWith(u'\\'))
        destination.chop(1);
    lzh::UnpackOptions options;
    // Entries are matched by their stored name, which is in the code page.
    if (!entries.isEmpty())
        options.onlyEntry = AnsiCodec::encode(entries.first()).toStdString();
    options.maxTotalBytes = limits.maxTotalBytes;
    options.cancel = limits.cancel;
    return lzh::unpackArchive(
        archive, fsPath(destination),
        [](std::string_view bare) {
            const QString name = AnsiCodec::decode(QByteArrayView(bare.data(), qsizetype(bare.size())));
            return fsPath(name);
        },
        options);
}

int UnlhaLibrary::UnlhaGetVersion()
{
    if (m_version < 0)
        m_version = selfCheck() ? kVersion : 0;
    return m_version;
}

bool UnlhaLibrary::UnlhaSetCursorMode(int mode)
{
    m_cursorMode.store(mode);
    return true;
}
