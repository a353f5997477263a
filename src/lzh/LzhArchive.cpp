// The archive operations on the entry-header reader (EntryHeader.cpp): packing, listing and
// unpacking stay one unit, as they share the entry walk and the write-beside-then-rename rule.
#include "lzh/LzhArchive.h"

#include "lzh/Crc16.h"
#include "lzh/EntryHeader.h"
#include "lzh/Lh5Encoder.h"
#include "lzh/LhDecoder.h"
#include "lzh/LzhErrors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <system_error>
#include <thread>

namespace lzh {

namespace fs = std::filesystem;

namespace {

// Windows: names are in the ANSI code page (932 here). An MS-DOS id would make other LHA
// programs turn upper-case names such as "CAPT7F000001.BMP" into lower case.
constexpr uint8_t kOsId = 'W';

void put16(std::vector<uint8_t> &v, uint32_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t> &v, uint32_t x)
{
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

bool isLeadByte(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isTrailByte(uint8_t b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Creates a new temporary file in `folder` under a random name. The file must not exist
// yet ("x"), so a planted file or link is never followed or reused.
std::FILE *createTemporary(const fs::path &folder, const char *tag, fs::path *path)
{
    std::random_device random;
    for (int attempt = 0; attempt < 8; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".zorvin-%s-%08x%08x.tmp", tag, unsigned(random()),
                      unsigned(random()));
        *path = folder / name;
        if (std::FILE *f = std::fopen(path->c_str(), "wbx"))
            return f;
        if (errno != EEXIST)
            break;
    }
    path->clear();
    return nullptr;
}

std::vector<uint8_t> level2Header(const EntryInfo &e)
{
    std::vector<uint8_t> h;
    put16(h, 0); // total size, set below
    h.insert(h.end(), e.method.begin(), e.method.end());
    put32(h, uint32_t(e.packedSize));
    put32(h, uint32_t(e.originalSize));
    put32(h, uint32_t(e.mtime));
    h.push_back(0x20);
    h.push_back(2);
    put16(h, e.crc);
    h.push_back(kOsId);
    put16(h, 5); // the header-CRC extension follows
    const size_t crcAt = h.size() + 1;
    h.push_back(0x00);
    put16(h, 0);
    put16(h, uint32_t(3 + e.name.size()));
    h.push_back(0x01);
    h.insert(h.end(), e.name.begin(), e.name.end());
    put16(h, 0);
    // A first byte of 0 would read as the end of the archive.
    if ((h.size() & 0xFF) == 0)
        h.push_back(0);
    h[0] = uint8_t(h.size());
    h[1] = uint8_t(h.size() >> 8);
    const uint16_t hcrc = crc16Update(0, h.data(), h.size());
    h[crcAt] = uint8_t(hcrc);
    h[crcAt + 1] = uint8_t(hcrc >> 8);
    return h;
}

int64_t fileTimeToUnix(fs::file_time_type t)
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::file_clock::to_sys(t).time_since_epoch())
        .count();
}

void setFileTime(const fs::path &path, int64_t unixTime)
{
    std::error_code ec;
    const auto sys = std::chrono::system_clock::time_point(std::chrono::seconds(unixTime));
    fs::last_write_time(path, std::chrono::file_clock::from_sys(sys), ec);
}

} // namespace

std::string bareName(std::string_view stored)
{
    size_t start = 0;
    for (size_t i = 0; i < stored.size(); ++i) {
        const uint8_t b = uint8_t(stored[i]);
        if (isLeadByte(b) && i + 1 < stored.size() && isTrailByte(uint8_t(stored[i + 1]))) {
            ++i;
            continue;
        }
        if (b == '/' || b == '\\' || b == 0xFF)
            start = i + 1;
    }
    std::string_view bare = stored.substr(start);
    if (bare.size() >= 2 && bare[1] == ':' &&
        ((bare[0] >= 'A' && bare[0] <= 'Z') || (bare[0] >= 'a' && bare[0] <= 'z')))
        bare.remove_prefix(2);
    return std::string(bare);
}

bool isSafeBareName(std::string_view bare)
{
    return !bare.empty() && bare != "." && bare != ".." && bare.find('\0') == std::string_view::npos &&
           bare.find('/') == std::string_view::npos;
}

ArchiveReader::ArchiveReader(ByteSource &source) : m_source(source) {}
ArchiveReader::~ArchiveReader() = default;

int ArchiveReader::readHeader(EntryInfo &info, bool &end)
{
    const int r = readEntryHeader(m_source, m_first, m_rawHeader, info, end);
    if (r == Ok && !end)
        m_first = false;
    return r;
}

int ArchiveReader::next(EntryInfo &info, bool &end)
{
    if (m_dataPending) {
        const int r = skipData();
        if (r != Ok)
            return r;
    }
    const int r = readHeader(info, end);
    if (r != Ok || end)
        return r;
    m_current = info;
    m_dataPending = true;
    return Ok;
}

namespace {

// Reads what is left of an entry's packed bytes; truncated when the archive ends first.
int drainEntry(LimitedSource &data)
{
    data.skip(data.left());
    if (data.failed())
        return ErrArchiveRead;
    return data.left() ? ErrDataTruncated : Ok;
}

} // namespace

int ArchiveReader::skipData()
{
    m_dataPending = false;
    LimitedSource data(m_source, m_current.packedSize);
    return drainEntry(data);
}

int ArchiveReader::extract(ByteSink &out)
{
    if (!m_dataPending)
        return ErrInternal;
    m_dataPending = false;
    if (!isKnownMethod(m_current.method))
        return ErrUnknownMethod;
    LimitedSource data(m_source, m_current.packedSize);
    uint16_t crc = 0;
    int r = decodeEntry(m_current.method, data, m_current.originalSize, out, crc);
    if (r != Ok)
        return r;
    if (crc != m_current.crc)
        return ErrCrcMismatch;
    // Step over any packed bytes the decoder did not need, so the next header is found.
    return drainEntry(data);
}

int ArchiveReader::copyRaw(ByteSink &out)
{
    if (!m_dataPending)
        return ErrInternal;
    m_dataPending = false;
    if (!out.write(m_rawHeader.data(), m_rawHeader.size()))
        return ErrArchiveWrite;
    LimitedSource data(m_source, m_current.packedSize);
    uint8_t buf[1 << 14];
    for (;;) {
        const size_t n = data.read(buf, sizeof buf);
        if (n == 0)
            break;
        if (!out.write(buf, n))
            return ErrArchiveWrite;
    }
    if (data.failed())
        return ErrArchiveRead;
    return data.left() ? ErrDataTruncated : Ok;
}

namespace {

struct FileCloser
{
    void operator()(std::FILE *f) const
    {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Removes a temporary file unless it was handed over by rename.
struct TempFile
{
    fs::path path;
    bool keep = false;
    ~TempFile()
    {
        if (!keep && !path.empty()) {
            std::error_code ec;
            fs::remove(path, ec);
        }
    }
};

void countRead(std::atomic<uint64_t> *inputRead, uint64_t bytes)
{
    if (inputRead)
        inputRead->fetch_add(bytes, std::memory_order_relaxed);
}

// The file being packed, its reads counted for the pack's progress.
class CountedFileSource : public FileSource
{
  public:
    CountedFileSource(std::FILE *f, std::atomic<uint64_t> *inputRead) : FileSource(f), m_inputRead(inputRead)
    {}
    size_t read(uint8_t *data, size_t size) override
    {
        const size_t n = FileSource::read(data, size);
        countRead(m_inputRead, n);
        return n;
    }

  private:
    std::atomic<uint64_t> *m_inputRead;
};

bool stopped(const std::atomic<bool> *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Reads on until the caller's cancel flag is set; then it fails, which ends the encoder at
// its next read.
class CancellableSource : public ByteSource
{
  public:
    CancellableSource(ByteSource &in, const std::atomic<bool> *cancel) : m_in(in), m_cancel(cancel) {}
    size_t read(uint8_t *data, size_t size) override
    {
        if (stopped(m_cancel) || m_in.failed()) {
            m_failed = true;
            return 0;
        }
        const size_t n = m_in.read(data, size);
        m_failed = m_in.failed();
        return n;
    }

  private:
    ByteSource &m_in;
    const std::atomic<bool> *m_cancel;
};

// Copies `in` from its start behind the entry's header as stored data, taking its CRC on
// the way: one read pass.
int writeStoredData(std::FILE *out, std::FILE *in, EntryInfo &e, const std::atomic<bool> *cancel,
                    std::atomic<uint64_t> *inputRead)
{
    if (std::fseek(in, 0, SEEK_SET) != 0)
        return ErrSourceRead;
    std::vector<uint8_t> buf(1 << 18);
    uint64_t copied = 0;
    uint16_t crc = 0;
    for (;;) {
        if (stopped(cancel))
            return ErrCancelled;
        const size_t n = std::fread(buf.data(), 1, buf.size(), in);
        if (n == 0)
            break;
        crc = crc16Update(crc, buf.data(), n);
        copied += n;
        countRead(inputRead, n);
        if (copied > 0xFFFFFFFFull)
            return ErrSourceTooLarge;
        if (std::fwrite(buf.data(), 1, n, out) != n)
            return ErrArchiveWrite;
    }
    if (std::ferror(in))
        return ErrSourceRead;
    e.method = "-lh0-";
    e.originalSize = e.packedSize = copied;
    e.crc = crc;
    return Ok;
}

// The threads large work is spread over: one a core, within reason.
unsigned workerThreads()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

// Files from this size are read for their CRC by several threads, each a part.
constexpr uint64_t kSplitCrcFrom = uint64_t(16) << 20;

// The bytes of `in` from `from` to `to` (to its end when `to` is 0) and their CRC.
struct PartCrc
{
    uint64_t bytes = 0;
    uint16_t crc = 0;
    bool failed = false;
};

PartCrc crcOfPart(std::FILE *in, uint64_t from, uint64_t to, const std::atomic<bool> *cancel,
                  std::atomic<uint64_t> *inputRead)
{
    PartCrc part;
    if (std::fseek(in, long(from), SEEK_SET) != 0) {
        part.failed = true;
        return part;
    }
    std::vector<uint8_t> buf(1 << 20);
    for (;;) {
        if (stopped(cancel)) {
            part.failed = true;
            return part;
        }
        const size_t want =
            to == 0 ? buf.size() : size_t(std::min<uint64_t>(buf.size(), to - from - part.bytes));
        const size_t n = want == 0 ? 0 : std::fread(buf.data(), 1, want, in);
        if (n == 0)
            break;
        part.crc = crc16Update(part.crc, buf.data(), n);
        part.bytes += n;
        countRead(inputRead, n);
    }
    part.failed = std::ferror(in) != 0;
    return part;
}

// The length and CRC of all of `in` (the open `file`, `size` bytes when it was opened). A
// large file is read in parts side by side, each through a handle of its own, and their
// CRCs joined: the CRC pass is all a stored entry costs before its first byte can go.
int crcOfFile(std::FILE *in, const fs::path &file, uint64_t size, uint64_t &total, uint16_t &crc,
              const std::atomic<bool> *cancel, std::atomic<uint64_t> *inputRead)
{
    const unsigned parts = size < kSplitCrcFrom ? 1 : workerThreads();
    std::vector<PartCrc> results(parts);
    std::vector<std::thread> workers;
    bool opened = true;
    for (unsigned k = 1; k < parts; ++k) {
        FilePtr own(std::fopen(file.c_str(), "rb"));
        if (!own) {
            opened = false;
            break;
        }
        // The last part reads on to the end, should the file have grown meanwhile.
        workers.emplace_back(
            [own = std::move(own), &result = results[k], k, parts, size, cancel, inputRead]() mutable {
                result = crcOfPart(own.get(), size * k / parts, k + 1 == parts ? 0 : size * (k + 1) / parts,
                                   cancel, inputRead);
            });
    }
    results[0] = crcOfPart(in, 0, parts == 1 ? 0 : size / parts, cancel, inputRead);
    for (std::thread &worker : workers)
        worker.join();
    if (!opened)
        return ErrSourceRead;
    total = 0;
    crc = 0;
    for (unsigned k = 0; k < parts; ++k) {
        const PartCrc &part = results[k];
        // A part cut short: the file shrank while it was read.
        const uint64_t expected = k + 1 == parts ? part.bytes : size * (k + 1) / parts - size * k / parts;
        if (part.failed || part.bytes != expected)
            return ErrSourceRead;
        crc = crc16Combine(crc, part.crc, part.bytes);
        total += part.bytes;
    }
    return Ok;
}

// Writes the entry for `file` (open as `in`, `size` bytes) at the current end of `out`:
// header, then the data as the plan says, stored when -lh5- would not make it smaller;
// `headerOnly`: a stored entry without its data.
int writeEntry(std::FILE *out, std::FILE *in, const fs::path &file, uint64_t size,
               std::string_view storedName, int64_t mtime, const PackPlan &plan, bool headerOnly,
               const std::atomic<bool> *cancel, std::atomic<uint64_t> *inputRead)
{
    EntryInfo e;
    e.method = plan.stored ? "-lh0-" : "-lh5-";
    e.name.assign(storedName);
    e.mtime = mtime;
    const long headerAt = std::ftell(out);
    std::vector<uint8_t> header = level2Header(e);
    if (std::fwrite(header.data(), 1, header.size(), out) != header.size())
        return ErrArchiveWrite;
    const long dataAt = std::ftell(out);

    bool stored = plan.stored;
    if (stored && headerOnly) {
        // The CRC first, then the header alone: the data stays where it is.
        uint64_t total = 0;
        uint16_t crc = 0;
        if (const int r = crcOfFile(in, file, size, total, crc, cancel, inputRead); r != Ok)
            return r;
        if (total > 0xFFFFFFFFull)
            return ErrSourceTooLarge;
        e.method = "-lh0-";
        e.originalSize = e.packedSize = total;
        e.crc = crc;
        header = level2Header(e);
        if (std::fseek(out, headerAt, SEEK_SET) != 0 ||
            std::fwrite(header.data(), 1, header.size(), out) != header.size())
            return ErrArchiveWrite;
        return Ok;
    }
    if (!stored) {
        CountedFileSource reader(in, inputRead);
        CancellableSource source(reader, cancel);
        FileSink sink(out);
        EncodeResult packed;
        // Large inputs are packed on every core; pictures and small files as before.
        const int r = plan.fastSearch ? encodeLh5Parallel(source, sink, packed, 0xFFFFFFFFull,
                                                          EncoderTuning::fast(), int(workerThreads()))
                                      : encodeLh5(source, sink, packed);
        if (r != Ok)
            return r;
        e.originalSize = packed.originalSize;
        e.packedSize = packed.packedSize;
        e.crc = packed.crc;
        stored = packed.packedSize >= packed.originalSize;
        if (stored && std::fseek(out, dataAt, SEEK_SET) != 0)
            return ErrArchiveWrite;
    }
    if (stored) {
        if (const int r = writeStoredData(out, in, e, cancel, inputRead); r != Ok)
            return r;
    }
    const long dataEnd = std::ftell(out);
    header = level2Header(e);
    if (std::fseek(out, headerAt, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), out) != header.size() ||
        std::fseek(out, dataEnd, SEEK_SET) != 0)
        return ErrArchiveWrite;
    return Ok;
}

// Counts what the encoder writes and drops it.
class CountingSink : public ByteSink
{
  public:
    bool write(const uint8_t *, size_t size) override
    {
        count += size;
        return true;
    }
    uint64_t count = 0;
};

// Files up to this size are packed with -lh5- as they are: they go quickly anyway, and
// pictures and documents of this size pack well.
constexpr uint64_t kProbeFrom = uint64_t(1) << 20;
// The probe: this many samples of this size, spread evenly over the file.
constexpr int kProbeSamples = 16;
constexpr size_t kProbeSampleBytes = size_t(1) << 15;
// Data that -lh5- shrinks by less than this share goes stored: on a LAN the time packing
// takes is worth more than the few bytes it would save.
constexpr double kStoreAboveRatio = 0.90;
// Above this size the quick match search packs: about 2 % larger for half as much time
// again. Data that packs to almost nothing (screenshots: runs of one colour) keeps the
// thorough search, which is fast on it and keeps pictures as small as before.
constexpr uint64_t kFastSearchFrom = uint64_t(16) << 20;
constexpr double kFastSearchAboveRatio = 0.05;

} // namespace

PackPlan planPack(std::FILE *file, uint64_t size, const PackOptions &options)
{
    PackPlan plan;
    if (options.method == PackMethod::Stored) {
        plan.stored = true;
        return plan;
    }
    if (size < kProbeFrom || options.method == PackMethod::Lh5)
        return plan;
    std::vector<uint8_t> sample(kProbeSampleBytes);
    uint64_t probed = 0, packed = 0;
    for (int k = 0; k < kProbeSamples; ++k) {
        const uint64_t at = (size - kProbeSampleBytes) * uint64_t(k) / (kProbeSamples - 1);
        if (std::fseek(file, long(at), SEEK_SET) != 0)
            break;
        const size_t n = std::fread(sample.data(), 1, sample.size(), file);
        if (n == 0)
            break;
        MemorySource source(sample.data(), n);
        CountingSink sink;
        EncodeResult result;
        if (encodeLh5(source, sink, result, n, EncoderTuning::fast()) != Ok)
            break;
        probed += n;
        packed += sink.count;
    }
    std::clearerr(file);
    std::fseek(file, 0, SEEK_SET);
    if (probed == 0)
        return plan;
    plan.probedRatio = double(packed) / double(probed);
    plan.stored = plan.probedRatio > kStoreAboveRatio;
    plan.fastSearch = size >= kFastSearchFrom && plan.probedRatio > kFastSearchAboveRatio;
    return plan;
}

int packFile(const fs::path &archive, const fs::path &file, std::string_view storedName,
             const PackOptions &options)
{
    if (!isSafeBareName(storedName) || bareName(storedName) != storedName)
        return ErrBadSourceName;
    std::error_code ec;
    const fs::file_status st = fs::status(file, ec);
    if (!fs::exists(st))
        return ErrSourceMissing;
    if (!fs::is_regular_file(st))
        return ErrSourceNotFile;
    const uintmax_t size = fs::file_size(file, ec);
    if (ec)
        return ErrSourceRead;
    if (size > 0xFFFFFFFFull)
        return ErrSourceTooLarge;
    const auto mtime = fs::last_write_time(file, ec);
    const int64_t unixTime = ec ? 0 : fileTimeToUnix(mtime);

    FilePtr in(std::fopen(file.c_str(), "rb"));
    if (!in)
        return ErrSourceRead;

    const fs::file_status ast = fs::status(archive, ec);
    if (fs::exists(ast) && !fs::is_regular_file(ast))
        return ErrArchiveCreate;
    fs::path folder = archive.parent_path();
    if (folder.empty())
        folder = ".";

    TempFile temp;
    FilePtr out(createTemporary(folder, "pack", &temp.path));
    if (!out)
        return ErrArchiveCreate;

    // Keep the other entries of an existing archive.
    if (fs::exists(ast) && fs::file_size(archive, ec) > 0) {
        FilePtr old(std::fopen(archive.c_str(), "rb"));
        if (!old)
            return ErrArchiveOpen;
        FileSource oldSource(old.get());
        FileSink outSink(out.get());
        ArchiveReader reader(oldSource);
        for (;;) {
            EntryInfo info;
            bool end = false;
            int r = reader.next(info, end);
            if (r != Ok)
                return r;
            if (end)
                break;
            if (info.name == storedName)
                continue;
            r = reader.copyRaw(outSink);
            if (r != Ok)
                return r;
        }
    }

    const PackPlan plan = planPack(in.get(), size, options);
    // Only an archive that holds nothing else may end up as a header alone.
    const bool headerOnly = plan.stored && options.headerOnlyWhenStored && std::ftell(out.get()) == 0;
    int r = writeEntry(out.get(), in.get(), file, size, storedName, unixTime, plan, headerOnly, options.cancel,
                       options.inputRead);
    // A cancelled pack fails wherever it was; the temporary file goes and the archive stays.
    if (stopped(options.cancel))
        return ErrCancelled;
    if (r != Ok)
        return r;
    if ((!headerOnly && std::fputc(0, out.get()) == EOF) || std::fflush(out.get()) != 0)
        return ErrArchiveWrite;
    const long length = std::ftell(out.get());
    if (std::fclose(out.release()) != 0)
        return ErrArchiveWrite;
    // The stored fallback may have left packed bytes beyond the real end.
    fs::resize_file(temp.path, uintmax_t(length), ec);
    if (ec)
        return ErrArchiveWrite;
    fs::rename(temp.path, archive, ec);
    if (ec)
        return ErrArchiveCreate;
    temp.keep = true;
    return Ok;
}

namespace {

// Passes output on until the caller's cancel flag is set; then every write fails, which
// ends the decoder at its next block.
class CancellableSink : public ByteSink
{
  public:
    CancellableSink(ByteSink &out, const std::atomic<bool> *cancel) : m_out(out), m_cancel(cancel) {}
    bool write(const uint8_t *data, size_t size) override
    {
        if (cancelled())
            return false;
        return m_out.write(data, size);
    }
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }

