// Any bytes from the network through the header parser: no crash, no read past the
// input, and an accepted header always names a file inside the receive folder.
#include "net/TransferHeader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const ParsedTransferHeader p = TransferHeader::parse(bytes);
    if (p.status == ParsedTransferHeader::Status::Incomplete)
        return 0;
    if (p.byteLength < 256 || p.byteLength > 512 || p.byteLength > bytes.size())
        abort();
    if (p.status == ParsedTransferHeader::Status::Ok) {
        const TransferHeader &h = p.header;
        if (!TransferHeader::isSafeName(h.itemName) || h.itemName.contains(QLatin1Char('/')) ||
            h.itemName.contains(QLatin1String("..")) || h.size < 0 || h.size > kMaxTransferSize)
            abort();
        if (!h.archiveName.isEmpty() && !TransferHeader::isSafeName(h.archiveName))
            abort();
        if (h.build().size() != kHeaderChars)
            abort();
    }
    return 0;
}
