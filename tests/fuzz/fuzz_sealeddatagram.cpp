// Feeds arbitrary bytes, as from a keyed peer's address, to the sealed-datagram reader.
// Bytes nobody sealed never open, whatever their shape; a well-formed datagram is read in
// its one spelling only; and the plain forms of the message kinds from a keyed peer are
// always refused while every other kind is left to the dispatcher.
#include "base/Protocol.h"
#include "net/DatagramSeal.h"
#include "net/Identity.h"
#include "net/NetDiagnostics.h"
#include "net/PeerKeys.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

namespace {

const QString kPeer = QStringLiteral("192.0.2.7");

struct State
{
    State()
    {
        own.load(dir.filePath(QStringLiteral("own.key")), true);
        peer.load(dir.filePath(QStringLiteral("peer.key")), true);
        if (!own.isReady() || !peer.isReady())
            __builtin_trap();
        pins.offer(QStringLiteral("peer"), kPeer, peer.publicKey());
    }
    QTemporaryDir dir;
    Identity own;
    Identity peer;
    PeerKeys pins;
    NetDiagnostics diagnostics;
    DatagramSeal seal{own, pins, diagnostics};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static State state;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto parsed = DatagramSeal::parse(bytes);
    if (parsed) {
        const QByteArray again =
            "captSE001" + parsed->toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        if (again != bytes)
            __builtin_trap();
    }
    QString opened;
    const DatagramSeal::Verdict verdict = state.seal.incoming(kPeer, bytes, &opened);
    if (verdict == DatagramSeal::Verdict::Opened)
        __builtin_trap();
    const bool ours = bytes.startsWith(QByteArrayView(Protocol::kSealed.data(), Protocol::kSealed.size())) ||
                      DatagramSeal::isSealedKind(bytes);
    if ((verdict == DatagramSeal::Verdict::Refused) != ours)
        __builtin_trap();
    return 0;
}
