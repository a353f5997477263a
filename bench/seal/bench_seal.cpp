// What sealing costs a message: the time to seal one "captMS" datagram for a keyed peer
// and to open it there (a short line and one of the longest, 8,192 characters of CP932
// text), and the one key agreement per peer that comes first. The goal is 50 us a seal.
#include "base/AnsiCodec.h"
#include "net/DatagramSeal.h"
#include "net/Identity.h"
#include "net/NetDiagnostics.h"
#include "net/PeerKeys.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 5000;
const QString kAlice = QStringLiteral("192.0.2.1");
const QString kBob = QStringLiteral("192.0.2.2");

double medianMicros(std::vector<qint64> nanos)
{
    std::sort(nanos.begin(), nanos.end());
    return double(nanos[nanos.size() / 2]) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Identity alice, bob;
    if (alice.load(dir.filePath("alice.key"), true) != Identity::State::Ready ||
        bob.load(dir.filePath("bob.key"), true) != Identity::State::Ready) {
        std::printf("no key pairs\n");
        return 1;
    }
    PeerKeys alicePins, bobPins;
    alicePins.offer("bob", kBob, bob.publicKey());
    bobPins.offer("alice", kAlice, alice.publicKey());
    NetDiagnostics aliceDiag, bobDiag;

    const QString shortMessage =
        QStringLiteral("captMSYN07Y 会議は三時からです。資料は共有フォルダにあります。");
    const QString longMessage = QStringLiteral("captMSYN08Y ") + QString(8192 - 12, QChar(u'漢'));
    for (const auto &[what, datagram] : {std::pair{"short message (48 chars)", shortMessage},
                                         std::pair{"longest message (8,192 chars)", longMessage}}) {
        DatagramSeal sealer(alice, alicePins, aliceDiag);
        DatagramSeal opener(bob, bobPins, bobDiag);
        QElapsedTimer first;
        first.start();
        sealer.outgoing(datagram, kBob);
        const qint64 agreement = first.nsecsElapsed();
        std::vector<qint64> seal, open;
        seal.reserve(kRounds);
        open.reserve(kRounds);
        int opened = 0;
        for (int i = 0; i < kRounds; ++i) {
            QElapsedTimer clock;
            clock.start();
            const QString sealed = sealer.outgoing(datagram, kBob);
            seal.push_back(clock.nsecsElapsed());
            const QByteArray bytes = AnsiCodec::encode(sealed);
            QString inside;
            clock.restart();
            opened += opener.incoming(kAlice, bytes, &inside) == DatagramSeal::Verdict::Opened;
            open.push_back(clock.nsecsElapsed());
        }
        std::printf("%-32s first seal (key agreement) %8.1f us   seal median %7.1f us   open median %7.1f us"
                    "   (%d of %d opened)\n",
                    what, double(agreement) / 1000.0, medianMicros(seal), medianMicros(open), opened,
                    kRounds);
    }
    return 0;
}
