// Every result code of the LZH library and of the archiver calls built on it, with its
// meaning. 0 is success; 32799 ("busy") belongs to the archiver layer and no code here
// may take it. The numbers start at 0x8100 so that they never collide with small counts.
#pragma once

namespace lzh {

enum Error : int {
    Ok = 0,

    // Command line given to the archiver layer.
    ErrCommandUnknown = 0x8101,     // first word is neither an add nor an extract command
    ErrMissingArchive = 0x8102,     // no archive path on the command line
    ErrMissingSource = 0x8103,      // add command without a file to add
    ErrMissingDestination = 0x8104, // extract command without a destination folder ending in "/"
    ErrUnbalancedQuote = 0x8105,    // a double quote opened and never closed
    ErrTooManyEntries = 0x8106,     // extract command naming more than one entry to extract

    // Packing.
    ErrSourceMissing = 0x8110,  // the file to add does not exist
    ErrSourceNotFile = 0x8111,  // the path to add is a folder or another non-regular file
    ErrSourceRead = 0x8112,     // reading the file to add failed
    ErrSourceTooLarge = 0x8113, // the file to add is 4 GiB or larger (32-bit size fields)
    ErrArchiveCreate = 0x8114,  // the archive (or its temporary file) cannot be created
    ErrArchiveWrite = 0x8115,   // writing the archive failed (disk full, I/O error)
    ErrBadSourceName = 0x8116,  // the name to store is empty, "." or ".."

    // Reading an archive.
    ErrArchiveOpen = 0x8120,     // the archive cannot be opened for reading
    ErrArchiveRead = 0x8121,     // reading the archive failed
    ErrNotArchive = 0x8122,      // the data is not an LHA archive (bad first header)
    ErrHeaderTruncated = 0x8123, // the archive ends inside a header
    ErrHeaderCorrupt = 0x8124,   // impossible header sizes or fields
    ErrHeaderChecksum = 0x8125,  // header checksum or header CRC mismatch
    ErrHeaderLevel = 0x8126,     // header level other than 0, 1 and 2
    ErrUnknownMethod = 0x8127,   // compression method we do not unpack
    ErrDataTruncated = 0x8128,   // the archive ends inside an entry's packed data
    ErrDataCorrupt = 0x8129,     // the packed data does not decode (bad tables or codes)
    ErrCrcMismatch = 0x812A,     // the unpacked data does not match the stored CRC-16
    ErrSizeMismatch = 0x812B,    // a stored (-lh0-) entry whose two sizes differ

    // Writing unpacked files.
    ErrUnsafeName = 0x8130,         // entry name is empty, ".", ".." or holds a NUL byte
    ErrDestinationMissing = 0x8131, // the destination folder does not exist
    ErrOutputCreate = 0x8132,       // an unpacked file cannot be created
    ErrOutputWrite = 0x8133,        // writing an unpacked file failed
    ErrOutputReplace = 0x8134,      // the finished file cannot replace the old one
    ErrOutputLimit = 0x8135,        // the entries declare more bytes than the caller allows
    ErrCancelled = 0x8136,          // the caller stopped the pack or unpack

    ErrInternal = 0x81FF, // an unexpected failure inside the library
};

// Every error code lies in this range.
inline constexpr int kFirstErrorCode = ErrCommandUnknown;
inline constexpr int kLastErrorCode = ErrInternal;

// A short English description of a result code, for logs and test messages.
const char *describe(int code);

} // namespace lzh
