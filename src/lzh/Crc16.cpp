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

// Carry-less multiplication folds 16 bytes at a time into a 128-bit remainder with the
// same CRC: a block A before B counts as A * x^128 + B, and A * x^128 is congruent to
// A_low * x^191 * x + A_high * x^127 * x, whose products land (one bit up, the x) in
// the same bit order as B. The table method then finishes the last 16 bytes and the tail.
__attribute__((target("pclmul,sse2"))) uint16_t crc16Folded(uint16_t crc, const uint8_t *data, size_t size)
{
    static constexpr uint64_t k191 = reflectedPowerModP(191);
    static constexpr uint64_t k127 = reflectedPowerModP(127);
    const __m128i k = _mm_set_epi64x(static_cast<long long>(k127), static_cast<long long>(k191));
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data));
    // A starting value is the same as those bits added to the first two bytes.
    x = _mm_xor_si128(x, _mm_cvtsi32_si128(crc));
    data += 16;
    size -= 16;
    while (size >= 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data));
        const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
        const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
        x = _mm_xor_si128(_mm_xor_si128(lo, hi), b);
        data += 16;
        size -= 16;
    }
    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rest), x);
    return crc16Table(crc16Table(0, rest, 16), data, size);
}

bool hasCarrylessMultiply()
{
    static const bool has = __builtin_cpu_supports("pclmul");
    return has;
}

#endif

} // namespace

uint16_t crc16Update(uint16_t crc, const uint8_t *data, size_t size)
{
#if defined(__x86_64__)
    if (size >= 64 && hasCarrylessMultiply())
        return crc16Folded(crc, data, size);
#endif
    return crc16Table(crc, data, size);
}

} // namespace lzh
