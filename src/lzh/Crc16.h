// The CRC-16 of LHA archives (reflected polynomial 0xA001, initial value 0), used for
// both the file data and the level-2 header check.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lzh {

uint16_t crc16Update(uint16_t crc, const uint8_t *data, size_t size);

// The CRC of A followed by B from the CRCs of each (both started from 0) and B's length,
// so that parts of a file can be checked side by side.
uint16_t crc16Combine(uint16_t crcA, uint16_t crcB, uint64_t lengthB);

} // namespace lzh
