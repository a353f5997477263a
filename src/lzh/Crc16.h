// The CRC-16 of LHA archives (reflected polynomial 0xA001, initial value 0), used for
// both the file data and the level-2 header check.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lzh {

uint16_t crc16Update(uint16_t crc, const uint8_t *data, size_t size);

} // namespace lzh
