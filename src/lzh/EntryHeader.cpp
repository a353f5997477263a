#include "lzh/EntryHeader.h"

#include "lzh/Crc16.h"
#include "lzh/LzhErrors.h"

#include <ctime>

namespace lzh {

namespace {

// Extended headers of one entry may not add up to more than this; real archives use a
// few hundred bytes, and the bound keeps hostile input from growing memory.
constexpr size_t kMaxExtendedBytes = 1 << 20;
// Every level's fixed part is at least this long, so it is read before the level is known.
constexpr size_t kBaseBytes = 22;
// Level 2 keeps its extended headers inside the header, from this offset on.
constexpr size_t kLevel2Base = 26;
// Marks a level-1 walk: its extended headers follow the header in the stream.
constexpr size_t kStreamed = SIZE_MAX;

uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool readExact(ByteSource &src, uint8_t *data, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const size_t n = src.read(data + got, size - got);
        if (n == 0)
            return false;
        got += n;
    }
    return true;
}

// MS-DOS date and time (local time) as seconds since the epoch.
int64_t fromDosTime(uint32_t dos)
{
    std::tm t{};
    t.tm_sec = int(dos & 0x1F) * 2;
    t.tm_min = int(dos >> 5) & 0x3F;
    t.tm_hour = int(dos >> 11) & 0x1F;
    t.tm_mday = int(dos >> 16) & 0x1F;
    t.tm_mon = int((dos >> 21) & 0x0F) - 1;
    t.tm_year = int(dos >> 25) + 80;
    t.tm_isdst = -1;
    const std::time_t r = std::mktime(&t);
    return r == std::time_t(-1) ? 0 : int64_t(r);
}

// One header being read: where the bytes come from and go, and what the extended headers
// have set so far.
struct HeaderRead
{
    ByteSource &source;
    std::vector<uint8_t> &h;
    EntryInfo &info;
    bool first;
    uint32_t sizeField = 0; // the packed-size field of the fixed part, as stored
    bool unixTime = false;  // a time is set that a later 0x54 extension must not replace
    size_t extBytes = 0;    // extended-header bytes walked
    size_t headerCrcAt = 0; // offset of the header CRC's data, 0 when there is none
};

// A malformed fixed part of the first header says the input is no archive at all.
int malformed(const HeaderRead &r)
{
    return r.first ? ErrNotArchive : ErrHeaderCorrupt;
}

int shortRead(const HeaderRead &r)
{
    return r.source.failed() ? ErrArchiveRead : ErrHeaderTruncated;
}

// Reads the header up to `total` bytes; the first kBaseBytes are already in.
int readRest(HeaderRead &r, size_t total)
{
    r.h.resize(total);
    if (!readExact(r.source, r.h.data() + kBaseBytes, total - kBaseBytes))
        return shortRead(r);
    return Ok;
}

// Takes what the reader uses from one extended header: type byte, then its data.
void applyExtension(HeaderRead &r, size_t at, size_t dataSize)
{
    const uint8_t *data = &r.h[at + 1];
    switch (r.h[at]) {
    case 0x00:
        if (dataSize >= 2)
            r.headerCrcAt = at + 1;
        break;
    case 0x01:
        r.info.name.assign(reinterpret_cast<const char *>(data), dataSize);
        break;
    case 0x42: // 64-bit sizes
        if (dataSize >= 16) {
            r.info.packedSize = uint64_t(le32(data)) | uint64_t(le32(data + 4)) << 32;
            r.info.originalSize = uint64_t(le32(data + 8)) | uint64_t(le32(data + 12)) << 32;
        }
        break;
    case 0x54:
        if (dataSize >= 4 && !r.unixTime) {
            r.info.mtime = le32(data);
            r.unixTime = true;
        }
        break;
    default:
        break;
    }
}

// Makes the `size` bytes of the extended header at `at` available: level 1 reads them
// from the stream (bounded, as hostile input could chain them without end), level 2 has
// them already and they must lie within its `limit`.
int fetchExtension(HeaderRead &r, size_t at, size_t size, size_t limit)
{
    if (limit != kStreamed)
        return at + size > limit ? ErrHeaderCorrupt : Ok;
    if (r.h.size() + size > kMaxExtendedBytes)
        return ErrHeaderCorrupt;
    r.h.resize(r.h.size() + size);
    if (!readExact(r.source, r.h.data() + at, size))
        return shortRead(r);
    return Ok;
}

// Walks the chain of extended headers starting at `at`; each ends with the size of the
// next one, and a size of 0 ends the chain.
int walkExtensions(HeaderRead &r, size_t at, size_t limit, uint16_t nextSize)
{
    while (nextSize != 0) {
        if (nextSize < 3)
            return ErrHeaderCorrupt;
        const int fetched = fetchExtension(r, at, nextSize, limit);
        if (fetched != Ok)
            return fetched;
        applyExtension(r, at, nextSize - 3u);
        r.extBytes += nextSize;
        at += nextSize;
        nextSize = le16(&r.h[at - 2]);
    }
    return Ok;
}

uint8_t byteSum(const std::vector<uint8_t> &h, size_t from)
{
    uint8_t sum = 0;
    for (size_t i = from; i < h.size(); ++i)
        sum = uint8_t(sum + h[i]);
    return sum;
}

// The part levels 0 and 1 share: a one-byte size, a byte checksum, the name in the fixed
// part and a DOS time. `extra` is what the level needs beyond name and CRC. Sets `total`.
int readDosHeader(HeaderRead &r, size_t extra, size_t &total)
{
    total = size_t(r.h[0]) + 2;
    const size_t nameLen = r.h[21];
    if (total < kBaseBytes + nameLen + 2 + extra)
        return malformed(r);
    const int read = readRest(r, total);
    if (read != Ok)
        return read;
    if (byteSum(r.h, 2) != r.h[1])
        return ErrHeaderChecksum;
    r.info.name.assign(reinterpret_cast<const char *>(&r.h[kBaseBytes]), nameLen);
    r.info.crc = le16(&r.h[kBaseBytes + nameLen]);
    r.info.mtime = fromDosTime(le32(&r.h[15]));
    r.info.packedSize = r.sizeField;
    return Ok;
}

int readLevel0(HeaderRead &r)
{
    size_t total = 0;
    return readDosHeader(r, 0, total);
}

int readLevel1(HeaderRead &r)
{
    size_t total = 0;
    int result = readDosHeader(r, 3, total);
    if (result != Ok)
        return result;
    result = walkExtensions(r, total, kStreamed, le16(&r.h[total - 2]));
    if (result != Ok)
        return result;
    // Level 1 counts the extensions in the size field; the data is what remains. A
    // 64-bit size from an extension is the data's size already.
    if (r.info.packedSize == r.sizeField) {
        if (r.extBytes > r.sizeField)
            return ErrHeaderCorrupt;
        r.info.packedSize = r.sizeField - r.extBytes;
    }
    return Ok;
}

// The header CRC is taken over the whole header with its own two bytes as zero.
int checkHeaderCrc(const HeaderRead &r)
{
    std::vector<uint8_t> copy = r.h;
    copy[r.headerCrcAt] = copy[r.headerCrcAt + 1] = 0;
    if (crc16Update(0, copy.data(), copy.size()) != le16(&r.h[r.headerCrcAt]))
        return ErrHeaderChecksum;
    return Ok;
}

int readLevel2(HeaderRead &r)
{
    const size_t total = le16(&r.h[0]);
    if (total < kLevel2Base)
        return malformed(r);
    int result = readRest(r, total);
    if (result != Ok)
        return result;
    r.info.packedSize = r.sizeField;
    r.info.mtime = le32(&r.h[15]);
    r.unixTime = true;
    r.info.crc = le16(&r.h[21]);
    result = walkExtensions(r, kLevel2Base, total, le16(&r.h[24]));
    if (result != Ok)
        return result;
    return r.headerCrcAt ? checkHeaderCrc(r) : Ok;
}

} // namespace

int readEntryHeader(ByteSource &source, bool first, std::vector<uint8_t> &raw, EntryInfo &info, bool &end)
{
    end = false;
    info = EntryInfo{};
    raw.assign(kBaseBytes, 0);
    const size_t got = source.read(raw.data(), 1);
    if (source.failed())
        return ErrArchiveRead;
    if (got == 0 || raw[0] == 0) {
        end = true;
        return Ok;
    }
    if (!readExact(source, raw.data() + 1, kBaseBytes - 1))
        return source.failed() ? ErrArchiveRead : first ? ErrNotArchive : ErrHeaderTruncated;
    HeaderRead r{source, raw, info, first};
    if (raw[2] != '-' || raw[6] != '-')
        return malformed(r);
    info.method.assign(reinterpret_cast<const char *>(raw.data() + 2), 5);
    info.level = raw[20];
    info.originalSize = le32(&raw[11]);
    r.sizeField = le32(&raw[7]);
    switch (info.level) {
    case 0:
        return readLevel0(r);
    case 1:
        return readLevel1(r);
    case 2:
        return readLevel2(r);
    default:
        return ErrHeaderLevel;
    }
}

} // namespace lzh
