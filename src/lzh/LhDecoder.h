// Unpacks the data of one archive entry: -lh0- (stored) and the -lh5-, -lh6- and -lh7-
// static-Huffman methods, with table-driven code lookup.
#pragma once

#include "lzh/ByteStream.h"

#include <cstdint>
#include <string_view>

namespace lzh {

// True for the methods decodeEntry understands ("-lh0-", "-lh5-", "-lh6-", "-lh7-").
bool isKnownMethod(std::string_view method);

// Unpacks exactly `originalSize` bytes from `in` (the entry's packed data, already
// limited to its packed size) into `out` and returns their CRC-16 in `crc`.
// Results: Ok, ErrUnknownMethod, ErrDataTruncated, ErrDataCorrupt, ErrSizeMismatch,
// ErrArchiveRead, ErrOutputWrite.
int decodeEntry(std::string_view method, LimitedSource &in, uint64_t originalSize, ByteSink &out,
                uint16_t &crc);

} // namespace lzh
