#include "lzh/LhDecoder.h"

#include "lzh/Crc16.h"
#include "lzh/LhFormat.h"
#include "lzh/LzhErrors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace lzh {

namespace {

// Twice the largest dictionary (-lh7-): a match may then be copied eight bytes at a time
// and run a few bytes past its end, over history no distance can reach any more.
constexpr size_t kRingBits = 17;
constexpr size_t kRingSize = size_t(1) << kRingBits;
constexpr size_t kRingMask = kRingSize - 1;
constexpr size_t kCopySlack = 8;

// Reads bits most significant first from a 64-bit buffer. Past the end of the input it
// supplies zero bits and counts them, so that a decoder reading beyond the data is caught.
class BitReader
{
  public:
    explicit BitReader(ByteSource &in) : m_in(in), m_buf(1 << 16) {}

    // At least 56 bits ready afterwards.
    [[gnu::always_inline]] void refill()
    {
        if (m_count > 56)
            return;
        if (m_len - m_pos >= 8) {
            // Eight bytes at once: the whole bytes that fit are taken, and the bits of the
            // next byte that land below the count are that byte's own, so the next refill
            // puts the same bits there again.
            uint64_t v;
            std::memcpy(&v, m_buf.data() + m_pos, 8);
            if constexpr (std::endian::native == std::endian::little)
                v = __builtin_bswap64(v);
            m_acc |= v >> m_count;
            m_pos += size_t(63 - m_count) >> 3;
            m_count |= 56;
            return;
        }
        refillSlow();
    }
    // The next n bits, 1 <= n <= 32.
    uint32_t peek(int n) const { return uint32_t(m_acc >> (64 - n)); }
    void skip(int n)
    {
        m_acc <<= n;
        m_count -= n;
    }
    uint32_t get(int n)
    {
        if (m_count < n)
            refill();
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // True once bits beyond the real input were consumed.
    bool overrun() const { return m_padBytes != 0 && m_padBytes * 8 > uint64_t(m_count); }
    bool readFailed() const { return m_in.failed(); }

  private:
    [[gnu::noinline]] void refillSlow()
    {
        while (m_count <= 56) {
            if (m_pos == m_len && !load()) {
                m_count += 8;
                ++m_padBytes;
                continue;
            }
            m_acc |= uint64_t(m_buf[m_pos++]) << (56 - m_count);
            m_count += 8;
        }
    }
    bool load()
    {
        if (m_eof)
            return false;
        m_len = m_in.read(m_buf.data(), m_buf.size());
        m_pos = 0;
        if (m_len == 0)
            m_eof = true;
        return m_len > 0;
    }

    ByteSource &m_in;
    std::vector<uint8_t> m_buf;
    size_t m_pos = 0, m_len = 0;
    bool m_eof = false;
    uint64_t m_acc = 0;
    int m_count = 0;
    uint64_t m_padBytes = 0;
};

// A canonical Huffman code decoded through a direct table of `TableBits` bits; the rare
// longer codes fall back to a walk over the code lengths.
template <int TableBits, int MaxSymbols> class HuffDecoder
{
  public:
    static constexpr uint16_t kInvalid = 0xFFFF;
    static constexpr uint16_t kLong = 0xFFFE;

    void setSingle(int symbol) { std::fill(std::begin(m_table), std::end(m_table), uint16_t(symbol << 4)); }

    bool build(const uint8_t *len, int n)
    {
        uint32_t count[kMaxCodeBits + 1] = {};
        for (int i = 0; i < n; ++i)
            ++count[len[i]];
        count[0] = 0;
        uint32_t kraft = 0;
        for (int b = 1; b <= kMaxCodeBits; ++b)
            kraft += count[b] << (kMaxCodeBits - b);
        if (kraft == 0 || kraft > (1u << kMaxCodeBits))
            return false;
        uint32_t code = 0, index = 0;
        for (int b = 1; b <= kMaxCodeBits; ++b) {
            code = (code + (b > 1 ? count[b - 1] : 0)) << (b > 1 ? 1 : 0);
            m_first[b] = code;
            m_firstIndex[b] = index;
            m_count[b] = count[b];
            index += count[b];
        }
        uint32_t next[kMaxCodeBits + 1];
        std::copy(std::begin(m_first), std::end(m_first), std::begin(next));
        uint32_t fill[kMaxCodeBits + 1];
        std::copy(std::begin(m_firstIndex), std::end(m_firstIndex), std::begin(fill));
        std::fill(std::begin(m_table), std::end(m_table), kInvalid);
        for (int s = 0; s < n; ++s) {
            const int b = len[s];
            if (b == 0)
                continue;
            m_sorted[fill[b]++] = uint16_t(s);
            const uint32_t c = next[b]++;
            if (b <= TableBits) {
                const uint32_t from = c << (TableBits - b);
                const uint32_t to = (c + 1) << (TableBits - b);
                const uint16_t entry = uint16_t(s << 4 | b);
                for (uint32_t k = from; k < to; ++k)
                    m_table[k] = entry;
            } else {
                m_table[c >> (b - TableBits)] = kLong;
            }
        }
        return true;
    }

    // The next symbol, or -1 for a code that the table does not hold.
    [[gnu::always_inline]] int decode(BitReader &bits) const
    {
        const uint16_t e = m_table[bits.peek(TableBits)];
        if (e < kLong) {
            bits.skip(e & 15);
            return e >> 4;
        }
        if (e == kInvalid)
            return -1;
        for (int b = TableBits + 1; b <= kMaxCodeBits; ++b) {
            const uint32_t c = bits.peek(b);
            if (c >= m_first[b] && c - m_first[b] < m_count[b]) {
                bits.skip(b);
                return m_sorted[m_firstIndex[b] + c - m_first[b]];
            }
        }
        return -1;
    }

  private:
    uint16_t m_table[1 << TableBits];
    uint32_t m_first[kMaxCodeBits + 1] = {};
    uint32_t m_firstIndex[kMaxCodeBits + 1] = {};
    uint32_t m_count[kMaxCodeBits + 1] = {};
    uint16_t m_sorted[MaxSymbols] = {};
};

class Decoder
{
  public:
    Decoder(const MethodParams &params, LimitedSource &in, ByteSink &out)
        : m_params(params), m_in(in), m_out(out), m_bits(in), m_ring(kRingSize + kCopySlack, uint8_t(' '))
    {}

