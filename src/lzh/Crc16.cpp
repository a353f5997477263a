#include "lzh/Crc16.h"

#include <array>
#include <cstring>

namespace lzh {

namespace {

// Four tables let the loop take four bytes per step (slicing), which keeps the CRC
// well below the cost of decoding.
struct Tables
{
    std::array<std::array<uint16_t, 256>, 4> t{};
    constexpr Tables()
    {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
            t[0][i] = uint16_t(c);
        }
        for (unsigned i = 0; i < 256; ++i)
            for (int s = 1; s < 4; ++s)
                t[s][i] = uint16_t((t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF]);
    }
};

constexpr Tables kTables;

} // namespace

uint16_t crc16Update(uint16_t crc, const uint8_t *data, size_t size)
{
    const auto &t = kTables.t;
    uint32_t c = crc;
    while (size >= 4) {
        c ^= uint32_t(data[0]) | uint32_t(data[1]) << 8;
        c = t[3][c & 0xFF] ^ t[2][(c >> 8) & 0xFF] ^ t[1][data[2]] ^ t[0][data[3]];
        data += 4;
        size -= 4;
    }
    while (size--)
        c = (c >> 8) ^ t[0][(c ^ *data++) & 0xFF];
    return uint16_t(c);
}

} // namespace lzh