  private:
    ByteSink &m_out;
    const std::atomic<bool> *m_cancel;
};

// Reads every header of `archive` in order, stepping over the data, and hands each to
// `visit`; stops at the first result other than Ok.
int forEachHeader(const fs::path &archive, const std::function<int(const EntryInfo &)> &visit)
{
    FilePtr in(std::fopen(archive.c_str(), "rb"));
    if (!in)
        return ErrArchiveOpen;
    FileSource source(in.get());
    ArchiveReader reader(source);
    for (;;) {
        EntryInfo info;
        bool end = false;
        if (const int r = reader.next(info, end); r != Ok || end)
            return r;
        if (const int r = visit(info); r != Ok)
            return r;
    }
}

bool selected(const EntryInfo &info, const UnpackOptions &options)
{
    return !info.isDirectory() && (options.onlyEntry.empty() || bareName(info.name) == options.onlyEntry);
}

// Files this unpack has renamed into place; removed again unless the unpack succeeds.
struct WrittenFiles
{
    std::vector<fs::path> paths;
    bool keep = false;
    ~WrittenFiles()
    {
        if (keep)
            return;
        std::error_code ec;
        for (const fs::path &p : paths)
            fs::remove(p, ec);
    }
};

} // namespace

int declaredSize(const fs::path &archive, const UnpackOptions &options, uint64_t &total)
{
    total = 0;
    return forEachHeader(archive, [&](const EntryInfo &info) {
        if (!selected(info, options))
            return int(Ok);
        // total never passes the limit, so the subtraction cannot wrap.
        if (info.originalSize > options.maxTotalBytes - total)
            return int(ErrOutputLimit);
        total += info.originalSize;
        return int(Ok);
    });
}

int unpackArchive(const fs::path &archive, const fs::path &destination, const NameMapper &toPath,
                  const UnpackOptions &options)
{
    std::error_code ec;
    if (!fs::is_directory(destination, ec))
        return ErrDestinationMissing;
    // The headers are checked against the limit before a single byte is written: a small
    // archive may declare (and, with one-symbol tables, really produce) gigabytes.
    if (options.maxTotalBytes != UINT64_MAX) {
        uint64_t total = 0;
        if (const int r = declaredSize(archive, options, total); r != Ok)
            return r;
    }
    FilePtr in(std::fopen(archive.c_str(), "rb"));
    if (!in)
        return ErrArchiveOpen;
    FileSource source(in.get());
    ArchiveReader reader(source);
    WrittenFiles written;
    for (;;) {
        if (options.cancel && options.cancel->load(std::memory_order_relaxed))
            return ErrCancelled;
        EntryInfo info;
        bool end = false;
        int r = reader.next(info, end);
        if (r != Ok)
            return r;
        if (end) {
            written.keep = true;
            return Ok;
        }
        // Folders are not recreated: every file lands directly in the destination.
        if (!selected(info, options))
            continue;
        const std::string bare = bareName(info.name);
        if (!isSafeBareName(bare))
            return ErrUnsafeName;
        if (!isKnownMethod(info.method))
            return ErrUnknownMethod;
        const fs::path onDisk = toPath ? toPath(bare) : fs::path(bare);
        const std::string component = onDisk.string();
        if (!isSafeBareName(component) || onDisk.has_parent_path())
            return ErrUnsafeName;

        TempFile temp;
        FilePtr out(createTemporary(destination, "unpack", &temp.path));
        if (!out)
            return ErrOutputCreate;
        FileSink file(out.get());
        CancellableSink sink(file, options.cancel);
        r = reader.extract(sink);
        if (sink.cancelled())
            return ErrCancelled;
        if (r != Ok)
            return r;
        if (std::fclose(out.release()) != 0)
            return ErrOutputWrite;
        const fs::path target = destination / onDisk;
        if (fs::is_directory(fs::symlink_status(target, ec)))
            return ErrOutputReplace;
        fs::rename(temp.path, target, ec);
        if (ec)
            return ErrOutputReplace;
        temp.keep = true;
        written.paths.push_back(target);
        setFileTime(target, info.mtime);
    }
}

bool storedBehind(const fs::path &archive, StoredBehind &found)
{
    std::error_code ec;
    const uintmax_t length = fs::file_size(archive, ec);
    FilePtr in(ec ? nullptr : std::fopen(archive.c_str(), "rb"));
    if (!in)
        return false;
    FileSource source(in.get());
    ArchiveReader reader(source);
    EntryInfo info;
    bool end = false;
    if (reader.next(info, end) != Ok || end || info.method != "-lh0-" || info.packedSize != info.originalSize)
        return false;
    const long headerBytes = std::ftell(in.get());
    if (headerBytes <= 0 || uintmax_t(headerBytes) != length)
        return false;
    found.headerBytes = uint64_t(headerBytes);
    found.dataBytes = info.packedSize;
    return true;
}

int listArchive(const fs::path &archive, std::vector<EntryInfo> &entries)
{
    entries.clear();
    return forEachHeader(archive, [&entries](const EntryInfo &info) {
        entries.push_back(info);
        return int(Ok);
    });
}

} // namespace lzh
