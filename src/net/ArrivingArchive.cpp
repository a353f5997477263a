#include "net/ArrivingArchive.h"

#include "base/AnsiCodec.h"
#include "lzh/ByteStream.h"
#include "lzh/Crc16.h"
#include "lzh/LhDecoder.h"
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"

#include <QFile>
#include <QIODevice>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// Enough for any first header (a level-2 header is at most 64 KiB long).
constexpr qint64 kLeadBytes = 64 * 1024 + 16;
// What may wait for the worker; beyond it the connection is not read, and TCP flow control
// holds the sender while the unpack catches up.
constexpr qint64 kQueueBytes = 4 * 1024 * 1024;

// Counts what the archive reader takes: the length of the first header.
class CountingSource : public lzh::ByteSource
{
  public:
    explicit CountingSource(lzh::ByteSource &inner) : m_inner(inner) {}
    size_t read(uint8_t *data, size_t size) override
    {
        const size_t n = m_inner.read(data, size);
        count += n;
        return n;
    }
    uint64_t count = 0;

  private:
    lzh::ByteSource &m_inner;
};

// Refuses every write once the unpack is stopped, so the decoder gives up within a block.
class StoppableFileSink : public lzh::ByteSink
{
  public:
    StoppableFileSink(std::FILE *file, const std::atomic<bool> &stop) : m_file(file), m_stop(stop) {}
    bool write(const uint8_t *data, size_t size) override
    {
        return !m_stop.load(std::memory_order_relaxed) && std::fwrite(data, 1, size, m_file) == size;
    }

  private:
    std::FILE *m_file;
    const std::atomic<bool> &m_stop;
};

// What the archive reader says of what follows the single entry: exactly the end mark, or
// the archive ends early (nothing) or goes on with something that is no header.
int endOfArchiveResult(qint64 bytesAfterEntry, bool allEndMarks)
{
    if (bytesAfterEntry != 1)
        return lzh::ErrDataTruncated;
    return allEndMarks ? int(lzh::Ok) : int(lzh::ErrHeaderTruncated);
}

struct EntryFacts
{
    std::string method;
    uint64_t packedSize = 0;
    uint64_t originalSize = 0;
    uint16_t crc = 0;
};

} // namespace

