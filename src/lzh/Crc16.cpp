#include "lzh/Crc16.h"

#include <array>
#include <cstring>

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

} // namespace

uint16_t crc16Update(uint16_t crc, const uint8_t *data, size_t size)
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

} // namespace lzh