    int run(uint64_t originalSize, uint16_t &crc);

  private:
    bool readPtLen(int nn, int nbit, int special);
    bool readCLen();
    bool readBlockHeader();
    bool flush(size_t upTo);
    int failure() const
    {
        if (m_in.failed())
            return ErrArchiveRead;
        return m_in.truncated() ? ErrDataTruncated : ErrDataCorrupt;
    }

    MethodParams m_params;
    LimitedSource &m_in;
    ByteSink &m_out;
    BitReader m_bits;
    std::vector<uint8_t> m_ring;
    size_t m_flushed = 0; // ring index up to which bytes went to the sink
    uint16_t m_crc = 0;
    bool m_writeFailed = false;

    uint8_t m_ptLen[kNT > 17 ? kNT : 17] = {};
    uint8_t m_cLen[kNC] = {};
    HuffDecoder<8, kNT> m_pt;
    HuffDecoder<12, kNC> m_c;
    HuffDecoder<8, kNT> m_p; // same shape as m_pt so readPtLen serves both
};

bool Decoder::readPtLen(int nn, int nbit, int special)
{
    m_bits.refill();
    const int n = int(m_bits.get(nbit));
    auto &table = special < 0 ? m_p : m_pt;
    if (n == 0) {
        const int c = int(m_bits.get(nbit));
        if (c >= nn)
            return false;
        table.setSingle(c);
        return true;
    }
    if (n > nn)
        return false;
    std::fill(m_ptLen, m_ptLen + nn, uint8_t(0));
    int i = 0;
    while (i < n) {
        m_bits.refill();
        int c = int(m_bits.peek(3));
        if (c == 7) {
            // Lengths above 6 are written as a run of one bits ended by a zero bit.
            uint32_t mask = 1u << 12;
            const uint32_t word = m_bits.peek(16);
            while (mask & word) {
                mask >>= 1;
                ++c;
            }
            if (c > kMaxCodeBits)
                return false;
            m_bits.skip(c - 3);
        } else {
            m_bits.skip(3);
        }
        m_ptLen[i++] = uint8_t(c);
        if (i == special) {
            int zeros = int(m_bits.get(2));
            if (i + zeros > nn)
                return false;
            while (zeros-- > 0)
                m_ptLen[i++] = 0;
        }
    }
    return table.build(m_ptLen, nn);
}

bool Decoder::readCLen()
{
    m_bits.refill();
    const int n = int(m_bits.get(kCBits));
    if (n == 0) {
        const int c = int(m_bits.get(kCBits));
        if (c >= kNC)
            return false;
        m_c.setSingle(c);
        return true;
    }
    if (n > kNC)
        return false;
    std::fill(std::begin(m_cLen), std::end(m_cLen), uint8_t(0));
    int i = 0;
    while (i < n) {
        m_bits.refill();
        int c = m_pt.decode(m_bits);
        if (c < 0)
            return false;
        if (c <= 2) {
            int run = c == 0 ? 1 : c == 1 ? int(m_bits.get(4)) + 3 : int(m_bits.get(kCBits)) + 20;
            if (i + run > n)
                return false;
            while (run-- > 0)
                m_cLen[i++] = 0;
        } else {
            m_cLen[i++] = uint8_t(c - 2);
        }
    }
    return m_c.build(m_cLen, kNC);
}

bool Decoder::readBlockHeader()
{
    return readPtLen(kNT, kTBits, 3) && readCLen() && readPtLen(m_params.np, m_params.pBits, -1) &&
           !m_bits.overrun();
}

bool Decoder::flush(size_t upTo)
{
    if (upTo > m_flushed) {
        const uint8_t *p = m_ring.data() + m_flushed;
        const size_t n = upTo - m_flushed;
        m_crc = crc16Update(m_crc, p, n);
        if (!m_out.write(p, n))
            m_writeFailed = true;
    }
    m_flushed = upTo & kRingMask;
    return !m_writeFailed;
}

int Decoder::run(uint64_t originalSize, uint16_t &crc)
{
    uint64_t left = originalSize;
    size_t w = 0; // write index in the ring
    uint32_t blockLeft = 0;
    uint8_t *ring = m_ring.data();
    while (left > 0) {
        if (blockLeft == 0) {
            m_bits.refill();
            blockLeft = m_bits.get(16);
            if (blockLeft == 0 || !readBlockHeader())
                return failure();
        }
        --blockLeft;
        m_bits.refill();
        const int c = m_c.decode(m_bits);
        if (c < 0)
            return failure();
        if (c < 256) {
            ring[w++] = uint8_t(c);
            --left;
            if (w == kRingSize) {
                if (!flush(w))
                    return ErrOutputWrite;
                w = 0;
            }
        } else {
            int p = m_p.decode(m_bits);
            if (p < 0)
                return failure();
            if (p > 1)
                p = int((1u << (p - 1)) + m_bits.get(p - 1));
            size_t len = size_t(c - 256 + kMinMatch);
            if (len > left)
                len = size_t(left);
            left -= len;
            size_t from = (w - size_t(p) - 1) & kRingMask;
            if (size_t(p) >= 7 && from < w && w + len + kCopySlack <= kRingSize) {
                // The usual case: no wrap and no overlap within eight bytes.
                uint8_t *dst = ring + w;
                const uint8_t *src = ring + from;
                w += len;
                for (size_t k = 0; k < len; k += 8)
                    std::memcpy(dst + k, src + k, 8);
                len = 0;
            }
            while (len > 0) {
                // Copy in runs that wrap neither index.
                const size_t step = std::min({len, kRingSize - w, kRingSize - from});
                if (from + step <= w || w + step <= from) {
                    std::memcpy(ring + w, ring + from, step);
                } else if (from < w) {
                    // The match repeats its last `dist` bytes: copy that pattern in pieces
                    // that double, each a whole number of periods and free of overlap.
                    const size_t dist = w - from;
                    for (size_t done = 0; done < step;) {
                        const size_t n = std::min(step - done, dist + done);
                        std::memcpy(ring + w + done, ring + from, n);
                        done += n;
                    }
                } else {
                    // The source lies ahead of the write index (a distance of nearly the
                    // whole ring): reading runs ahead of writing, as memmove copies.
                    std::memmove(ring + w, ring + from, step);
                }
                w += step;
                from = (from + step) & kRingMask;
                len -= step;
                if (w == kRingSize) {
                    if (!flush(w))
                        return ErrOutputWrite;
                    w = 0;
                }
            }
        }
        if (m_bits.overrun())
            return failure();
    }
    if (!flush(w))
        return ErrOutputWrite;
    if (m_in.failed())
        return ErrArchiveRead;
    crc = m_crc;
    return Ok;
}

int copyStored(LimitedSource &in, uint64_t originalSize, ByteSink &out, uint16_t &crc)
{
    if (in.left() != originalSize)
        return ErrSizeMismatch;
    std::vector<uint8_t> buf(1 << 16);
    uint16_t c = 0;
    while (in.left() > 0) {
        const size_t n = in.read(buf.data(), buf.size());
        if (in.failed())
            return ErrArchiveRead;
        if (n == 0)
            return ErrDataTruncated;
        c = crc16Update(c, buf.data(), n);
        if (!out.write(buf.data(), n))
            return ErrOutputWrite;
    }
    crc = c;
    return Ok;
}

} // namespace

bool isKnownMethod(std::string_view method)
{
    return method == "-lh0-" || method == "-lh5-" || method == "-lh6-" || method == "-lh7-";
}

int decodeEntry(std::string_view method, LimitedSource &in, uint64_t originalSize, ByteSink &out,
                uint16_t &crc)
{
    if (method == "-lh0-")
        return copyStored(in, originalSize, out, crc);
    const MethodParams *params = method == "-lh5-"   ? &kLh5
                                 : method == "-lh6-" ? &kLh6
                                 : method == "-lh7-" ? &kLh7
                                                     : nullptr;
    if (!params)
        return ErrUnknownMethod;
    if (originalSize == 0) {
        crc = 0;
        return Ok;
    }
    auto decoder = std::make_unique<Decoder>(*params, in, out);
    return decoder->run(originalSize, crc);
}

} // namespace lzh
