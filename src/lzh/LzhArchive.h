// Reading and writing LHA archives: level-0, -1 and -2 headers read, level-2 headers
// written, one file packed per call under a given name, every entry unpacked into one
// folder. Entry names are the raw (code-page-932) bytes; the caller maps them to paths.
#pragma once

#include "lzh/ByteStream.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lzh {

struct EntryInfo
{
    std::string method;      // five characters, e.g. "-lh5-"
    uint64_t packedSize = 0; // bytes of packed data after the header
    uint64_t originalSize = 0;
    int64_t mtime = 0; // seconds since 1970-01-01 UTC
    uint16_t crc = 0;  // CRC-16 of the unpacked data
    int level = 0;     // header level
    std::string name;  // name bytes as stored, possibly with folder parts
    bool isDirectory() const { return method == "-lhd-"; }
};

// The file-name part of a stored name: what follows the last "/", "\" (not counting the
// second byte of a double-byte character) or 0xFF, without a leading drive letter.
std::string bareName(std::string_view stored);

// False for names that must never become a file: empty, ".", ".." or holding a NUL byte.
bool isSafeBareName(std::string_view bare);

// Walks the entries of an archive in order.
class ArchiveReader
{
  public:
    explicit ArchiveReader(ByteSource &source);
    ~ArchiveReader();

    // Reads the next header. At the end of the archive returns Ok with `end` set.
    // The data of the previous entry is skipped if it was not taken.
    int next(EntryInfo &info, bool &end);
    // Unpacks the current entry into `out`, checking its CRC.
    int extract(ByteSink &out);
    // Copies the current entry's header and packed data unchanged.
    int copyRaw(ByteSink &out);

  private:
    int skipData();
    int readHeader(EntryInfo &info, bool &end);

    ByteSource &m_source;
    EntryInfo m_current;
    std::vector<uint8_t> m_rawHeader;
    bool m_dataPending = false;
    bool m_first = true;
};

// Maps a safe bare entry name to the file name to use on disk (one path component).
using NameMapper = std::function<std::filesystem::path(std::string_view bare)>;

// The method packFile writes an entry in. Auto packs small files with -lh5- and probes
// larger ones: data that barely packs (photos, videos, archives) goes stored as -lh0-,
// which every LHA reader unpacks, at the speed of the disk, and large data that packs
// only moderately gets the quick match search. Lh5 always packs with the thorough search.
// Either way an entry that -lh5- would make larger goes stored.
enum class PackMethod { Auto, Lh5, Stored };

struct PackOptions
{
    PackMethod method = PackMethod::Auto;
    // For a transfer: when the file goes stored into a new archive, only the entry's header
    // is written (its CRC taken in one read pass). The caller sends the file's bytes and
    // the end mark 0 behind it, so that the data is never copied; storedBehind() tells such
    // a file from a complete archive.
    bool headerOnlyWhenStored = false;
    // Set from another thread to stop: the pack ends with ErrCancelled within one piece of
    // input and leaves the archive as it was (quitting need not wait for a large file).
    const std::atomic<bool> *cancel = nullptr;
    // When set, every byte read from the file being packed is added here (from any of the
    // threads that read it), so another thread can show how far the pack has got. A pack
    // that falls back to stored data reads the file a second time.
    std::atomic<uint64_t> *inputRead = nullptr;
};

// What storedBehind() found: the header's length and the data the caller sends after it.
struct StoredBehind
{
    uint64_t headerBytes = 0;
    uint64_t dataBytes = 0;
};

// True when `archive` is the header of one stored entry without its data, as packFile
// writes it with headerOnlyWhenStored; a complete archive has at least its end mark after
// the header.
bool storedBehind(const std::filesystem::path &archive, StoredBehind &found);

// What the probe of an Auto pack found: the share of bytes -lh5- kept on samples spread
// over the file (1.0 when nothing was probed), and whether the entry goes stored.
struct PackPlan
{
    double probedRatio = 1.0;
    bool stored = false;
    bool fastSearch = false; // large input: the match finder's quick settings
};

// Adds `file` to `archive` under `storedName`, replacing an entry of the same name and
// keeping the others; creates the archive when it does not exist. Writes to a temporary
// file beside the archive and renames it, so a failure leaves the old archive as it was.
int packFile(const std::filesystem::path &archive, const std::filesystem::path &file,
             std::string_view storedName, const PackOptions &options = {});

// How packFile would write `file` (size `size`); reads a few samples of it.
PackPlan planPack(std::FILE *file, uint64_t size, const PackOptions &options = {});

// Limits and choices of one unpack; the defaults unpack every entry without a limit.
struct UnpackOptions
{
    // When not empty, only the entries with this bare name (the stored bytes) are written;
    // the others are stepped over without touching the disk.
    std::string onlyEntry;
    // The entries to be written may declare at most this many bytes in all. A larger
    // declaration ends the unpack with ErrOutputLimit before anything is written.
    uint64_t maxTotalBytes = UINT64_MAX;
    // Set from another thread to stop: the unpack ends with ErrCancelled within one block
    // of output and removes what it wrote.
    const std::atomic<bool> *cancel = nullptr;
};

// Writes the entries of `archive` into `destination` under their bare names, replacing
// existing files. Each file is written to a temporary name and renamed once its CRC
// matched; when the unpack fails, the files it already wrote are removed again, so a
// failure never leaves partly unpacked output behind.
int unpackArchive(const std::filesystem::path &archive, const std::filesystem::path &destination,
                  const NameMapper &toPath, const UnpackOptions &options = {});

// The original sizes the headers declare, added up over the entries `options` selects
// (folders not counted). ErrOutputLimit when the sum passes options.maxTotalBytes.
int declaredSize(const std::filesystem::path &archive, const UnpackOptions &options, uint64_t &total);

// The headers of every entry.
int listArchive(const std::filesystem::path &archive, std::vector<EntryInfo> &entries);

} // namespace lzh
