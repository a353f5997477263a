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

// Output goes into one flat window: the history (as far back as the method's matches
// reach) followed by a chunk of new bytes. A full chunk goes to the sink in one piece,
// and its last history bytes move to the front, so a match never wraps. The slack past
// the chunk takes a match that starts just before the end and the whole-word copies that
// run a little past a match. A small entry gets a chunk of its own size.
constexpr size_t kChunk = size_t(1) << 19;
constexpr size_t kCopySlack = 32;
constexpr size_t historyOf(const MethodParams &params)
{
    return size_t(1) << params.dicBits;
}
// The farthest distance is that of the largest position symbol with all its extra bits.
static_assert(size_t(1) << (kLh5.np - 1) == historyOf(kLh5) &&
              size_t(1) << (kLh6.np - 1) == historyOf(kLh6) && size_t(1) << (kLh7.np - 1) == historyOf(kLh7));

// The bit reader's working state, copied into locals by the hot loop so that the
// compiler keeps it in registers across the byte stores of the output.
struct BitState
{
    const uint8_t *p = nullptr;   // next input byte not yet in acc as a whole
    const uint8_t *end = nullptr; // end of the buffered input
    uint64_t acc = 0;             // next bits, most significant first
    int count = 0;                // valid bits in acc; the bits below are zero or the next bits

    bool canRefillFast() const { return end - p >= 8; }
    // At least 56 bits ready afterwards; needs eight buffered bytes. The whole bytes that
    // fit are taken; the bits of the next byte that land below the count are that byte's
    // own, so the next refill puts the same bits there again.
    [[gnu::always_inline]] void refillFast()
    {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if constexpr (std::endian::native == std::endian::little)
            v = __builtin_bswap64(v);
        acc |= v >> count;
        p += size_t(63 - count) >> 3;
        count |= 56;
    }
    uint32_t peek(int n) const { return uint32_t(acc >> (64 - n)); }
    void skip(int n)
    {
        acc <<= n;
        count -= n;
    }
    // Skips the bits an entry (below) or a distance entry gives in its low six bits,
    // which never exceed 31. The shift takes the entry as it is, since the machine's
    // shift uses the low six bits only, so no masking lies between the table load and
    // the next index.
    [[gnu::always_inline]] void skipEntry(uint32_t e)
    {
        acc <<= (e & 63);
        count -= int(e & 31);
    }
};

// Reads bits most significant first. Past the end of the input it supplies zero bits and
// counts them, so that a decoder reading beyond the data is caught.
class BitReader
{
  public:
    explicit BitReader(ByteSource &in) : m_in(in), m_buf(new uint8_t[kBufferSize]) {}

    const BitState &state() const { return m_s; }
    void setState(const BitState &s) { m_s = s; }

