// Facts of the LHA -lhN- data format shared by the encoder and the decoder.
#pragma once

#include <cstdint>

namespace lzh {

inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 256;
inline constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1; // literals and lengths: 510
inline constexpr int kCBits = 9;                            // bits of the literal table's count
inline constexpr int kNT = 19;                              // symbols that code the literal lengths
inline constexpr int kTBits = 5;
inline constexpr int kMaxCodeBits = 16;

// Per method: dictionary bits, position-table size and the bits of its count.
struct MethodParams
{
    int dicBits;
    int np;
    int pBits;
};
inline constexpr MethodParams kLh5{13, 14, 4};
inline constexpr MethodParams kLh6{15, 16, 5};
inline constexpr MethodParams kLh7{16, 17, 5};

// Huffman code lengths for the used symbols of `freq`, none longer than 16 bits.
// Needs at least two used symbols and n <= kNC; unused symbols get length 0.
void huffmanLengths(const uint32_t *freq, int n, uint8_t *len);

// Canonical codes for the lengths: shorter codes first, equal lengths by symbol order,
// the assignment both sides of the format use.
void canonicalCodes(const uint8_t *len, int n, uint16_t *code);

} // namespace lzh
