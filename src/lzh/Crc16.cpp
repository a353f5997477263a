#include "lzh/Crc16.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lzh {

namespace {

// Eight tables let the loop take eight bytes per step (slicing), which keeps the CRC
// well below the cost of packing and unpacking.
struct Tables
{
    std::array<std::array<uint16_t, 256>, 8> t{};
    constexpr Tables()
    {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
            t[0][i] = uint16_t(c);
        }
        for (unsigned i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s)
                t[s][i] = uint16_t((t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF]);
    }
};

constexpr Tables kTables;

uint16_t crc16Table(uint16_t crc, const uint8_t *data, size_t size)
{
    const auto &t = kTables.t;
    uint32_t c = crc;
    while (size >= 8) {
        c ^= uint32_t(data[0]) | uint32_t(data[1]) << 8;
        c = t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][data[2]] ^ t[4][data[3]] ^ t[3][data[4]] ^
            t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
        data += 8;
        size -= 8;
    }
    while (size--)
        c = (c >> 8) ^ t[0][(c ^ *data++) & 0xFF];
    return uint16_t(c);
}

#if defined(__x86_64__)

// x^n mod P for the CRC's polynomial P = x^16 + x^15 + x^2 + 1, bit-reflected into the top
// of 64 bits (degree d at bit 63 - d), the order in which the reflected CRC reads bits.
constexpr uint64_t reflectedPowerModP(int n)
{
    uint32_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000)
            r ^= 0x18005;
    }
    uint64_t out = 0;
    for (int d = 0; d < 16; ++d)
        if (r & (1u << d))
            out |= uint64_t(1) << (63 - d);
    return out;
}

// Folding over a distance of D bits multiplies the two halves by x^(D+63) and x^(D-1).
constexpr uint64_t kBy16Low = reflectedPowerModP(128 + 63);
constexpr uint64_t kBy16High = reflectedPowerModP(128 - 1);
constexpr uint64_t kBy64Low = reflectedPowerModP(512 + 63);
constexpr uint64_t kBy64High = reflectedPowerModP(512 - 1);
constexpr uint64_t kBy256Low = reflectedPowerModP(2048 + 63);
constexpr uint64_t kBy256High = reflectedPowerModP(2048 - 1);

// Carry-less multiplication folds 16 bytes at a time into a 128-bit remainder with the
// same CRC: a block A before B counts as A * x^128 + B, and A * x^128 is congruent to
// A_low * x^191 * x + A_high * x^127 * x, whose products land (one bit up, the x) in
// the same bit order as B. Folding over a distance of 512 bits works alike with x^575 and
// x^511; four remainders side by side keep the multiplier busy instead of waiting for
// each product in turn. The table method then finishes the last 16 bytes and the tail.
__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i k, __m128i next)
{
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds what is left of the data into the remainder `x` and finishes the CRC.
__attribute__((target("pclmul,sse2"))) uint16_t crc16Finish(__m128i x, const uint8_t *data, size_t size)
{
    const __m128i by16 = _mm_set_epi64x(static_cast<long long>(kBy16High), static_cast<long long>(kBy16Low));
    const auto load = [](const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    if (size >= 64) {
        const __m128i by64 =
            _mm_set_epi64x(static_cast<long long>(kBy64High), static_cast<long long>(kBy64Low));
        // Four consecutive blocks: the remainder so far and the next three.
        __m128i x0 = x, x1 = load(data), x2 = load(data + 16), x3 = load(data + 32);
        data += 48;
        size -= 48;
        while (size >= 64) {
            x0 = fold(x0, by64, load(data));
            x1 = fold(x1, by64, load(data + 16));
            x2 = fold(x2, by64, load(data + 32));
            x3 = fold(x3, by64, load(data + 48));
            data += 64;
            size -= 64;
        }
        x = fold(fold(fold(x0, by16, x1), by16, x2), by16, x3);
    }
    while (size >= 16) {
        x = fold(x, by16, load(data));
        data += 16;
        size -= 16;
    }
    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rest), x);
    return crc16Table(crc16Table(0, rest, 16), data, size);
}

__attribute__((target("pclmul,sse2"))) uint16_t crc16Folded(uint16_t crc, const uint8_t *data, size_t size)
{
    // A starting value is the same as those bits added to the first two bytes.
    const __m128i x =
        _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data)), _mm_cvtsi32_si128(crc));
    return crc16Finish(x, data + 16, size - 16);
}

