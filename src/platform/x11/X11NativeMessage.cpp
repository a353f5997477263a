#include "platform/x11/X11NativeMessage.h"

#include "platform/NativeMessage.h"

#include <xcb/xcb.h>

namespace {

int32_t pack(uint16_t low, uint16_t high)
{
    return int32_t(uint32_t(high) << 16 | low);
}

} // namespace

bool X11DecodeNativeMessage(void *event, NativeMessage *out)
{
    const auto *generic = static_cast<const xcb_generic_event_t *>(event);
    const uint8_t code = generic->response_type & 0x7f;
    NativeMessage m;
    m.message = code;
    m.native = event;
    switch (code) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY: {
        // The five share one layout.
        const auto *e = static_cast<const xcb_key_press_event_t *>(event);
        m.window = e->event;
        m.param1 = e->detail;
        m.param2 = e->state;
        break;
    }
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY: {
        const auto *e = static_cast<const xcb_enter_notify_event_t *>(event);
        m.window = e->event;
        m.param1 = e->detail;
        m.param2 = e->state;
        break;
    }
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT: {
        const auto *e = static_cast<const xcb_focus_in_event_t *>(event);
        m.window = e->event;
        m.param1 = e->detail;
        m.param2 = e->mode;
        break;
    }
    case XCB_EXPOSE: {
        const auto *e = static_cast<const xcb_expose_event_t *>(event);
        m.window = e->window;
        m.param1 = pack(e->x, e->y);
        m.param2 = pack(e->width, e->height);
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto *e = static_cast<const xcb_configure_notify_event_t *>(event);
        m.window = e->window;
        m.param1 = pack(uint16_t(e->x), uint16_t(e->y));
        m.param2 = pack(e->width, e->height);
        break;
    }
    case XCB_MAP_NOTIFY:
        m.window = static_cast<const xcb_map_notify_event_t *>(event)->window;
        break;
    case XCB_UNMAP_NOTIFY:
        m.window = static_cast<const xcb_unmap_notify_event_t *>(event)->window;
        break;
    case XCB_DESTROY_NOTIFY:
        m.window = static_cast<const xcb_destroy_notify_event_t *>(event)->window;
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto *e = static_cast<const xcb_property_notify_event_t *>(event);
        m.window = e->window;
        m.param1 = int32_t(e->atom);
        m.param2 = e->state;
        break;
    }
    case XCB_CLIENT_MESSAGE: {
        const auto *e = static_cast<const xcb_client_message_event_t *>(event);
        m.window = e->window;
        m.param1 = int32_t(e->type);
        m.param2 = int32_t(e->data.data32[0]);
        break;
    }
    default:
        return false;
    }
    *out = m;
    return true;
}
