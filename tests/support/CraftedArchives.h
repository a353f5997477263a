// LHA archives built byte by byte, as a hostile peer would write them: any name bytes,
// any declared size (also beyond 4 GiB), and -lh5- data whose blocks decode from a few
// bytes to gigabytes.
#pragma once

#include "lzh/Crc16.h"
#include "lzh/Lh5Encoder.h"
#include "lzh/LzhArchive.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace CraftedArchives {

inline void put16(QByteArray &b, quint32 v)
{
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}

inline void put32(QByteArray &b, quint32 v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

inline quint16 crcOf(const QByteArray &data)
{
    return lzh::crc16Update(0, reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
}

// A level-0 header with the given name and data; the declared original size is the data's
// size unless given.
inline QByteArray level0Entry(const QByteArray &name, const QByteArray &data, const char *method = "-lh0-",
                              quint32 originalSize = 0xFFFFFFFF)
{
    QByteArray h;
    h.append('\0').append('\0').append(method, 5);
    put32(h, quint32(data.size()));
    put32(h, originalSize == 0xFFFFFFFF ? quint32(data.size()) : originalSize);
    put32(h, 0x5A210000); // 2025-01-01 00:00
    h.append(char(0x20)).append(char(0));
    h.append(char(name.size())).append(name);
    put16(h, crcOf(data));
    h[0] = char(h.size() - 2);
    quint8 sum = 0;
    for (qsizetype i = 2; i < h.size(); ++i)
        sum = quint8(sum + quint8(h[i]));
    h[1] = char(sum);
    return h + data;
}

// A level-1 header followed by `extensions` (each its type byte and data). The size field
// counts the extensions, as level 1 has it, unless `sizeField` is given; a non-zero
// `announced[i]` replaces the size written before extension i, to damage the chain.
inline QByteArray level1Entry(const QByteArray &name, const QByteArray &data,
                              const QList<QByteArray> &extensions, const QList<quint32> &announced = {},
                              quint32 sizeField = 0xFFFFFFFF)
{
    auto sizeBefore = [&](qsizetype i) -> quint32 {
        if (i >= extensions.size())
            return 0;
        return i < announced.size() && announced[i] ? announced[i] : quint32(extensions[i].size() + 2);
    };
    quint32 extBytes = 0;
    for (qsizetype i = 0; i < extensions.size(); ++i)
        extBytes += sizeBefore(i);
    QByteArray h;
    h.append('\0').append('\0').append("-lh0-", 5);
    put32(h, sizeField == 0xFFFFFFFF ? quint32(data.size()) + extBytes : sizeField);
    put32(h, quint32(data.size()));
    put32(h, 0x5A210000); // 2025-01-01 00:00
    h.append(char(0x20)).append(char(1));
    h.append(char(name.size())).append(name);
    put16(h, crcOf(data));
    h.append('U');
    put16(h, sizeBefore(0));
    h[0] = char(h.size() - 2);
    quint8 sum = 0;
    for (qsizetype i = 2; i < h.size(); ++i)
        sum = quint8(sum + quint8(h[i]));
    h[1] = char(sum);
    for (qsizetype i = 0; i < extensions.size(); ++i) {
        h.append(extensions[i]);
        put16(h, sizeBefore(i + 1));
    }
    return h + data;
}

// A level-2 header whose extended header 0x42 declares a 64-bit original size, with the
// data's CRC given (a declaration that large cannot be checked anyway).
inline QByteArray level2Entry(const QByteArray &name, const QByteArray &data, const char *method,
                              quint64 originalSize, quint16 crc)
{
    QByteArray h;
    put16(h, 0); // total size, set below
    h.append(method, 5);
    put32(h, quint32(data.size()));
    put32(h, quint32(qMin<quint64>(originalSize, 0xFFFFFFFFu)));
    put32(h, 1735689600); // 2025-01-01 00:00 UTC
    h.append(char(0x20)).append(char(2));
    put16(h, crc);
    h.append('U');
    put16(h, quint32(3 + name.size()));
    h.append(char(0x01)).append(name);
    put16(h, 3 + 16);
    h.append(char(0x42));
    put32(h, quint32(data.size()));
    put32(h, 0);
    put32(h, quint32(originalSize));
    put32(h, quint32(originalSize >> 32));
    put16(h, 0);
    // A first byte of 0 would read as the end of the archive.
    if ((h.size() & 0xFF) == 0)
        h.append('\0');
    h[0] = char(h.size() & 0xFF);
    h[1] = char(h.size() >> 8);
    return h + data;
}

// `data` packed as -lh5- data (no header).
inline QByteArray lh5Packed(const QByteArray &data)
{
    lzh::MemorySource in(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
    lzh::MemorySink out;
    lzh::EncodeResult result;
    if (lzh::encodeLh5(in, out, result) != 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(out.bytes.data()), qsizetype(out.bytes.size()));
}

// A whole archive of one -lh5- entry holding `data`, with its true size and CRC.
inline QByteArray lh5Archive(const QByteArray &name, const QByteArray &data)
{
    return level2Entry(name, lh5Packed(data), "-lh5-", quint64(data.size()), crcOf(data)) + '\0';
}

// What the archive reader says of an archive's first entry: the result of unpacking it,
// also when its data is bad.
inline int firstEntryResult(const QByteArray &archive)
{
    lzh::MemorySource in(reinterpret_cast<const uint8_t *>(archive.constData()), size_t(archive.size()));
    lzh::ArchiveReader reader(in);
    lzh::EntryInfo info;
    bool end = false;
    if (const int r = reader.next(info, end); r != 0 || end)
        return r;
    lzh::MemorySink out;
    return reader.extract(out);
}

// -lh5- data of `blocks` blocks whose three code tables each hold one symbol: every code
// is zero bits long, so each block is a 52-bit header that stands for 65,535 matches of
// 256 bytes (blanks copied from one back). This many bytes decode from it:
inline constexpr quint64 kBytesPerRepeatBlock = 65535ull * 256;

inline QByteArray lh5RepeatBlocks(int blocks)
{
    QByteArray out;
    quint64 acc = 0;
    int bits = 0;
    auto put = [&](quint32 value, int n) {
        acc = (acc << n) | value;
        bits += n;
        while (bits >= 8) {
            out.append(char((acc >> (bits - 8)) & 0xFF));
            bits -= 8;
        }
    };
    for (int i = 0; i < blocks; ++i) {
        put(65535, 16); // codes in the block
        put(0, 5);      // code-length table: no lengths, then its single symbol
        put(0, 5);
        put(0, 9); // literal/length table: its single symbol, the longest match
        put(509, 9);
        put(0, 4); // position table: distance 1
        put(0, 4);
    }
    if (bits > 0)
        put(0, 8 - bits);
    return out;
}

// A whole archive of one such entry, with its true size and CRC: a few hundred bytes that
// unpack without error to `blocks` × kBytesPerRepeatBlock blanks, which takes a while.
inline QByteArray repeatArchive(const QByteArray &name, int blocks)
{
    const QByteArray blanks(qsizetype(kBytesPerRepeatBlock), ' ');
    quint16 crc = 0;
    for (int i = 0; i < blocks; ++i)
        crc = lzh::crc16Update(crc, reinterpret_cast<const uint8_t *>(blanks.constData()),
                               size_t(blanks.size()));
    return level2Entry(name, lh5RepeatBlocks(blocks), "-lh5-", quint64(blocks) * kBytesPerRepeatBlock, crc) +
           '\0';
}

} // namespace CraftedArchives
