// The keycodes of keysyms on an X connection, for tests and benchmarks that press or grab
// keys as another program would (the first key that carries a keysym counts).
#pragma once

#include <QHash>

#include <xcb/xcb.h>

#include <cstdlib>

class XKeyCodes
{
  public:
    explicit XKeyCodes(xcb_connection_t *c)
    {
        const xcb_setup_t *setup = xcb_get_setup(c);
        xcb_get_keyboard_mapping_reply_t *map = xcb_get_keyboard_mapping_reply(
            c,
            xcb_get_keyboard_mapping(c, setup->min_keycode,
                                     uint8_t(setup->max_keycode - setup->min_keycode + 1)),
            nullptr);
        if (!map)
            return;
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map);
        for (int i = xcb_get_keyboard_mapping_keysyms_length(map) - 1; i >= 0; --i)
            m_codes[syms[i]] = uint8_t(setup->min_keycode + i / map->keysyms_per_keycode);
        std::free(map);
    }
    // 0 when no key carries it.
    uint8_t of(uint32_t keysym) const { return m_codes.value(keysym); }

  private:
    QHash<uint32_t, uint8_t> m_codes;
};
