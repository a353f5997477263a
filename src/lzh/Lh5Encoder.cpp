// The -lh5- encoder: the hash-chain match finder and the block coder (Huffman tables and
// codes) stay one unit, as the coder's hot loop inlines the finder's steps; the bit output
// is LhBitWriter.h, packing on several threads Lh5Parallel.cpp.
#include "lzh/Lh5Encoder.h"

#include "lzh/Crc16.h"
#include "lzh/Lh5Piece.h"
#include "lzh/LhBitWriter.h"
#include "lzh/LhFormat.h"
#include "lzh/LzhErrors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace lzh {

namespace {

// Asks for a cache line ahead of its use, where the compiler offers that.
inline void prefetch(const void *address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

constexpr uint32_t kWindow = kLh5Window;
constexpr uint32_t kWindowMask = kWindow - 1;
constexpr int kNP = kLh5.np;
constexpr int kPBits = kLh5.pBits;
constexpr int kHashBits = 15;
constexpr size_t kChunk = size_t(1) << 18;
constexpr size_t kLookahead = kMaxMatch + 1; // the lazy step looks one position further
constexpr uint32_t kLongMatchTail = 16;
// A literal's position in a block's list: above every real one (below kWindow), in a
// slot of the position tables of its own.
constexpr uint16_t kLiteralMark = 1u << 14;
constexpr int kPositionSlots = 16;
static_assert(kWindow <= kLiteralMark && kNP < 15);


// Bytes that agree at `s` and `m`, up to `limit`; eight at a time where possible.
int matchLength(const uint8_t *s, const uint8_t *m, int limit)
{
    int len = 0;
    while (std::endian::native == std::endian::little && len + 8 <= limit) {
        uint64_t a, b;
        std::memcpy(&a, s + len, 8);
        std::memcpy(&b, m + len, 8);
        if (a != b)
            return len + (__builtin_ctzll(a ^ b) >> 3); // little-endian: lowest byte first
        len += 8;
    }
    while (len < limit && s[len] == m[len])
        ++len;
    return len;
}

uint32_t load32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint64_t load64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
// Of two 8-byte loads, x their exclusive or: the bytes that agree before the first that
// differs, 8 when all do.
int agreeingBytes(uint64_t x)
{
    return (std::endian::native == std::endian::little ? std::countr_zero(x) : std::countl_zero(x)) >> 3;
}

int bitLength(uint32_t v)
{
    return 31 - __builtin_clz((v << 1) | 1);
}

class Encoder
{
  public:
    // Reads `in` as it goes.
    Encoder(ByteSource &in, ByteSink &out, const EncoderTuning &tuning, uint64_t maxInput)
        : m_in(&in), m_out(out), m_tune(tuning), m_maxInput(maxInput)
    {
        // A small input (the packer's probe samples) needs no more buffer than its size.
        const size_t room = maxInput < kWindow + kChunk ? size_t(maxInput) + 1 : kWindow + kChunk;
        m_buf.resize(room + kLookahead + kSlack);
        m_data = m_buf.data();
        setUp();
    }
    // Packs `size` bytes in memory, which stay readable kSlack bytes further. The first
    // `dictionaryBytes` only fill the dictionary: matches may reach into them, but they
    // are not coded. The result has no CRC: whoever holds the bytes makes it.
    Encoder(const uint8_t *data, size_t size, uint32_t dictionaryBytes, ByteSink &out,
            const EncoderTuning &tuning)
        : m_out(out), m_tune(tuning), m_maxInput(size), m_dictionaryBytes(dictionaryBytes), m_data(data),
          m_end(size), m_eof(true), m_total(size - dictionaryBytes)
    {
        setUp();
    }
    static constexpr size_t kSlack = kPieceSlack;

    int run(EncodeResult &result);
    uint64_t packedBits() const { return m_bits.bitLength(); }

  private:
    void setUp()
    {
        m_tune.blockSymbols = std::clamp(m_tune.blockSymbols, 256, 65535);
        m_tune.niceLength = std::clamp(m_tune.niceLength, kMinMatch, kMaxMatch);
        m_head.assign(size_t(1) << kHashBits, 0);
        m_prev.assign(kWindow, 0);
        m_codes.resize(size_t(m_tune.blockSymbols));
        m_dists.resize(size_t(m_tune.blockSymbols));
    }
    // The hash of the three bytes at i; the buffer has slack behind its end for the fourth
    // byte loaded with them. Greedy: the greedy search's, which takes them as they lie in
    // memory; the lazy search keeps the one its archives were made with.
    template <bool Greedy> uint32_t hashAt(size_t i) const
    {
        uint32_t w = load32(m_data + i);
        if constexpr (Greedy)
            w = std::endian::native == std::endian::little ? w << 8 : w & 0xFFFFFF00u;
        else if constexpr (std::endian::native == std::endian::little)
            w = __builtin_bswap32(w) >> 8;
        else
            w >>= 8;
        return (w * 2654435761u) >> (32 - kHashBits);
    }
    template <bool Greedy> [[gnu::always_inline]] void insert(uint32_t pos)
    {
        const size_t i = pos - m_base;
        if (i + kMinMatch > m_end)
            return;
        const uint32_t h = hashAt<Greedy>(i);
        m_prev[pos & kWindowMask] = m_head[h];
        m_head[h] = pos + 1;
    }
    [[gnu::always_inline]] inline int findMatch(uint32_t pos, int prevLen, uint32_t &dist);
    [[gnu::always_inline]] inline int findFirstMatch(uint32_t pos, uint32_t &dist);
    // Keeps the window behind and the lookahead in front of pos.
    [[gnu::always_inline]] int refill(uint32_t pos)
    {
        if (m_eof || m_end - (pos - m_base) >= kLookahead)
            return Ok;
        return refillSlow(pos);
    }
    int refillSlow(uint32_t pos);
    template <bool Greedy> void insertMatched(uint32_t from, uint32_t stop, int len);
    int runLazy();
    int runGreedy();
    template <bool Greedy> int fillDictionary(uint32_t &pos);
    template <bool Greedy> [[gnu::always_inline]] inline bool reach(uint32_t pos, size_t &i, int &r);
    void literal(uint8_t c)
    {
        m_codes[size_t(m_count)] = c;
        m_dists[size_t(m_count)] = kLiteralMark;
        ++m_cFreq[c];
        if (++m_count >= m_tune.blockSymbols)
            sendBlock();
    }
    void match(int len, uint32_t dist)
    {
        const uint16_t c = uint16_t(len + 256 - kMinMatch);
        const uint32_t p = dist - 1;
        m_codes[size_t(m_count)] = c;
        m_dists[size_t(m_count)] = uint16_t(p);
        ++m_cFreq[c];
        ++m_pFreq[bitLength(p)];
        if (++m_count >= m_tune.blockSymbols)
            sendBlock();
    }
    void sendBlock();
    void writePtLen(const uint8_t *len, int n, int nbit, int special);
    void writeCLen();

    ByteSource *m_in = nullptr;
    ByteSink &m_out;
    EncoderTuning m_tune;
    uint64_t m_maxInput;
    uint32_t m_dictionaryBytes = 0;
    BitWriter m_bits{m_out};

    std::vector<uint8_t> m_buf; // what was read, unless the input is in memory
    const uint8_t *m_data;      // the input from stream position m_base on
    uint32_t m_base = 0;
    size_t m_end = 0; // valid bytes at m_data
    bool m_eof = false;
    uint64_t m_total = 0;
    uint16_t m_crc = 0;

    std::vector<uint32_t> m_head; // newest position + 1 per hash, 0 = none
    std::vector<uint32_t> m_prev; // older position + 1 with the same hash

    std::vector<uint16_t> m_codes; // the block's literals and lengths, m_count of them
    std::vector<uint16_t> m_dists;
    int m_count = 0;
    uint32_t m_cFreq[kNC] = {};
    uint32_t m_pFreq[kNP] = {};

    uint8_t m_cLen[kNC] = {};
    uint16_t m_cCode[kNC] = {};
    uint8_t m_ptLen[kNT] = {};
    uint16_t m_ptCode[kNT] = {};
};

inline int Encoder::findMatch(uint32_t pos, int prevLen, uint32_t &dist)
{
    const size_t i = pos - m_base;
    const int avail = int(std::min<size_t>(m_end - i, kMaxMatch));
    if (avail < kMinMatch)
        return 0;
    const uint8_t *s = m_data + i;
    const uint32_t lowest = pos >= kWindow ? pos - kWindow + 1 : 0;
    int chain = prevLen >= m_tune.goodLength ? m_tune.maxChain >> 2 : m_tune.maxChain;
    const int nice = std::min(m_tune.niceLength, avail);
    int best = std::max(prevLen, kMinMatch - 1);
    // Nothing longer fits before the end of the data (and s[best] would read past it).
    if (best >= avail)
        return 0;
    int found = 0;
    uint32_t next = m_prev[pos & kWindowMask];
    while (next != 0 && chain-- > 0) {
        const uint32_t cand = next - 1;
        if (cand < lowest || cand >= pos)
            break;
        const uint8_t *m = m_data + (cand - m_base);
        if (m[best] == s[best] && m[0] == s[0] && m[1] == s[1]) {
            const int len = matchLength(s, m, avail);
            if (len > best) {
                best = len;
                found = len;
                dist = pos - cand;
                if (len >= nice)
                    break;
            }
        }
        const uint32_t older = m_prev[cand & kWindowMask];
        // A slot reused by a newer position would point forward: the chain ends there.
        if (older >= next)
            break;
        next = older;
    }
    // A three-byte match far back costs about as much as three literals.
    if (found == kMinMatch && dist > 4096)
        return 0;
    return found;
}

// The greedy search, with few branches the data decides: a candidate's first sixteen
// bytes are compared by two 8-byte loads, the best so far kept without a jump, and the
// chain ends at the first candidate outside the window. Finds what findMatch finds with
// no match pending.
inline int Encoder::findFirstMatch(uint32_t pos, uint32_t &dist)
{
    const size_t i = pos - m_base;
    const int avail = int(std::min<size_t>(m_end - i, kMaxMatch));
    if (avail < kMinMatch)
        return 0;
    // Past the input's end these loads read the slack; avail cuts what they see there.
    const uint8_t *s = m_data + i;
    const uint64_t s0 = load64(s), s8 = load64(s + 8);
    const uint32_t lowest = pos >= kWindow ? pos - kWindow + 1 : 0;
    const int nice = std::min(m_tune.niceLength, avail);
    int best = 0;
    uint32_t bestCand = 0;
    int chain = m_tune.maxChain;
    // A position in the window has its own chain slot: the slot's next user lies ahead.
    for (uint32_t cand = m_prev[pos & kWindowMask] - 1; cand - lowest < pos - lowest && chain-- > 0;
         cand = m_prev[cand & kWindowMask] - 1) {
        const uint8_t *m = m_data + (cand - m_base);
        const uint64_t x0 = load64(m) ^ s0, x8 = load64(m + 8) ^ s8;
        int len = x0 ? agreeingBytes(x0) : 8 + agreeingBytes(x8);
        if (len == 16 && avail > 16)
            len += matchLength(s + 16, m + 16, avail - 16);
        len = std::min(len, avail);
        const bool longer = len > best;
        best = longer ? len : best;
        bestCand = longer ? cand : bestCand;
        if (best >= nice)
            break;
    }
    dist = pos - bestCand;
    if (best < kMinMatch || (best == kMinMatch && dist > 4096))
        return 0;
    return best;
}

int Encoder::refillSlow(uint32_t pos)
{
    const size_t i = pos - m_base;
    if (i > kWindow) {
        const size_t shift = i - kWindow;
        std::memmove(m_buf.data(), m_buf.data() + shift, m_end - shift);
        m_end -= shift;
        m_base += uint32_t(shift);
    }
    while (!m_eof && m_end < m_buf.size() - kSlack) {
        const size_t n = m_in->read(m_buf.data() + m_end, m_buf.size() - kSlack - m_end);
        if (m_in->failed())
            return ErrSourceRead;
        if (n == 0) {
            m_eof = true;
            break;
        }
        m_crc = crc16Update(m_crc, m_buf.data() + m_end, n);
        m_total += n;
        if (m_total > m_maxInput)
            return ErrSourceTooLarge;
        m_end += n;
    }
    return Ok;
}

template <bool Greedy> void Encoder::insertMatched(uint32_t from, uint32_t stop, int len)
{
    // Inside a long match (runs of one colour in a screenshot) every position would hash
    // alike; its last positions are enough to find the run again.
    if (len > m_tune.insertLimit)
        from = std::max(from, stop - std::min<uint32_t>(kLongMatchTail, uint32_t(len)));
    for (uint32_t p = from; p < stop; ++p)
        insert<Greedy>(p);
}

// Readies `pos` for coding: its bytes read and the position in the hash chains (`i` its
// index in the buffer). False at the end of the input, or with `r` set on a failure.
template <bool Greedy> inline bool Encoder::reach(uint32_t pos, size_t &i, int &r)
{
    r = refill(pos);
    if (r == Ok && !m_bits.ok())
        r = ErrArchiveWrite;
    if (r != Ok)
        return false;
    i = pos - m_base;
    if (i >= m_end)
        return false;
    insert<Greedy>(pos);
    return true;
}

template <bool Greedy> int Encoder::fillDictionary(uint32_t &pos)
{
    for (pos = 0; pos < m_dictionaryBytes; ++pos) {
        if (const int r = refill(pos); r != Ok)
            return r;
        if (pos - m_base >= m_end)
            break;
        insert<Greedy>(pos);
    }
    return Ok;
}

int Encoder::runLazy()
{
    uint32_t pos = 0;
    if (const int r = fillDictionary<false>(pos); r != Ok)
        return r;
    int prevLen = 0;
    uint32_t prevDist = 0;
    bool pending = false; // a literal or match at pos - 1 is still undecided

    size_t i = 0;
    int r = Ok;
    while (reach<false>(pos, i, r)) {
        uint32_t dist = 0;
        int len = 0;
        if (prevLen < m_tune.maxLazy)
            len = findMatch(pos, pending ? prevLen : 0, dist);

        if (pending && prevLen >= kMinMatch && len <= prevLen) {
            match(prevLen, prevDist);
            const uint32_t stop = pos - 1 + uint32_t(prevLen);
            insertMatched<false>(pos + 1, stop, prevLen);
            pos = stop;
            pending = false;
            prevLen = 0;
        } else if (pending) {
            literal(m_data[i - 1]);
            prevLen = len;
            prevDist = dist;
            ++pos;
        } else {
            pending = true;
            prevLen = len;
            prevDist = dist;
            ++pos;
        }
    }
    if (r != Ok)
        return r;
    if (pending)
        literal(m_data[pos - 1 - m_base]);
    return Ok;
}

// Takes the first match found at each position, as fast compressors do: no second look
// one position further.
int Encoder::runGreedy()
{
    uint32_t pos = 0;
    if (const int r = fillDictionary<true>(pos); r != Ok)
        return r;
    size_t i = 0;
    int r = Ok;
    while (reach<true>(pos, i, r)) {
        // The hash heads are too many for the first-level cache, and the search at the
        // next position waits for its head: fetch it while this one searches. The bytes
        // hashed may lie in the slack behind the input; then the fetch is merely wasted.
        prefetch(&m_head[hashAt<true>(i + 1)]);
        uint32_t dist = 0;
        const int len = findFirstMatch(pos, dist);
        if (len >= kMinMatch) {
            match(len, dist);
            const uint32_t stop = pos + uint32_t(len);
            prefetch(&m_head[hashAt<true>(i + size_t(len))]);
            insertMatched<true>(pos + 1, stop, len);
            pos = stop;
        } else {
            literal(m_data[i]);
            ++pos;
        }
    }
    return r;
}

int Encoder::run(EncodeResult &result)
{
    if (const int r = m_tune.maxLazy > 0 ? runLazy() : runGreedy(); r != Ok)
        return r;
    if (m_count > 0)
        sendBlock();
    if (!m_bits.finish())
        return ErrArchiveWrite;
    result.originalSize = m_total;
    result.packedSize = m_bits.written();
    result.crc = m_crc;
    return Ok;
}

void Encoder::writePtLen(const uint8_t *len, int n, int nbit, int special)
{
    while (n > 0 && len[n - 1] == 0)
        --n;
    m_bits.put(nbit, uint32_t(n));
    int i = 0;
    while (i < n) {
        const int k = len[i++];
        if (k <= 6)
            m_bits.put(3, uint32_t(k));
        else
            m_bits.put(k - 3, (1u << (k - 3)) - 2);
        if (i == special) {
            while (i < 6 && len[i] == 0)
                ++i;
            m_bits.put(2, uint32_t(i - special));
        }
    }
}

void Encoder::writeCLen()
{
    int n = kNC;
    while (n > 0 && m_cLen[n - 1] == 0)
        --n;
    m_bits.put(kCBits, uint32_t(n));
    int i = 0;
    while (i < n) {
        const int k = m_cLen[i++];
        if (k == 0) {
            int count = 1;
            while (i < n && m_cLen[i] == 0) {
                ++i;
                ++count;
            }
            if (count <= 2) {
                for (int j = 0; j < count; ++j)
                    m_bits.put(m_ptLen[0], m_ptCode[0]);
            } else if (count <= 18) {
                m_bits.put(m_ptLen[1], m_ptCode[1]);
                m_bits.put(4, uint32_t(count - 3));
            } else if (count == 19) {
                m_bits.put(m_ptLen[0], m_ptCode[0]);
                m_bits.put(m_ptLen[1], m_ptCode[1]);
                m_bits.put(4, 15);
            } else {
                m_bits.put(m_ptLen[2], m_ptCode[2]);
                m_bits.put(kCBits, uint32_t(count - 20));
            }
        } else {
            m_bits.put(m_ptLen[k + 2], m_ptCode[k + 2]);
        }
    }
}

// Returns the only used symbol, or -1 when two or more are used (or none: 0).
int singleSymbol(const uint32_t *freq, int n)
{
    int used = -1;
    for (int i = 0; i < n; ++i) {
        if (!freq[i])
            continue;
        if (used >= 0)
            return -1;
        used = i;
    }
    return used < 0 ? 0 : used;
}

void Encoder::sendBlock()
{
    const int count = m_count;
    m_bits.put(16, uint32_t(count));

    const int cSingle = singleSymbol(m_cFreq, kNC);
    if (cSingle < 0) {
        huffmanLengths(m_cFreq, kNC, m_cLen);
        canonicalCodes(m_cLen, kNC, m_cCode);
        // Frequencies of the symbols that code the literal-table lengths.
        uint32_t tFreq[kNT] = {};
        int n = kNC;
        while (n > 0 && m_cLen[n - 1] == 0)
            --n;
        for (int i = 0; i < n;) {
            const int k = m_cLen[i++];
            if (k == 0) {
                int run = 1;
                while (i < n && m_cLen[i] == 0) {
                    ++i;
                    ++run;
                }
                if (run <= 2)
                    tFreq[0] += uint32_t(run);
                else if (run <= 18)
                    ++tFreq[1];
                else if (run == 19) {
                    ++tFreq[0];
                    ++tFreq[1];
                } else
                    ++tFreq[2];
            } else {
                ++tFreq[k + 2];
            }
        }
        const int tSingle = singleSymbol(tFreq, kNT);
        if (tSingle < 0) {
            huffmanLengths(tFreq, kNT, m_ptLen);
            canonicalCodes(m_ptLen, kNT, m_ptCode);
            writePtLen(m_ptLen, kNT, kTBits, 3);
        } else {
            std::fill(std::begin(m_ptLen), std::end(m_ptLen), uint8_t(0));
            std::fill(std::begin(m_ptCode), std::end(m_ptCode), uint16_t(0));
            m_bits.put(kTBits, 0);
            m_bits.put(kTBits, uint32_t(tSingle));
        }
        writeCLen();
    } else {
        std::fill(std::begin(m_cLen), std::end(m_cLen), uint8_t(0));
        std::fill(std::begin(m_cCode), std::end(m_cCode), uint16_t(0));
        m_bits.put(kTBits, 0);
        m_bits.put(kTBits, 0);
        m_bits.put(kCBits, 0);
        m_bits.put(kCBits, uint32_t(cSingle));
    }

    uint8_t pLen[kNP] = {};
    uint16_t pCode[kNP] = {};
    const int pSingle = singleSymbol(m_pFreq, kNP);
    if (pSingle < 0) {
        huffmanLengths(m_pFreq, kNP, pLen);
        canonicalCodes(pLen, kNP, pCode);
        writePtLen(pLen, kNP, kPBits, -1);
    } else {
        m_bits.put(kPBits, 0);
        m_bits.put(kPBits, uint32_t(pSingle));
    }

    // Each code goes out with its position's code and low bits as one addition, from
    // tables, without a branch on literal or match: the mix of the two is what the data
    // makes it, so no predictor would guess it. The position's bits are its table entry
    // plus the position itself: the entry's code is shifted past the low bits and less
    // the top bit, which the code stands for. A literal's mark has an entry of no bits.
    uint32_t cTable[kNC]; // code << 5 | length
    for (int c = 0; c < kNC; ++c)
        cTable[c] = uint32_t(m_cCode[c]) << 5 | m_cLen[c];
    uint8_t pBits[kPositionSlots] = {};
    uint32_t pAdd[kPositionSlots] = {};
    for (int b = 0; b < kNP; ++b) {
        const int low = std::max(b - 1, 0);
        pBits[b] = uint8_t(pLen[b] + low);
        pAdd[b] = (uint32_t(pCode[b]) << low) - (b > 0 ? 1u << low : 0u);
    }
    pAdd[bitLength(kLiteralMark)] = 0u - kLiteralMark;

    constexpr int kCodesAtOnce = int(BitWriter::kMaxOpen / 6); // at most 16 + 16 + 12 bits a code
    const uint16_t *codes = m_codes.data();
    const uint16_t *dists = m_dists.data();
    for (int from = 0; from < count; from += kCodesAtOnce) {
        const int to = std::min(count, from + kCodesAtOnce);
        BitCursor out = m_bits.open(size_t(to - from) * 6);
        for (int k = from; k < to; ++k) {
            const uint32_t c = cTable[codes[k]];
            const uint32_t p = dists[k];
            const int b = bitLength(p);
            const int n = pBits[b];
            out.add(int(c & 31) + n, uint64_t(c >> 5) << n | uint32_t(pAdd[b] + p));
            out.flush();
        }
        m_bits.close(out);
    }
    m_count = 0;
    std::fill(std::begin(m_cFreq), std::end(m_cFreq), 0u);
    std::fill(std::begin(m_pFreq), std::end(m_pFreq), 0u);
}

} // namespace

int encodeLh5(ByteSource &in, ByteSink &out, EncodeResult &result, uint64_t maxInput,
              const EncoderTuning &tuning)
{
    auto encoder = std::make_unique<Encoder>(in, out, tuning, maxInput);
    return encoder->run(result);
}

int encodeLh5Piece(const uint8_t *data, size_t size, uint32_t dictionaryBytes, ByteSink &out,
                   const EncoderTuning &tuning, uint64_t &bits)
{
    EncodeResult ignored;
    Encoder encoder(data, size, dictionaryBytes, out, tuning);
    const int result = encoder.run(ignored);
    bits = encoder.packedBits();
    return result;
}


} // namespace lzh