    // At least 56 bits ready afterwards.
    [[gnu::always_inline]] void refill()
    {
        if (m_s.canRefillFast())
            m_s.refillFast();
        else
            refillSlow();
    }
    // Byte by byte across the end of the buffer, loading more input as needed.
    [[gnu::noinline]] void refillSlow()
    {
        while (m_s.count <= 55) {
            if (m_s.p == m_s.end && !load()) {
                m_s.count += 8;
                ++m_padBytes;
                continue;
            }
            m_s.acc |= uint64_t(*m_s.p++) << (56 - m_s.count);
            m_s.count += 8;
        }
    }
    uint32_t peek(int n) const { return m_s.peek(n); }
    void skip(int n) { m_s.skip(n); }
    uint32_t get(int n)
    {
        if (m_s.count < n)
            refill();
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // True once zero bits were supplied past the end of the input.
    bool padded() const { return m_padBytes != 0; }
    // True once bits beyond the real input were consumed, with `count` bits left.
    bool overrunAt(int count) const { return m_padBytes * 8 > uint64_t(count); }
    bool overrun() const { return overrunAt(m_s.count); }

  private:
    static constexpr size_t kBufferSize = size_t(1) << 16;

    bool load()
    {
        if (m_eof)
            return false;
        const size_t n = m_in.read(m_buf.get(), kBufferSize);
        m_s.p = m_buf.get();
        m_s.end = m_s.p + n;
        if (n == 0)
            m_eof = true;
        return n > 0;
    }

    ByteSource &m_in;
    std::unique_ptr<uint8_t[]> m_buf;
    BitState m_s;
    bool m_eof = false;
    uint64_t m_padBytes = 0;
};

// Table entries: the symbol above six bits of code length, or one of the two markers
// below (both have the top bit set, which no symbol entry has). Six bits, because a
// 64-bit shift by the whole entry then skips the code.
constexpr uint16_t kEntryMarker = 0x8000;
constexpr uint16_t kInvalid = 0xFFFF; // no code starts with these bits
static_assert(((kNC - 1) << 6 | kMaxCodeBits) < kEntryMarker);
// Entries below this one are literals.
constexpr uint32_t kFirstMatchEntry = 256 << 6;
constexpr int entryLength(uint32_t e)
{
    return int(e & 63);
}
constexpr uint32_t entrySymbol(uint32_t e)
{
    return e >> 6;
}

// A canonical Huffman code decoded through a direct table of `TableBits` bits; a longer
// code is found in a second table, indexed by the bits that follow, that its first
// `TableBits` bits point to (kEntryMarker | its index).
template <int TableBits, int MaxSymbols> class HuffDecoder
{
  public:
    static constexpr int kSubBits = kMaxCodeBits - TableBits;

    void setSingle(int symbol) { std::fill(std::begin(m_table), std::end(m_table), uint16_t(symbol << 6)); }

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
        uint32_t next[kMaxCodeBits + 1] = {};
        for (int b = 2; b <= kMaxCodeBits; ++b)
            next[b] = (next[b - 1] + count[b - 1]) << 1;
        std::fill(std::begin(m_table), std::end(m_table), kInvalid);
        uint32_t subTables = 0;
        for (int s = 0; s < n; ++s) {
            const int b = len[s];
            if (b == 0)
                continue;
            const uint32_t c = next[b]++;
            const uint16_t entry = uint16_t(s << 6 | b);
            if (b <= TableBits) {
                std::fill(m_table + (c << (TableBits - b)), m_table + ((c + 1) << (TableBits - b)), entry);
                continue;
            }
            uint16_t &root = m_table[c >> (b - TableBits)];
            if (root == kInvalid) {
                root = uint16_t(kEntryMarker | subTables++);
                std::fill_n(m_sub + (size_t(root & ~kEntryMarker) << kSubBits), 1 << kSubBits, kInvalid);
            } else if (!(root & kEntryMarker)) {
                // A shorter code is a prefix of this one; the Kraft sum above rules that
                // out, and the second tables must never be indexed from a symbol entry.
                return false;
            }
            uint16_t *sub = m_sub + (size_t(root & ~kEntryMarker) << kSubBits);
            const uint32_t rest = c & ((1u << (b - TableBits)) - 1);
            std::fill(sub + (rest << (kMaxCodeBits - b)), sub + ((rest + 1) << (kMaxCodeBits - b)), entry);
        }
        return true;
    }

    // The first-level entry for the bits at the top of `acc`, or for those bits given.
    uint32_t root(uint64_t acc) const { return m_table[acc >> (64 - TableBits)]; }
    uint32_t entry(size_t index) const { return m_table[index]; }
    // The entry a marker leads to: a symbol entry or kInvalid.
    uint32_t follow(uint32_t e, uint64_t acc) const
    {
        if (e == kInvalid)
            return e;
        const uint32_t low = uint32_t(acc >> (64 - kMaxCodeBits)) & ((1u << kSubBits) - 1);
        return m_sub[(size_t(e & ~uint32_t(kEntryMarker)) << kSubBits) | low];
    }
    uint32_t lookup(uint64_t acc) const
    {
        const uint32_t e = root(acc);
        return (e & kEntryMarker) ? follow(e, acc) : e;
    }

    // The next symbol, or -1 for a code that the table does not hold.
    int decode(BitReader &bits) const
    {
        const uint32_t e = lookup(bits.state().acc);
        if (e == kInvalid)
            return -1;
        bits.skip(entryLength(e));
        return int(entrySymbol(e));
    }

  private:
    uint16_t m_table[1 << TableBits];
    // One second table per distinct first part of a long code: at most one per symbol.
    uint16_t m_sub[size_t(MaxSymbols) << kSubBits];
};

// A match distance read at once. From the low bits: the bits the position code and its
// extra bits take together (so that a shift by the entry skips them); the right shift
// that brings those bits to the bottom; the mask of the extra bits; and the distance they
// add to. Zero (no distance is zero) sends the decoder to the position table for a long
// or unused code.
constexpr uint64_t distanceEntry(uint32_t symbol, int codeLength)
{
    const uint32_t extra = symbol > 1 ? symbol - 1 : 0;
    const uint64_t base = (symbol > 1 ? 1u << (symbol - 1) : symbol) + 1;
    const uint32_t total = uint32_t(codeLength) + extra;
    return base << 32 | uint64_t((1u << extra) - 1) << 16 | uint64_t((64 - total) & 63) << 8 | total;
}
// The distance and skips the bits of an entry from distanceEntry.
[[gnu::always_inline]] inline size_t takeDistance(BitState &s, uint64_t d)
{
    const size_t extraBits = size_t(s.acc >> (d >> 8 & 63)) & size_t(d >> 16 & 0xFFFF);
    s.skipEntry(uint32_t(d));
    return size_t(d >> 32) + extraBits;
}

