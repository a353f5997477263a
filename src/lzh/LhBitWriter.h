// The bit output of the -lh5- encoder: codes gathered most significant bit first and
// handed to a sink in large writes; the parallel packer joins pieces' streams with it.
#pragma once

#include "lzh/ByteStream.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lzh {

// Bits on their way out, most significant first as the format reads them. They gather at
// the top of a 64-bit word and leave it eight bytes at a time, so that one code costs a
// shift, an or and a store. A loop keeps its cursor in a local: stores through a byte
// pointer could change any member, so a member cursor would be read back after each one.
struct BitCursor
{
    uint64_t acc = 0; // the bits not yet stored, from the top
    int bits = 0;
    uint8_t *out = nullptr;

    // Adds `n` bits without storing: the bits held (at most 7 after a flush) and those
    // added since must stay within 63.
    [[gnu::always_inline]] void add(int n, uint64_t value)
    {
        // Two shifts: one of 64 would be undefined for n == 0 on an empty word.
        acc |= (value << 1) << (63 - bits - n);
        bits += n;
    }
    // Stores the whole bytes held; writes eight bytes at `out`.
    [[gnu::always_inline]] void flush()
    {
        const uint64_t be = std::endian::native == std::endian::little ? __builtin_bswap64(acc) : acc;
        std::memcpy(out, &be, 8);
        out += bits >> 3;
        acc <<= bits & ~7;
        bits &= 7;
    }
};

// Collects the bits of a stream and hands them to a sink in large writes.
class BitWriter
{
  public:
    explicit BitWriter(ByteSink &sink) : m_sink(sink), m_buf(kBufSize + kMaxOpen + 8)
    {
        m_cursor.out = m_buf.data();
    }

    static constexpr size_t kMaxOpen = 1 << 14;
    // A cursor that may store `bytes` (at most kMaxOpen) whole bytes; close() takes it back.
    BitCursor open(size_t bytes)
    {
        if (size_t(m_cursor.out - m_buf.data()) + bytes > kBufSize + kMaxOpen)
            flushBuffer();
        return m_cursor;
    }
    void close(const BitCursor &cursor)
    {
        m_cursor = cursor;
        if (size_t(m_cursor.out - m_buf.data()) >= kBufSize)
            flushBuffer();
    }

    void put(int n, uint32_t value)
    {
        BitCursor c = open(8);
        c.add(n, value);
        c.flush();
        close(c);
    }

    // Appends a stream of `bits` bits, most significant first, as another writer made it.
    void putBits(const uint8_t *data, uint64_t bits)
    {
        while (bits >= 64) {
            // Seven bytes at a time, loaded as eight.
            const uint64_t words = std::min<uint64_t>((bits - 8) / 56, kMaxOpen / 7);
            BitCursor c = open(size_t(words) * 7);
            for (uint64_t k = 0; k < words; ++k, data += 7) {
                uint64_t w;
                std::memcpy(&w, data, 8);
                if constexpr (std::endian::native == std::endian::little)
                    w = __builtin_bswap64(w);
                c.add(56, w >> 8);
                c.flush();
            }
            close(c);
            bits -= words * 56;
        }
        for (; bits >= 8; bits -= 8)
            put(8, *data++);
        if (bits > 0)
            put(int(bits), uint32_t(*data >> (8 - bits)));
    }

    // Pads the last byte with zero bits and hands everything to the sink.
    bool finish()
    {
        BitCursor c = open(8);
        m_bitLength = (m_written + size_t(c.out - m_buf.data())) * 8 + uint64_t(c.bits);
        if (c.bits > 0) {
            *c.out++ = uint8_t(c.acc >> 56);
            c.acc = 0;
            c.bits = 0;
        }
        m_cursor = c;
        flushBuffer();
        return m_ok;
    }

    bool ok() const { return m_ok; }
    uint64_t written() const { return m_written; }
    // The bits written before finish() padded them to a whole byte.
    uint64_t bitLength() const { return m_bitLength; }

  private:
    void flushBuffer()
    {
        const size_t used = size_t(m_cursor.out - m_buf.data());
        if (m_ok && used > 0 && !m_sink.write(m_buf.data(), used))
            m_ok = false;
        m_written += used;
        m_cursor.out = m_buf.data();
    }

    static constexpr size_t kBufSize = 1 << 16;
    ByteSink &m_sink;
    std::vector<uint8_t> m_buf;
    BitCursor m_cursor;
    bool m_ok = true;
    uint64_t m_written = 0;
    uint64_t m_bitLength = 0;
};

} // namespace lzh
