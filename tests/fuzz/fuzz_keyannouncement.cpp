// Feeds arbitrary bytes to the "captPK" parser as the dispatcher hands them over (decoded
// from CP932). Whatever it takes must survive being sent again: the text it would send for
// what it parsed parses to the same announcement.
#include "base/AnsiCodec.h"
#include "net/KeyAnnouncement.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString datagram =
        AnsiCodec::decode(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    const auto parsed = KeyAnnouncement::parse(datagram);
    if (!parsed)
        return 0;
    if (parsed->publicKey.size() != 32 || parsed->hostName.isEmpty() || parsed->version < 1)
        __builtin_trap();
    const auto again = KeyAnnouncement::parse(AnsiCodec::decode(AnsiCodec::encode(parsed->text())));
    if (!again || again->publicKey != parsed->publicKey || again->version != parsed->version ||
        again->hostName != parsed->hostName)
        __builtin_trap();
    return 0;
}
