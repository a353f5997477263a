// The single-threaded -lh5- encoder packing one piece of a parallel pack: bytes in memory,
// the first of which only fill the dictionary.
#pragma once

#include "lzh/ByteStream.h"
#include "lzh/Lh5Encoder.h"
#include "lzh/LhFormat.h"

#include <cstddef>
#include <cstdint>

namespace lzh {

// The dictionary a piece carries: the window of -lh5-.
inline constexpr uint32_t kLh5Window = 1u << kLh5.dicBits;
// Bytes behind a piece's end that must stay readable (the match finder loads them with the
// last ones); their value does not matter.
inline constexpr size_t kPieceSlack = 16;

// Packs `size` bytes at `data` into `out` as whole blocks; the first `dictionaryBytes` only
// fill the dictionary: matches may reach into them, but they are not coded. The result has
// no CRC: whoever holds the bytes makes it. `bits`: the length of the bit stream written,
// before its last byte was padded.
int encodeLh5Piece(const uint8_t *data, size_t size, uint32_t dictionaryBytes, ByteSink &out,
                   const EncoderTuning &tuning, uint64_t &bits);

} // namespace lzh
