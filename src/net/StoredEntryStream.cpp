#include "net/StoredEntryStream.h"

#include "core/AnsiCodec.h"
#include "lzh/ByteStream.h"
#include "lzh/Crc16.h"
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"

#include <QIODevice>
#include <utility>

namespace {

// Enough for any first header (a level-2 header is at most 64 KiB long).
constexpr qint64 kLeadBytes = 64 * 1024 + 16;

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

} // namespace

StoredEntryStream::StoredEntryStream(qint64 bodySize, const QString &itemName)
    : m_bodySize(bodySize), m_itemName(itemName)
{}

bool StoredEntryStream::feed(const QByteArray &bytes, QIODevice &out)
{
    if (m_mode == Mode::PassThrough)
        return out.write(bytes) == bytes.size();
    if (m_mode == Mode::Streaming)
        return take(bytes.constData(), bytes.size(), out);
    m_lead += bytes;
    if (m_lead.size() < qMin(m_bodySize, kLeadBytes))
        return true;
    return decide(out);
}

bool StoredEntryStream::decide(QIODevice &out)
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
    // One stored entry under the item's name, then the end mark and nothing else: the
    // only archive whose unpacking is a copy of the bytes between.
    const std::string bare = lzh::bareName(info.name);
    const bool single = headerBytes > 0 && info.method == "-lh0-" && info.packedSize == info.originalSize &&
                        headerBytes + qint64(info.packedSize) + 1 == m_bodySize &&
                        lzh::isSafeBareName(bare) &&
                        AnsiCodec::decode(QByteArrayView(bare.data(), qsizetype(bare.size()))) == m_itemName;
    const QByteArray lead = std::exchange(m_lead, QByteArray());
    if (!single) {
        m_mode = Mode::PassThrough;
        return out.write(lead) == lead.size();
    }
    m_mode = Mode::Streaming;
    m_dataLeft = m_dataSize = qint64(info.packedSize);
    m_expectedCrc = info.crc;
    m_mtime = info.mtime;
    return take(lead.constData() + headerBytes, lead.size() - headerBytes, out);
}

bool StoredEntryStream::take(const char *data, qint64 size, QIODevice &out)
{
    const qint64 n = qMin(size, m_dataLeft);
    if (n > 0) {
        m_crc = lzh::crc16Update(m_crc, reinterpret_cast<const uint8_t *>(data), size_t(n));
        m_dataLeft -= n;
        if (out.write(data, n) != n)
            return false;
    }
    for (qint64 i = n; i < size; ++i) {
        ++m_tailBytes;
        m_tailIsEnd = m_tailIsEnd && data[i] == 0;
    }
    return true;
}

int StoredEntryStream::finish() const
{
    if (m_mode != Mode::Streaming || m_dataLeft > 0 || m_tailBytes != 1)
        return lzh::ErrDataTruncated;
    // What the archive reader says of a byte after the entry that is no end mark.
    if (!m_tailIsEnd)
        return lzh::ErrHeaderTruncated;
    return m_crc == m_expectedCrc ? int(lzh::Ok) : int(lzh::ErrCrcMismatch);
}
