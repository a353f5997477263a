// Feeds arbitrary bytes to the archive reader and unpacks every entry into memory,
// bounded, so that hostile archives from the network can only ever produce error codes.
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lzh::MemorySource source(data, size);
    lzh::ArchiveReader reader(source);
    for (int i = 0; i < 64; ++i) {
        lzh::EntryInfo info;
        bool end = false;
        if (reader.next(info, end) != lzh::Ok || end)
            break;
        (void)lzh::isSafeBareName(lzh::bareName(info.name));
        lzh::MemorySink sink(4 << 20);
        if (reader.extract(sink) != lzh::Ok)
            break;
        if (sink.bytes.size() != info.originalSize)
            __builtin_trap(); // a successful unpack gives exactly the declared size
    }
    return 0;
}
