#include "lzh/Lh5Encoder.h"

#include "lzh/Crc16.h"
#include "lzh/LhFormat.h"
#include "lzh/LzhErrors.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace lzh {

namespace {

constexpr int kDicBits = kLh5.dicBits;
constexpr uint32_t kWindow = 1u << kDicBits;
constexpr uint32_t kWindowMask = kWindow - 1;
constexpr int kNP = kLh5.np;
constexpr int kPBits = kLh5.pBits;
constexpr int kHashBits = 15;
constexpr size_t kChunk = size_t(1) << 18;
constexpr size_t kLookahead = kMaxMatch + 1; // the lazy step looks one position further
constexpr uint32_t kLongMatchTail = 16;

// Writes bits most significant first, as the format reads them.
class BitWriter
{
  public:
    explicit BitWriter(ByteSink &sink) : m_sink(sink), m_buf(kBufSize + 8) {}

    void put(int n, uint32_t value)
    {
        m_acc = (m_acc << n) | value;
        m_bits += n;
        if (m_bits >= 32) {
            m_bits -= 32;
            const uint32_t w = uint32_t(m_acc >> m_bits);
            uint8_t *b = m_buf.data() + m_used;
            b[0] = uint8_t(w >> 24);
            b[1] = uint8_t(w >> 16);
            b[2] = uint8_t(w >> 8);
            b[3] = uint8_t(w);
            m_used += 4;
            if (m_used >= kBufSize)
                flushBuffer();
        }
    }

    // Appends a stream of `bits` bits, most significant first, as another writer made it.
    void putBits(const uint8_t *data, uint64_t bits)
    {
        for (; bits >= 8; bits -= 8)
            put(8, *data++);
        if (bits > 0)
            put(int(bits), uint32_t(*data >> (8 - bits)));
    }

    // Pads the last byte with zero bits and hands everything to the sink.
    bool finish()
    {
        m_bitLength = (m_written + m_used) * 8 + uint64_t(m_bits);
        while (m_bits >= 8) {
            m_bits -= 8;
            m_buf[m_used++] = uint8_t(m_acc >> m_bits);
        }
        if (m_bits > 0) {
            m_buf[m_used++] = uint8_t(m_acc << (8 - m_bits));
            m_bits = 0;
        }
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
        if (m_ok && m_used > 0 && !m_sink.write(m_buf.data(), m_used))
            m_ok = false;
        m_written += m_used;
        m_used = 0;
    }

    static constexpr size_t kBufSize = 1 << 16;
    ByteSink &m_sink;
    std::vector<uint8_t> m_buf;
    size_t m_used = 0;
    uint64_t m_acc = 0;
    int m_bits = 0;
    bool m_ok = true;
    uint64_t m_written = 0;
    uint64_t m_bitLength = 0;
};

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

int bitLength(uint32_t v)
{
    return v ? 32 - __builtin_clz(v) : 0;
}

class Encoder
{
  public:
    // The first `dictionaryBytes` of the input only fill the dictionary: matches may reach
    // into them, but they are not coded.
    Encoder(ByteSource &in, ByteSink &out, const EncoderTuning &tuning, uint64_t maxInput,
            uint32_t dictionaryBytes = 0)
        : m_in(in), m_out(out), m_tune(tuning), m_maxInput(maxInput), m_dictionaryBytes(dictionaryBytes)
    {
        m_tune.blockSymbols = std::clamp(m_tune.blockSymbols, 256, 65535);
        m_tune.niceLength = std::clamp(m_tune.niceLength, kMinMatch, kMaxMatch);
        // A small input (the packer's probe samples) needs no more buffer than its size.
        const size_t room = maxInput < kWindow + kChunk ? size_t(maxInput) + 1 : kWindow + kChunk;
        m_buf.resize(room + kLookahead + 16);
        m_head.assign(size_t(1) << kHashBits, 0);
        m_prev.assign(kWindow, 0);
        m_codes.resize(size_t(m_tune.blockSymbols));
        m_dists.resize(size_t(m_tune.blockSymbols));
    }

    int run(EncodeResult &result);
    uint64_t packedBits() const { return m_bits.bitLength(); }