// Copies a match of `len` bytes from `dist` bytes back. Writes whole words and so may
// write up to 15 bytes past the match, into output not produced yet.
[[gnu::always_inline]] inline void copyMatch(uint8_t *op, size_t dist, size_t len)
{
    const uint8_t *src = op - dist;
    if (dist >= 16) [[likely]] {
        // Most matches are short: one word, and a loop only for the rest.
        std::memcpy(op, src, 16);
        if (len > 16) [[unlikely]] {
#pragma clang loop unroll(disable)
            for (size_t k = 16; k < len; k += 16)
                std::memcpy(op + k, src + k, 16);
        }
    } else if (dist >= 8) {
#pragma clang loop unroll(disable)
        for (size_t k = 0; k < len; k += 8)
            std::memcpy(op + k, src + k, 8);
    } else {
        // The match repeats its last `dist` bytes. Once eight bytes are written one at a
        // time, each further word comes from a whole number of periods back, far enough
        // that the word it reads is complete.
        static constexpr uint8_t kPeriod[8] = {0, 8, 8, 9, 8, 10, 12, 14};
#pragma clang loop unroll(disable)
        for (size_t k = 0; k < 8; ++k)
            op[k] = src[k];
        const size_t period = kPeriod[dist];
#pragma clang loop unroll(disable)
        for (size_t k = 8; k < len; k += 8)
            std::memcpy(op + k, op + k - period, 8);
    }
}

class Decoder
{
  public:
    Decoder(const MethodParams &params, LimitedSource &in, uint64_t originalSize, ByteSink &out)
        : m_params(params), m_in(in), m_out(out), m_bits(in), m_history(historyOf(params)),
          m_flushAt(m_history + size_t(std::min<uint64_t>(kChunk, originalSize))),
          m_window(new uint8_t[m_flushAt + kMaxMatch + kCopySlack]), m_flushed(m_history)
    {
        // Matches may reach before the first byte; they find spaces there.
        std::memset(m_window.get(), ' ', m_history);
    }

    int run(uint64_t originalSize, uint16_t &crc);

  private:
    bool readPtLen(int nn, int nbit, int special);
    bool readCLen();
    bool readBlockHeader();
    uint8_t *decodeSymbols(uint8_t *op, uint8_t *stop, uint8_t *end, uint32_t &blockLeft);
    bool flush(const uint8_t *upTo);
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
    const size_t m_history; // bytes kept before the write position
    const size_t m_flushAt; // window index at which a full chunk goes to the sink
    std::unique_ptr<uint8_t[]> m_window;
    size_t m_flushed; // window index up to which bytes went to the sink
    uint16_t m_crc = 0;

    uint8_t m_ptLen[kNT > 17 ? kNT : 17] = {};
    uint8_t m_cLen[kNC] = {};
    HuffDecoder<8, kNT> m_pt;
    HuffDecoder<12, kNC> m_c;
    HuffDecoder<8, kNT> m_p; // same shape as m_pt so readPtLen serves both
    uint64_t m_distance[256] = {};
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
    if (!readPtLen(kNT, kTBits, 3) || !readCLen() || !readPtLen(m_params.np, m_params.pBits, -1) ||
        m_bits.overrun())
        return false;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t e = m_p.root(uint64_t(i) << 56);
        m_distance[i] = (e & kEntryMarker) ? 0 : distanceEntry(entrySymbol(e), entryLength(e));
    }
    return true;
}

