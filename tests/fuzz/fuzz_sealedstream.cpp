// Feeds arbitrary bytes to the sealed record reader, in pieces whose sizes the input picks,
// after a genuine record. Whatever arrives, the reader must stay in bounds, never hand
// out a record it did not verify, and refuse everything once it failed. The same bytes sealed
// by a writer must come back whole, record for record, however they are split.
#include "net/ConnectionKeys.h"
#include "net/SealedStream.h"

#include <QList>
#include <cstddef>
#include <cstdint>

namespace {

ConnectionKeys::SessionKeys fixedKeys()
{
    ConnectionKeys::SessionKeys k;
    for (size_t i = 0; i < k.receive.size(); ++i)
        k.receive[i] = k.transmit[i] = uint8_t(i * 7 + 1);
    return k;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const ConnectionKeys::SessionKeys keys = fixedKeys();

    // Hostile: a real record, then the input as records.
    {
        SealedWriter writer(keys);
        SealedReader reader(keys);
        reader.feed(writer.seal("genuine"));
        QByteArray plain;
        if (reader.next(plain) != SealedReader::Status::Record || plain != "genuine")
            __builtin_trap();
        qsizetype at = 0;
        bool failed = false;
        while (at < input.size()) {
            const qsizetype piece = qMin<qsizetype>(1 + uint8_t(input[at]) * 3, input.size() - at);
            reader.feed(input.sliced(at, piece));
            at += piece;
            for (;;) {
                const SealedReader::Status st = reader.next(plain);
                if (st == SealedReader::Status::Broken) {
                    if (!plain.isEmpty())
                        __builtin_trap();
                    failed = true;
                    break;
                }
                if (st == SealedReader::Status::NeedMore)
                    break;
                // Without the key nothing can verify; a record here is a forgery let through.
                __builtin_trap();
            }
            if (failed)
                break;
        }
        if (failed && reader.next(plain) != SealedReader::Status::Broken)
            __builtin_trap();
    }

    // Faithful: the input cut into records by its own bytes, read back split differently.
    {
        SealedWriter writer(keys);
        SealedReader reader(keys);
        QByteArray wire;
        QList<QByteArray> sent;
        qsizetype at = 0;
        while (at < input.size() || sent.isEmpty()) {
            const qsizetype n = at < input.size() ? qMin<qsizetype>(1 + uint8_t(input[at]) * 5, input.size() - at) : 0;
            sent << input.sliced(at, n).toByteArray();
            at += n;
            wire += writer.seal(sent.last(), at >= input.size());
        }
        QList<QByteArray> got;
        QByteArray plain;
        const qsizetype step = 1 + (size % 97);
        bool ended = false;
        for (qsizetype pos = 0; pos < wire.size(); pos += step) {
            reader.feed(QByteArrayView(wire).sliced(pos, qMin(step, wire.size() - pos)));
            for (;;) {
                const SealedReader::Status st = reader.next(plain);
                if (st == SealedReader::Status::NeedMore)
                    break;
                if (st == SealedReader::Status::Broken || ended)
                    __builtin_trap();
                got << plain;
                ended = st == SealedReader::Status::Final;
            }
        }
        if (!ended || got != sent)
            __builtin_trap();
    }
    return 0;
}
