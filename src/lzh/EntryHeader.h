// Reads one LHA entry header of level 0, 1 or 2 from a stream; kept apart from the
// archive walk in LzhArchive.cpp so that each header level is a small function of its own.
#pragma once

#include "lzh/ByteStream.h"
#include "lzh/LzhArchive.h"

#include <cstdint>
#include <vector>

namespace lzh {

// Reads the next header into `info` and its bytes, extended headers included, into `raw`
// (copyRaw writes them out unchanged). `first` is set for the archive's first header:
// damage there means the input is no archive at all. At the end mark (or the end of the
// input) returns Ok with `end` set.
int readEntryHeader(ByteSource &source, bool first, std::vector<uint8_t> &raw, EntryInfo &info, bool &end);

} // namespace lzh
