#include "net/ReceiveTable.h"

#include "net/ArrivingArchive.h"
#include "net/SealedSocket.h"
#include "net/TransferLinks.h"

#include <QFile>
#include <QTcpSocket>

ReceiveConnection::ReceiveConnection() = default;
ReceiveConnection::~ReceiveConnection() = default;

QIODevice *ReceiveConnection::replyDevice() const
{
    if (const auto *sealed = qobject_cast<const SealedSocket *>(stream)) {
        if (sealed->isEstablished())
            return stream;
        if (sealed->isBroken())
            return nullptr;
    }
    return socket;
}

int ReceiveTable::slotForSocket(int socketIndex) const
{
    return firstInUse(entries, &RecvSlot::socketIndex, socketIndex);
}

int ReceiveTable::alloc(int socketIndex, const QString &ip, quint16 port)
{
    for (int i = 0; i < kRecvSlots; ++i) {
        RecvSlot &s = entries[size_t(i)];
        if (s.inUse)
            continue;
        s = RecvSlot{};
        s.inUse = true;
        s.socketIndex = socketIndex;
        s.senderIp = ip;
        s.senderPort = port;
        return i;
    }
    return kRecvSlots;
}

int ReceiveTable::slotsInUse() const
{
    return countInUse(entries);
}

int ReceiveTable::unpacksOnArrival() const
{
    int n = 0;
    for (const ReceiveConnection *c : connections)
        n += c->arriving && c->arriving->mode() == ArrivingArchive::Mode::Unpacking ? 1 : 0;
    return n;
}

bool ReceiveTable::bodyPathTaken(int slot, const QString &path) const
{
    bool taken = false;
    for (int i = 0; i < kRecvSlots; ++i) {
        const RecvSlot &o = entries[size_t(i)];
        taken = taken || (i != slot && o.inUse && o.state == 1 && o.bodyPath == path);
    }
    return taken;
}

bool ReceiveTable::itemTaken(const QString &workFolder, const QString &item) const
{
    bool taken = false;
    for (const RecvSlot &s : entries)
        taken = taken || (s.inUse && workFolder + s.header.itemName == item);
    return taken;
}
