#include "net/SlotAdmission.h"

namespace SlotAdmission {

Decision decide(const QString &ip, int freeSlots, int perAddress, const std::vector<Holder> &holders)
{
    int held = 0;
    for (const Holder &h : holders)
        held += h.ip == ip ? 1 : 0;
    if (held >= perAddress)
        return {};
    if (held > 0)
        return freeSlots > kSlotsKeptForNewAddresses ? Decision{Decision::Kind::Admit, -1} : Decision{};
    if (freeSlots > 0)
        return {Decision::Kind::Admit, -1};
    // Full: the oldest connection still without its header goes; of equally old ones, the
    // one with less of it. A body on its way, or an unpack, is never cut.
    const Holder *victim = nullptr;
    for (const Holder &h : holders) {
        if (h.headerDone)
            continue;
        if (!victim || h.openedMs < victim->openedMs ||
            (h.openedMs == victim->openedMs && h.headerBytes < victim->headerBytes))
            victim = &h;
    }
    return victim ? Decision{Decision::Kind::Evict, victim->socketIndex} : Decision{};
}

} // namespace SlotAdmission