  private:
    uint32_t hashAt(size_t i) const
    {
        // The three bytes at i as one number, first byte highest; the buffer has slack
        // behind its end for the fourth byte loaded with them.
        uint32_t w;
        std::memcpy(&w, m_buf.data() + i, 4);
        if constexpr (std::endian::native == std::endian::little)
            w = __builtin_bswap32(w);
        const uint32_t v = w >> 8;
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    [[gnu::always_inline]] void insert(uint32_t pos)
    {
        const size_t i = pos - m_base;
        if (i + kMinMatch > m_end)
            return;
        const uint32_t h = hashAt(i);
        m_prev[pos & kWindowMask] = m_head[h];
        m_head[h] = pos + 1;
    }
    [[gnu::always_inline]] inline int findMatch(uint32_t pos, int prevLen, uint32_t &dist);
    // Keeps the window behind and the lookahead in front of pos.
    [[gnu::always_inline]] int refill(uint32_t pos)
    {
        if (m_eof || m_end - (pos - m_base) >= kLookahead)
            return Ok;
        return refillSlow(pos);
    }
    int refillSlow(uint32_t pos);
    void insertMatched(uint32_t from, uint32_t stop, int len);
    int runLazy();
    int runGreedy();
    int fillDictionary(uint32_t &pos);
    [[gnu::always_inline]] inline bool reach(uint32_t pos, size_t &i, int &r);
    void literal(uint8_t c)
    {
        m_codes[size_t(m_count)] = c;
        m_dists[size_t(m_count)] = 0;
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

    ByteSource &m_in;
    ByteSink &m_out;
    EncoderTuning m_tune;
    uint64_t m_maxInput;
    uint32_t m_dictionaryBytes;
    BitWriter m_bits{m_out};

    std::vector<uint8_t> m_buf;
    uint32_t m_base = 0; // stream position of m_buf[0]
    size_t m_end = 0;    // valid bytes in m_buf
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
    const uint8_t *s = &m_buf[i];
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
        const uint8_t *m = &m_buf[cand - m_base];
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

int Encoder::refillSlow(uint32_t pos)
{
    const size_t i = pos - m_base;
    if (i > kWindow) {
        const size_t shift = i - kWindow;
        std::memmove(m_buf.data(), m_buf.data() + shift, m_end - shift);
        m_end -= shift;
        m_base += uint32_t(shift);
    }
    while (!m_eof && m_end < m_buf.size() - 16) {
        const size_t n = m_in.read(m_buf.data() + m_end, m_buf.size() - 16 - m_end);
        if (m_in.failed())
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

void Encoder::insertMatched(uint32_t from, uint32_t stop, int len)
{
    // Inside a long match (runs of one colour in a screenshot) every position would hash
    // alike; its last positions are enough to find the run again.
    if (len > m_tune.insertLimit)
        from = std::max(from, stop - std::min<uint32_t>(kLongMatchTail, uint32_t(len)));
    for (uint32_t p = from; p < stop; ++p)
        insert(p);
}

// Readies `pos` for coding: its bytes read and the position in the hash chains (`i` its
// index in the buffer). False at the end of the input, or with `r` set on a failure.
inline bool Encoder::reach(uint32_t pos, size_t &i, int &r)
{
    r = refill(pos);
    if (r == Ok && !m_bits.ok())
        r = ErrArchiveWrite;
    if (r != Ok)
        return false;
    i = pos - m_base;
    if (i >= m_end)
        return false;
    insert(pos);
    return true;
}

int Encoder::fillDictionary(uint32_t &pos)
{
    for (pos = 0; pos < m_dictionaryBytes; ++pos) {
        if (const int r = refill(pos); r != Ok)
            return r;
        if (pos - m_base >= m_end)
            break;
        insert(pos);
    }
    return Ok;
}

int Encoder::runLazy()
{
    uint32_t pos = 0;
    if (const int r = fillDictionary(pos); r != Ok)
        return r;
    int prevLen = 0;
    uint32_t prevDist = 0;
    bool pending = false; // a literal or match at pos - 1 is still undecided

    size_t i = 0;
    int r = Ok;
    while (reach(pos, i, r)) {
        uint32_t dist = 0;
        int len = 0;
        if (prevLen < m_tune.maxLazy)
            len = findMatch(pos, pending ? prevLen : 0, dist);

        if (pending && prevLen >= kMinMatch && len <= prevLen) {
            match(prevLen, prevDist);
            const uint32_t stop = pos - 1 + uint32_t(prevLen);
            insertMatched(pos + 1, stop, prevLen);
            pos = stop;
            pending = false;
            prevLen = 0;
        } else if (pending) {
            literal(m_buf[i - 1]);
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
        literal(m_buf[pos - 1 - m_base]);
    return Ok;
}

// Takes the first match found at each position, as fast compressors do: no second look
// one position further.
int Encoder::runGreedy()
{
    uint32_t pos = 0;
    if (const int r = fillDictionary(pos); r != Ok)
        return r;
    size_t i = 0;
    int r = Ok;
    while (reach(pos, i, r)) {
        uint32_t dist = 0;
        const int len = findMatch(pos, 0, dist);
        if (len >= kMinMatch) {
            match(len, dist);
            const uint32_t stop = pos + uint32_t(len);
            insertMatched(pos + 1, stop, len);
            pos = stop;
        } else {
            literal(m_buf[i]);
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

    for (int k = 0; k < count; ++k) {
        const uint16_t c = m_codes[size_t(k)];
        m_bits.put(m_cLen[c], m_cCode[c]);
        if (c >= 256) {
            const uint32_t p = m_dists[size_t(k)];
            const int b = bitLength(p);
            m_bits.put(pLen[b], pCode[b]);
            if (b > 1)
                m_bits.put(b - 1, p & ((1u << (b - 1)) - 1));
        }
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

namespace {

// One piece of a parallel pack: the window before it, then its own bytes, and what it
// packed to.
struct Piece
{
    std::vector<uint8_t> input;
    uint32_t dictionaryBytes = 0;
    MemorySink packed;
    uint64_t bits = 0;
    int result = Ok;

    void pack(const EncoderTuning &tuning)
    {
        MemorySource source(input.data(), input.size());
        EncodeResult ignored;
        Encoder encoder(source, packed, tuning, input.size(), dictionaryBytes);
        result = encoder.run(ignored);
        bits = encoder.packedBits();
    }
};

} // namespace

int encodeLh5Parallel(ByteSource &in, ByteSink &out, EncodeResult &result, uint64_t maxInput,
                      const EncoderTuning &tuning, int threads)
{
    threads = std::max(1, threads);
    std::vector<Piece> pieces(static_cast<size_t>(threads));
    std::vector<uint8_t> window; // the last dictionary's worth of input read so far
    BitWriter bits(out);
    uint64_t total = 0;
    uint16_t crc = 0;
    for (bool eof = false; !eof;) {
        // Read the pieces of this round, each behind the window that precedes it.
        size_t used = 0;
        for (Piece &piece : pieces) {
            piece.input.assign(window.begin(), window.end());
            piece.dictionaryBytes = uint32_t(window.size());
            piece.input.resize(window.size() + kParallelPieceBytes);
            size_t got = window.size();
            while (got < piece.input.size()) {
                const size_t n = in.read(piece.input.data() + got, piece.input.size() - got);
                if (in.failed())
                    return ErrSourceRead;
                if (n == 0) {
                    eof = true;
                    break;
                }
                got += n;
            }
            piece.input.resize(got);
            const size_t fresh = got - piece.dictionaryBytes;
            if (fresh == 0)
                break;
            crc = crc16Update(crc, piece.input.data() + piece.dictionaryBytes, fresh);
            total += fresh;
            if (total > maxInput)
                return ErrSourceTooLarge;
            window.assign(piece.input.end() - std::ptrdiff_t(std::min<size_t>(got, kWindow)),
                          piece.input.end());
            ++used;
            if (eof)
                break;
        }
        // Pack them side by side and join their bit streams in order: each ends with a
        // whole block, so the joined stream is one valid -lh5- stream.
        std::vector<std::thread> workers;
        for (size_t k = 1; k < used; ++k)
            workers.emplace_back([&piece = pieces[k], &tuning] { piece.pack(tuning); });
        if (used > 0)
            pieces[0].pack(tuning);
        for (std::thread &worker : workers)
            worker.join();
        for (size_t k = 0; k < used; ++k) {
            Piece &piece = pieces[k];
            if (piece.result != Ok)
                return piece.result;
            bits.putBits(piece.packed.bytes.data(), piece.bits);
            piece.packed.bytes.clear();
            if (!bits.ok())
                return ErrArchiveWrite;
        }
    }
    if (!bits.finish())
        return ErrArchiveWrite;
    result.originalSize = total;
    result.packedSize = bits.written();
    result.crc = crc;
    return Ok;
}

} // namespace lzh
