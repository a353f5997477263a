// Packs a byte stream with the LHA -lh5- method (8 KiB dictionary, static Huffman blocks),
// using a hash-chain match finder with lazy matching.
#pragma once

#include "lzh/ByteStream.h"

#include <cstddef>
#include <cstdint>

namespace lzh {

// How hard the match finder tries. The defaults are tuned so that packing stays faster
// than gzip -6 while the archives stay as small as other LHA programs make them.
struct EncoderTuning
{
    int maxChain = 24;       // candidates looked at per position
    int goodLength = 8;      // a previous match this long quarters the search
    int maxLazy = 12;        // a previous match this long is taken without looking further; 0: no lazy step
    int niceLength = 48;     // a match this long ends the search
    int blockSymbols = 8192; // codes per Huffman block; small blocks follow the data closely
    int insertLimit = 64;    // of a longer match only the last positions go into the hash chains

    // The quick settings for large inputs: few candidates, the first match taken, and long
    // matches left out of the chains.
    static EncoderTuning fast() { return {8, 8, 0, 24, 8192, 8}; }
};

struct EncodeResult
{
    uint64_t originalSize = 0;
    uint64_t packedSize = 0;
    uint16_t crc = 0;
};

// Packs all of `in` into `out`. Fails with ErrSourceRead, ErrArchiveWrite or
// ErrSourceTooLarge (input beyond `maxInput` bytes).
int encodeLh5(ByteSource &in, ByteSink &out, EncodeResult &result, uint64_t maxInput = 0xFFFFFFFFull,
              const EncoderTuning &tuning = {});

// The input is packed in pieces of this size, each with the dictionary before it. Small
// enough that the cores finish the input together; a piece's cost of its own (a block
// end, refilling the chains) stays below 1 %.
inline constexpr size_t kParallelPieceBytes = size_t(1) << 20;

// Packs like encodeLh5 on `threads` worker threads, the way parallel gzip does: pieces of
// kParallelPieceBytes, each with the 8 KiB before it as dictionary, are packed side by
// side and their bit streams joined into one -lh5- stream, while the calling thread reads
// ahead (at most two pieces per worker) and writes. The output does not depend on
// `threads` and is about as large as encodeLh5's (a block ends at each piece).
int encodeLh5Parallel(ByteSource &in, ByteSink &out, EncodeResult &result, uint64_t maxInput,
                      const EncoderTuning &tuning, int threads);

} // namespace lzh
