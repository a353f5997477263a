// Packs arbitrary bytes with the -lh5- encoder and unpacks them again: any difference,
// or any error on our own output, is a fault of one side.
#include "lzh/Crc16.h"
#include "lzh/Lh5Encoder.h"
#include "lzh/LhDecoder.h"
#include "lzh/LzhErrors.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Small blocks and a short chain reach the block and table edge cases with short inputs.
    lzh::EncoderTuning tuning;
    if (size > 0) {
        tuning.blockSymbols = 256 + data[0] * 8;
        tuning.maxChain = 1 + data[0] % 64;
    }
    lzh::MemorySource in(data, size);
    lzh::MemorySink packed;
    lzh::EncodeResult result;
    if (lzh::encodeLh5(in, packed, result, 0xFFFFFFFFull, tuning) != lzh::Ok || result.originalSize != size)
        __builtin_trap();
    lzh::MemorySource packedIn(packed.bytes.data(), packed.bytes.size());
    lzh::LimitedSource limited(packedIn, packed.bytes.size());
    lzh::MemorySink out;
    uint16_t crc = 0;
    if (lzh::decodeEntry("-lh5-", limited, size, out, crc) != lzh::Ok)
        __builtin_trap();
    if (out.bytes.size() != size || (size && std::memcmp(out.bytes.data(), data, size) != 0))
        __builtin_trap();
    if (crc != result.crc || crc != lzh::crc16Update(0, data, size))
        __builtin_trap();
    return 0;
}