// The unpacking thread and the bounded queue of arriving bytes it reads from: reads block
// until the engine's thread has queued enough, or said the body ended, or stopped it.
class ArrivingArchive::Worker : public lzh::ByteSource
{
  public:
    Worker(ArrivingArchive &owner, EntryFacts entry, std::FILE *out)
        : m_owner(owner), m_entry(std::move(entry)), m_out(out), m_thread([this] { run(); })
    {}
    ~Worker() override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop.store(true);
        }
        m_ready.notify_all();
        m_thread.join();
    }

    void push(QByteArray bytes)
    {
        if (bytes.isEmpty())
            return;
        {
            const std::lock_guard lock(m_mutex);
            m_queued += bytes.size();
            m_chunks.push_back(std::move(bytes));
        }
        m_ready.notify_one();
    }
    void close()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_ready.notify_one();
    }
    bool full() const
    {
        const std::lock_guard lock(m_mutex);
        return m_queued >= kQueueBytes;
    }

    // Fills `data` completely unless the body ends first: a short read means the end to
    // the entry's limited view.
    size_t read(uint8_t *data, size_t size) override
    {
        size_t done = 0;
        while (done < size) {
            const uint8_t *front = nullptr;
            const size_t n = std::min(size - done, view(&front));
            if (n == 0)
                break;
            std::memcpy(data + done, front, n);
            consume(n);
            done += n;
        }
        return done;
    }

  private:
    // The unread bytes of the first queued chunk, waiting for one; 0 at the end of the body
    // or when stopped. They stay in place until consumed: the engine's thread only appends.
    size_t view(const uint8_t **data)
    {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return m_stop.load() || m_closed || !m_chunks.empty(); });
        if (m_stop.load()) {
            m_failed = true;
            return 0;
        }
        if (m_chunks.empty())
            return 0;
        *data = reinterpret_cast<const uint8_t *>(m_chunks.front().constData()) + m_offset;
        return size_t(m_chunks.front().size() - m_offset);
    }
    void consume(size_t n)
    {
        bool roomMade = false;
        {
            const std::lock_guard lock(m_mutex);
            const qsizetype chunk = m_chunks.front().size();
            m_offset += qsizetype(n);
            if (m_offset < chunk)
                return;
            roomMade = m_queued >= kQueueBytes && m_queued - chunk < kQueueBytes;
            m_queued -= chunk;
            m_chunks.pop_front();
            m_offset = 0;
        }
        if (roomMade)
            QMetaObject::invokeMethod(
                &m_owner, [owner = &m_owner] { emit owner->roomAvailable(); }, Qt::QueuedConnection);
    }

    // The entry's data into `out`, up to the entry's end in the archive.
    int unpackData(lzh::ByteSink &out, uint16_t &crc)
    {
        lzh::LimitedSource data(*this, m_entry.packedSize);
        const int result = lzh::decodeEntry(m_entry.method, data, m_entry.originalSize, out, crc);
        if (result != lzh::Ok)
            return result;
        // Packed bytes the decoder did not need are stepped over, as the archiver does.
        data.skip(data.left());
        return data.failed() ? int(lzh::ErrArchiveRead) : data.left() ? int(lzh::ErrDataTruncated) : 0;
    }

    void run()
    {
        const int result = unpack();
        if (!m_stop.load())
            QMetaObject::invokeMethod(
                &m_owner, [owner = &m_owner, result] { emit owner->unpacked(result); }, Qt::QueuedConnection);
    }

    // As the archiver unpacks the entry, then the archive must end with the end mark.
    int unpack()
    {
        StoppableFileSink sink(m_out, m_stop);
        uint16_t crc = 0;
        int result = unpackData(sink, crc);
        if (result == lzh::Ok && crc != m_entry.crc)
            result = lzh::ErrCrcMismatch;
        if (result == lzh::Ok) {
            uint8_t tail[2] = {1, 1};
            const size_t n = read(tail, sizeof tail);
            result = endOfArchiveResult(qint64(n), tail[0] == 0);
        }
        if (std::fclose(m_out) != 0 && result == lzh::Ok)
            result = lzh::ErrOutputWrite;
        return m_stop.load() ? int(lzh::ErrCancelled) : result;
    }

    ArrivingArchive &m_owner;
    const EntryFacts m_entry;
    std::FILE *m_out;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<QByteArray> m_chunks;
    qsizetype m_offset = 0; // bytes of the first chunk already read
    qint64 m_queued = 0;
    bool m_closed = false;
    std::atomic<bool> m_stop{false};
    // Last: it starts running once everything above is in place.
    std::thread m_thread;
};

ArrivingArchive::ArrivingArchive(qint64 bodySize, const QString &itemName, const QString &outputPath,
                                 RoomCheck mayUnpack, QObject *parent)
    : QObject(parent), m_bodySize(bodySize), m_itemName(itemName), m_outputPath(outputPath),
      m_mayUnpack(std::move(mayUnpack))
{}

ArrivingArchive::~ArrivingArchive() = default;

bool ArrivingArchive::feed(const QByteArray &bytes, QIODevice &out)
{
    if (m_mode == Mode::PassThrough)
        return out.write(bytes) == bytes.size();
    if (m_mode == Mode::Unpacking) {
        if (!m_worker)
            return takeStored(bytes.constData(), bytes.size(), out);
        m_worker->push(bytes);
        return true;
    }
    m_lead += bytes;
    if (m_lead.size() < qMin(m_bodySize, kLeadBytes))
        return true;
    return decide(out);
}

bool ArrivingArchive::full() const
{
    return m_worker && m_worker->full();
}