// Decodes symbols of the current block into the window at `op` until the block ends or
// `op` reaches `stop`; no match runs past `end`. Returns the new write position, or null
// for corrupt or missing data.
//
// One refill per symbol suffices: a literal and length code (16 bits at most), a
// position code (16) and its extra bits (15) take 47 of the 56 bits. Outside a match at
// least 40 bits are left over, so the first table is indexed before the refill and the
// refill is off the path from one lookup to the next.
uint8_t *Decoder::decodeSymbols(uint8_t *op, uint8_t *const stop, uint8_t *const end, uint32_t &blockLeft)
{
    BitState s = m_bits.state();
    bool padded = m_bits.padded();
    uint32_t symbolsLeft = blockLeft;
    // The refill that works anywhere: near the end of the buffered input it goes byte
    // by byte, loads more, and past the end pads with zero bits.
    auto refillAnywhere = [&] {
        if (s.canRefillFast()) [[likely]] {
            s.refillFast();
        } else {
            m_bits.setState(s);
            m_bits.refillSlow();
            s = m_bits.state();
            padded = m_bits.padded();
        }
    };
    // One symbol; false for a code the tables do not hold. `refill` is refillAnywhere, or
    // the plain refill where eight buffered bytes are known to be there.
    auto decodeOne = [&](auto &&refill) {
        const size_t index = size_t(s.acc >> (64 - 12));
        refill();
        uint32_t e = m_c.entry(index);
        if (e < kFirstMatchEntry) {
            s.skipEntry(e);
            *op++ = uint8_t(entrySymbol(e));
            return true;
        }
        if (e & kEntryMarker) [[unlikely]] {
            e = m_c.follow(e, s.acc);
            if (e == kInvalid)
                return false;
            if (e < kFirstMatchEntry) {
                s.skipEntry(e);
                *op++ = uint8_t(entrySymbol(e));
                return true;
            }
        }
        s.skipEntry(e);
        const uint32_t symbol = entrySymbol(e);
        uint64_t d = m_distance[s.acc >> 56];
        if (d == 0) [[unlikely]] {
            const uint32_t p = m_p.lookup(s.acc);
            if (p == kInvalid)
                return false;
            d = distanceEntry(entrySymbol(p), entryLength(p));
        }
        const size_t dist = takeDistance(s, d);
        const size_t len = std::min(size_t(symbol - (256 - kMinMatch)), size_t(end - op));
        copyMatch(op, dist, len);
        op += len;
        // The next code is looked up before the refill (see above); that needs 12 bits,
        // which a match leaves unless its codes were nearly as long as they can be.
        if (s.count < 12) [[unlikely]]
            refill();
        return true;
    };
    auto refillFast = [&] { s.refillFast(); };

    refillAnywhere();
    bool failed = false;
    while (!failed && op < stop && symbolsLeft != 0) {
        // As many symbols as surely neither reach `stop` (a symbol writes at most
        // kMaxMatch bytes) nor run out of buffered input (a symbol moves the input by at
        // most six bytes, and the refill reads eight): these need no checks on the way.
        const size_t byOutput = size_t(stop - op) / kMaxMatch;
        const size_t byInput = s.end - s.p > 16 ? size_t(s.end - s.p - 16) / 8 : 0;
        size_t n = std::min({size_t(symbolsLeft), byOutput, byInput});
        if (n == 0) {
            // Close to either end: one symbol at a time, with every check.
            --symbolsLeft;
            failed = !decodeOne(refillAnywhere) || (padded && m_bits.overrunAt(s.count));
            continue;
        }
        symbolsLeft -= uint32_t(n);
        do {
            if (!decodeOne(refillFast)) [[unlikely]] {
                failed = true;
                break;
            }
        } while (--n != 0);
    }
    m_bits.setState(s);
    blockLeft = symbolsLeft;
    return failed ? nullptr : op;
}

bool Decoder::flush(const uint8_t *upTo)
{
    const uint8_t *from = m_window.get() + m_flushed;
    if (upTo > from) {
        const size_t n = size_t(upTo - from);
        m_crc = crc16Update(m_crc, from, n);
        if (!m_out.write(from, n))
            return false;
    }
    m_flushed = size_t(upTo - m_window.get());
    return true;
}

int Decoder::run(uint64_t originalSize, uint16_t &crc)
{
    uint8_t *const window = m_window.get();
    uint8_t *op = window + m_history;
    uint64_t left = originalSize;
    uint32_t blockLeft = 0;
    while (left > 0) {
        if (blockLeft == 0) {
            m_bits.refill();
            blockLeft = m_bits.get(16);
            if (blockLeft == 0 || !readBlockHeader())
                return failure();
        }
        const size_t room = size_t(window + m_flushAt - op);
        uint8_t *const start = op;
        uint8_t *const stop = op + size_t(std::min<uint64_t>(left, room));
        uint8_t *const end = op + size_t(std::min<uint64_t>(left, room + kMaxMatch));
        op = decodeSymbols(op, stop, end, blockLeft);
        if (!op)
            return failure();
        left -= uint64_t(op - start);
        if (op >= window + m_flushAt) {
            if (!flush(op))
                return ErrOutputWrite;
            std::memmove(window, op - m_history, m_history);
            op = window + m_history;
            m_flushed = m_history;
        }
    }
    if (!flush(op))
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
    auto decoder = std::make_unique<Decoder>(*params, in, originalSize, out);
    return decoder->run(originalSize, crc);
}

} // namespace lzh
