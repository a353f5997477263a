#include "lzh/LzhErrors.h"

namespace lzh {

const char *describe(int code)
{
    switch (code) {
    case Ok:
        return "success";
    case ErrCommandUnknown:
        return "unknown archiver command";
    case ErrMissingArchive:
        return "no archive path";
    case ErrMissingSource:
        return "no file to add";
    case ErrMissingDestination:
        return "no destination folder";
    case ErrUnbalancedQuote:
        return "unbalanced quote in command line";
    case ErrTooManyEntries:
        return "more than one entry named for extraction";
    case ErrSourceMissing:
        return "file to add does not exist";
    case ErrSourceNotFile:
        return "path to add is not a regular file";
    case ErrSourceRead:
        return "cannot read file to add";
    case ErrSourceTooLarge:
        return "file to add is too large";
    case ErrArchiveCreate:
        return "cannot create archive";
    case ErrArchiveWrite:
        return "cannot write archive";
    case ErrBadSourceName:
        return "bad name to store";
    case ErrArchiveOpen:
        return "cannot open archive";
    case ErrArchiveRead:
        return "cannot read archive";
    case ErrNotArchive:
        return "not an LHA archive";
    case ErrHeaderTruncated:
        return "archive ends inside a header";
    case ErrHeaderCorrupt:
        return "corrupt header";
    case ErrHeaderChecksum:
        return "header checksum mismatch";
    case ErrHeaderLevel:
        return "unsupported header level";
    case ErrUnknownMethod:
        return "unsupported compression method";
    case ErrDataTruncated:
        return "archive ends inside packed data";
    case ErrDataCorrupt:
        return "corrupt packed data";
    case ErrCrcMismatch:
        return "CRC mismatch";
    case ErrSizeMismatch:
        return "stored entry sizes differ";
    case ErrUnsafeName:
        return "unsafe entry name";
    case ErrDestinationMissing:
        return "destination folder does not exist";
    case ErrOutputCreate:
        return "cannot create output file";
    case ErrOutputWrite:
        return "cannot write output file";
    case ErrOutputReplace:
        return "cannot replace output file";
    case ErrOutputLimit:
        return "entries declare more than the output limit";
    case ErrCancelled:
        return "cancelled";
    case ErrInternal:
        return "internal error";
    default:
        return "unknown error";
    }
}

} // namespace lzh