void ArrivingArchive::endOfBody()
{
    if (m_worker) {
        m_worker->close();
        return;
    }
    if (m_mode != Mode::Unpacking)
        return;
    // As the archiver would judge the stored entry: all its data with the end mark alone after
    // it, then its CRC. Reported from the event loop, as the worker's result is.
    int result = m_storedLeft > 0 ? int(lzh::ErrDataTruncated) : endOfArchiveResult(m_tailBytes, m_tailIsEnd);
    if (result == lzh::Ok && m_storedCrc != m_expectedCrc)
        result = lzh::ErrCrcMismatch;
    QMetaObject::invokeMethod(
        this, [this, result] { emit unpacked(result); }, Qt::QueuedConnection);
}

bool ArrivingArchive::takeStored(const char *data, qint64 size, QIODevice &out)
{
    const qint64 n = qMin(size, m_storedLeft);
    if (n > 0) {
        m_storedCrc = lzh::crc16Update(m_storedCrc, reinterpret_cast<const uint8_t *>(data), size_t(n));
        m_storedLeft -= n;
        if (out.write(data, n) != n)
            return false;
    }
    for (qint64 i = n; i < size; ++i) {
        ++m_tailBytes;
        m_tailIsEnd = m_tailIsEnd && data[i] == 0;
    }
    return true;
}

bool ArrivingArchive::decide(QIODevice &out)
{
    lzh::MemorySource memory(reinterpret_cast<const uint8_t *>(m_lead.constData()), size_t(m_lead.size()));
    CountingSource counted(memory);
    lzh::ArchiveReader reader(counted);
    lzh::EntryInfo info;
    bool end = false;
    const qint64 headerBytes = [&]() -> qint64 {
        if (reader.next(info, end) != lzh::Ok || end)
            return -1;
        return qint64(counted.count);
    }();
    // One entry under the item's name in a method we unpack, then the end mark and nothing
    // else: what the archiver would make of it is known from the first header.
    const bool stored = info.method == "-lh0-";
    const std::string bare = lzh::bareName(info.name);
    const bool single = headerBytes > 0 &&
                        (stored ? info.packedSize == info.originalSize : lzh::isKnownMethod(info.method)) &&
                        headerBytes + qint64(info.packedSize) + 1 == m_bodySize &&
                        lzh::isSafeBareName(bare) &&
                        AnsiCodec::decode(QByteArrayView(bare.data(), qsizetype(bare.size()))) == m_itemName;
    const QByteArray lead = std::exchange(m_lead, QByteArray());
    if (!single) {
        m_mode = Mode::PassThrough;
        return out.write(lead) == lead.size();
    }
    // The archiver refuses what does not fit before it writes a byte; so does this. A
    // stored entry is no larger than the body, which was found to fit already.
    if (!stored && m_mayUnpack &&
        !m_mayUnpack(
            qint64(qMin<quint64>(info.originalSize, quint64(std::numeric_limits<qint64>::max() / 4)))))
        return false;
    m_mode = Mode::Unpacking;
    m_mtime = info.mtime;
    // A stored entry is its data: it goes straight into `out` on this thread, as an unpacked
    // transfer does, with its CRC taken on the way.
    if (stored) {
        m_storedLeft = qint64(info.packedSize);
        m_expectedCrc = info.crc;
        return takeStored(lead.constData() + headerBytes, lead.size() - headerBytes, out);
    }
    // The output is `out`'s file, which its opening left empty. Truncating it once more would
    // make the file system write the whole file back when it is closed (ext4 does so for a
    // file cut to nothing and rewritten), which stalled the end of a 1 GiB transfer 0.4 s.
    std::FILE *file = std::fopen(QFile::encodeName(m_outputPath).constData(), "r+b");
    if (!file)
        return false;
    m_worker = std::make_unique<Worker>(
        *this, EntryFacts{info.method, info.packedSize, info.originalSize, info.crc}, file);
    m_worker->push(lead.mid(headerBytes));
    return true;
}
