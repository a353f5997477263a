#include "platform/NativeMessage.h"

#include "platform/x11/X11NativeMessage.h"

bool DecodeNativeMessage(const QByteArray &eventType, void *message, NativeMessage *out)
{
    if (eventType == "xcb_generic_event_t")
        return X11DecodeNativeMessage(message, out);
    return false;
}
