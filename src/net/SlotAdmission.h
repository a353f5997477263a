// Who gets one of the receive slots. Senders connect before they pack, so a quiet
// connection proves nothing; but connections spread over many addresses must not hold
// every slot for ever. A few slots stay for addresses that hold none, and when the table
// is full such an address takes the place of the connection whose header is still
// incomplete after the longest time.
#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

// Slots that only an address holding no connection may take.
inline constexpr int kSlotsKeptForNewAddresses = 16;

namespace SlotAdmission {

// One connection that holds a slot, as the admission sees it.
struct Holder
{
    int socketIndex = -1;
    QString ip;
    qint64 openedMs = 0;     // monotonic time of the accept
    bool headerDone = false; // the header arrived: a body or an unpack is on its way
    qint64 headerBytes = 0;  // bytes of the header waiting so far
};

struct Decision
{
    enum class Kind { Admit, Evict, Refuse } kind = Kind::Refuse;
    int victim = -1; // socket index of the connection to close, for Evict
};

// The answer for a new connection from `ip`, with `freeSlots` free slots, `perAddress` the
// most one address may hold, and `holders` every connection that holds a slot.
Decision decide(const QString &ip, int freeSlots, int perAddress, const std::vector<Holder> &holders);

} // namespace SlotAdmission