// The same folding on 512-bit registers, four blocks to a register and four registers side
// by side (256 bytes a step), where the processor multiplies four blocks in one instruction.
// It leaves a 128-bit remainder for the loop above to go on from.
__attribute__((target("avx512f"))) inline __m512i wideConstants(uint64_t forLow, uint64_t forHigh)
{
    const auto lo = static_cast<long long>(forLow);
    const auto hi = static_cast<long long>(forHigh);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i foldWide(__m512i x, __m512i k,
                                                                      const uint8_t *next)
{
    // 0x96: the three-way exclusive or.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), _mm512_loadu_si512(next), 0x96);
}

__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i foldWide(__m512i x, __m512i k, __m512i next)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse2"))) __m128i
crc16Wide(uint16_t crc, const uint8_t *&data, size_t &size)
{
    const __m512i by256 = wideConstants(kBy256Low, kBy256High);
    const __m512i by64 = wideConstants(kBy64Low, kBy64High);
    // A starting value is the same as those bits added to the first two bytes.
    __m512i z0 = _mm512_xor_si512(_mm512_loadu_si512(data), _mm512_zextsi128_si512(_mm_cvtsi32_si128(crc)));
    __m512i z1 = _mm512_loadu_si512(data + 64);
    __m512i z2 = _mm512_loadu_si512(data + 128);
    __m512i z3 = _mm512_loadu_si512(data + 192);
    data += 256;
    size -= 256;
    while (size >= 256) {
        z0 = foldWide(z0, by256, data);
        z1 = foldWide(z1, by256, data + 64);
        z2 = foldWide(z2, by256, data + 128);
        z3 = foldWide(z3, by256, data + 192);
        data += 256;
        size -= 256;
    }
    const __m512i z = foldWide(foldWide(foldWide(z0, by64, z1), by64, z2), by64, z3);
    const __m128i by16 = _mm_set_epi64x(static_cast<long long>(kBy16High), static_cast<long long>(kBy16Low));
    __m128i x = _mm512_extracti32x4_epi32(z, 0);
    x = fold(x, by16, _mm512_extracti32x4_epi32(z, 1));
    x = fold(x, by16, _mm512_extracti32x4_epi32(z, 2));
    return fold(x, by16, _mm512_extracti32x4_epi32(z, 3));
}

bool hasWideCarrylessMultiply()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
    return has;
}

bool hasCarrylessMultiply()
{
    static const bool has = __builtin_cpu_supports("pclmul");
    return has;
}

#endif

// The CRC as a linear map of 16 bits: column i is the image of bit i.
using Gf2Matrix = std::array<uint16_t, 16>;

uint16_t times(const Gf2Matrix &m, uint16_t v)
{
    uint16_t r = 0;
    for (int i = 0; v; ++i, v >>= 1)
        if (v & 1)
            r ^= m[size_t(i)];
    return r;
}

Gf2Matrix squared(const Gf2Matrix &m)
{
    Gf2Matrix r{};
    for (size_t i = 0; i < 16; ++i)
        r[i] = times(m, m[i]);
    return r;
}

} // namespace

uint16_t crc16Update(uint16_t crc, const uint8_t *data, size_t size)
{
#if defined(__x86_64__)
    if (size >= 512 && hasWideCarrylessMultiply()) {
        const __m128i x = crc16Wide(crc, data, size);
        return crc16Finish(x, data, size);
    }
    if (size >= 64 && hasCarrylessMultiply())
        return crc16Folded(crc, data, size);
#endif
    return crc16Table(crc, data, size);
}

uint16_t crc16Combine(uint16_t crcA, uint16_t crcB, uint64_t lengthB)
{
    // Running crcA on through lengthB zero bytes, by squaring the map of one zero bit up to
    // a byte and then through the binary digits of the length.
    Gf2Matrix step{};
    step[0] = 0xA001;
    for (size_t i = 1; i < 16; ++i)
        step[i] = uint16_t(1u << (i - 1));
    for (int k = 0; k < 3; ++k)
        step = squared(step);
    for (; lengthB; lengthB >>= 1) {
        if (lengthB & 1)
            crcA = times(step, crcA);
        step = squared(step);
    }
    return uint16_t(crcA ^ crcB);
}

} // namespace lzh
