// Feeds arbitrary bytes to the datagram dispatcher as if they came from the network.
// The first byte picks the sender: the program's own address, loopback or one of four
// peers, so that rows are created, updated and marked by a sequence of datagrams.
#include "net/AddressStore.h"
#include "base/ModZorvin.h"
#include "net/Datagrams.h"
#include "net/EngineEvents.h"
#include "net/Presence.h"
#include "support/TestPort.h"

#include <QCoreApplication>
#include <cstddef>
#include <cstdint>

namespace {

struct State
{
    State()
    {
        ctx.SetLocalIp(QStringLiteral("192.0.2.1"));
        ctx.LocalHostName = QStringLiteral("fuzz");
        ctx.settings.Name = QStringLiteral("me");
        ctx.settings.Grp = QStringLiteral("grp");
        ctx.net.port = TestPort::port();
    }
    ModZorvin ctx;
    EngineEvents events;
    AddressStore store;
    // Never opened: answers fail quietly instead of leaving the process.
    Datagrams datagrams{ctx};
    Presence presence{ctx, store, events, datagrams};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_dispatcher";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static State state;
    if (size == 0)
        return 0;
    static const QString senders[] = {QStringLiteral("192.0.2.1"),    QStringLiteral("127.0.0.1"),
                                      QStringLiteral("198.51.100.1"), QStringLiteral("198.51.100.2"),
                                      QStringLiteral("198.51.100.3"), QStringLiteral("198.51.100.4")};
    const QString &ip = senders[data[0] % 6];
    state.presence.HandleDatagram(
        ip, QByteArrayView(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)));
    // The store never grows beyond one row per sender.
    if (state.store.size() > 6)
        __builtin_trap();
    return 0;
}
