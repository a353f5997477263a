// Feeds arbitrary bytes to both sides of the transfer handshake: as an offer to a receiver
// and as an answer to a sender, whole and in two pieces. Nothing made up may verify (the
// keys are real and the input never saw the secret halves), and a genuine offer and answer
// with one byte changed where the input says must fail too.
#include "net/Identity.h"
#include "net/TransferHandshake.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

namespace {

struct Keys
{
    Keys()
    {
        sender.load(dir.filePath("s.key"), true);
        receiver.load(dir.filePath("r.key"), true);
        if (!sender.isReady() || !receiver.isReady())
            __builtin_trap();
    }
    QTemporaryDir dir;
    Identity sender;
    Identity receiver;
};

Keys &keys()
{
    static Keys k;
    return k;
}

TransferHandshake::Step offerStep(QByteArrayView bytes, qsizetype cut)
{
    TransferHandshake receiver(keys().receiver, keys().sender.publicKey());
    qsizetype used = 0;
    QByteArray answer;
    TransferHandshake::Step st = receiver.takeOffer(bytes.first(cut), used, answer);
    if (st == TransferHandshake::Step::NeedMore)
        st = receiver.takeOffer(bytes, used, answer);
    if (st == TransferHandshake::Step::Done && (used != TransferHandshake::kOfferBytes ||
                                                answer.size() != TransferHandshake::kAnswerBytes))
        __builtin_trap();
    return st;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = size > 0 ? qsizetype(data[0]) % (qsizetype(size) + 1) : 0;

    // Made-up offers, also ones that start with the magic.
    if (offerStep(input, cut) == TransferHandshake::Step::Done)
        __builtin_trap();
    const QByteArray magicFirst = TransferHandshake::magic().toByteArray() + input.toByteArray();
    if (offerStep(magicFirst, qMin(cut, magicFirst.size())) == TransferHandshake::Step::Done)
        __builtin_trap();

    // A made-up answer to a genuine offer.
    {
        TransferHandshake sender(keys().sender, keys().receiver.publicKey());
        const QByteArray offer = sender.offer();
        qsizetype used = 0;
        if (sender.takeAnswer(magicFirst, used) == TransferHandshake::Step::Done)
            __builtin_trap();
        // The genuine offer verifies; with one byte changed it does not.
        if (offerStep(offer, cut % (offer.size() + 1)) != TransferHandshake::Step::Done)
            __builtin_trap();
        if (size > 1) {
            QByteArray altered = offer;
            const qsizetype at = qsizetype(data[1]) * 256 % altered.size() + (size > 2 ? data[2] : 0);
            altered[at % altered.size()] = char(altered[at % altered.size()] ^ (data[size - 1] | 1));
            if (offerStep(altered, cut % (altered.size() + 1)) == TransferHandshake::Step::Done)
                __builtin_trap();
        }
    }
    return 0;
}
