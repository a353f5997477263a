// One event of the windowing system as the message dispatcher (clsMessage) sees it: the
// window it is for, its number and two 32-bit parameters, decoded from what Qt's native
// event filter passes on.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

struct NativeMessage
{
    // The window the event is reported to; 0 for none.
    quintptr window = 0;
    uint32_t message = 0;
    int32_t param1 = 0;
    int32_t param2 = 0;
    // The platform's own event, for a receiver that needs more than the two parameters.
    const void *native = nullptr;
};

// False for an event of another platform or of a kind that names no window. On X11 the
// number is the event code and the parameters are listed in x11/X11NativeMessage.h.
bool DecodeNativeMessage(const QByteArray &eventType, void *message, NativeMessage *out);
