// Feeds arbitrary bytes through the unpack the receiving side runs: a declared-size limit
// and one selected entry, into a real folder. Whatever the archive holds, the folder ends
// with at most that entry, never more than the limit, and nothing at all after an error.
#include "lzh/LzhArchive.h"
#include "lzh/LzhErrors.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kLimit = 1 << 20;

const fs::path &workFolder()
{
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "fuzz-unpack-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        fs::create_directory(fs::path(pattern) / "out");
        return fs::path(pattern);
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fs::path archive = workFolder() / "in.lzh";
    const fs::path out = workFolder() / "out";
    std::FILE *f = std::fopen(archive.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);

    lzh::UnpackOptions options;
    options.maxTotalBytes = kLimit;
    options.onlyEntry = "item.bmp";
    uint64_t declared = 0;
    const int sized = lzh::declaredSize(archive, options, declared);
    const int r = lzh::unpackArchive(archive, out, nullptr, options);
    if (sized == lzh::ErrOutputLimit && r == lzh::Ok)
        __builtin_trap(); // a refused declaration must never unpack

    uint64_t written = 0;
    int files = 0;
    for (const auto &entry : fs::directory_iterator(out)) {
        ++files;
        if (entry.path().filename() != "item.bmp")
            __builtin_trap(); // only the selected entry may reach the disk
        written += entry.file_size();
        fs::remove(entry.path());
    }
    if (written > kLimit || (r != lzh::Ok && files != 0))
        __builtin_trap();
    return 0;
}
