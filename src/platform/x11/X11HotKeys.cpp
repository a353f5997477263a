#include "platform/x11/X11HotKeys.h"

#include "platform/x11/QtXcb.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <initializer_list>

namespace {

constexpr uint8_t kBadAccess = 10;

constexpr uint32_t kNumLock = 0xff7f;
constexpr uint32_t kAltL = 0xffe9;
constexpr uint32_t kAltR = 0xffea;
constexpr uint32_t kMetaL = 0xffe7;
// XF86Switch_VT_1..12: the server switches to a console on these and never delivers them.
constexpr uint32_t kFirstSwitchVt = 0x1008fe01;
constexpr uint32_t kLastSwitchVt = 0x1008fe0c;

// The keyboard mapping, asked at each registration so that a changed layout counts.
class KeyboardMap
{
  public:
    explicit KeyboardMap(xcb_connection_t *c)
    {
        const xcb_setup_t *setup = xcb_get_setup(c);
        m_min = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        Reply reply(xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, m_min, uint8_t(count)),
                                                   ErrorSink()));
        if (!reply)
            return;
        m_perCode = reply->keysyms_per_keycode;
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(reply.p);
        m_syms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply.p));
    }

    bool carries(uint8_t keycode, xcb_keysym_t sym) const { return carriesAny(keycode, sym, sym); }
    bool carriesAny(uint8_t keycode, xcb_keysym_t first, xcb_keysym_t last) const
    {
        if (keycode < m_min || m_perCode == 0)
            return false;
        const size_t begin = size_t(keycode - m_min) * size_t(m_perCode);
        for (size_t i = begin; i < begin + size_t(m_perCode) && i < m_syms.size(); ++i) {
            if (m_syms[i] >= first && m_syms[i] <= last)
                return true;
        }
        return false;
    }

    // The first keycode that carries the keysym; 0 when no key does.
    uint8_t keycodeOf(xcb_keysym_t sym) const
    {
        if (m_perCode == 0)
            return 0;
        const size_t codes = m_syms.size() / size_t(m_perCode);
        for (size_t k = 0; k < codes; ++k) {
            if (carries(uint8_t(m_min + k), sym))
                return uint8_t(m_min + k);
        }
        return 0;
    }

  private:
    uint8_t m_min = 0;
    int m_perCode = 0;
    std::vector<xcb_keysym_t> m_syms;
};

// The modifier bit whose keys carry one of the keysyms (Num Lock and Alt move between
// Mod1..Mod5 with the layout); 0 when none does.
uint16_t modifierCarrying(xcb_connection_t *c, const KeyboardMap &map,
                          std::initializer_list<xcb_keysym_t> syms)
{
    Reply reply(xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), ErrorSink()));
    if (!reply)
        return 0;
    const int perModifier = reply->keycodes_per_modifier;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply.p);
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[modifier * perModifier + i];
            for (xcb_keysym_t sym : syms) {
                if (code != 0 && map.carries(code, sym))
                    return uint16_t(1u << modifier);
            }
        }
    }
    return 0;
}

} // namespace

std::unique_ptr<HotKeyPlatform> X11HotKeys::tryCreate()
{
    QtXcb qt;
    if (!qt.find())
        return nullptr;
    return std::unique_ptr<HotKeyPlatform>(new X11HotKeys(qt.connection, qt.root));
}

X11HotKeys::X11HotKeys(xcb_connection_t *connection, uint32_t root) : m_connection(connection), m_root(root)
{}

X11HotKeys::~X11HotKeys()
{
    // Without the application its connection is gone, and with it every grab.
    if (!qGuiApp)
        return;
    for (const Grab &grab : m_grabs)
        ungrab(grab);
    xcb_flush(m_connection);
}

uint32_t X11HotKeys::keysymFor(int virtualKey)
{
    if (virtualKey >= 'A' && virtualKey <= 'Z')
        return uint32_t('a' + (virtualKey - 'A'));
    if (virtualKey >= '1' && virtualKey <= '9')
        return uint32_t(virtualKey);
    if (virtualKey >= 112 && virtualKey <= 123)
        return 0xffbe + uint32_t(virtualKey - 112); // F1..F12
    switch (virtualKey) {
    case 32:
        return 0x0020; // space
    case 9:
        return 0xff09; // Tab
    case 27:
        return 0xff1b; // Escape
    case 33:
        return 0xff55; // Prior
    case 34:
        return 0xff56; // Next
    case 36:
        return 0xff50; // Home
    case 45:
        return 0xff63; // Insert
    case 46:
        return 0xffff; // Delete
    case 37:
        return 0xff51; // Left
    case 38:
        return 0xff52; // Up
    case 39:
        return 0xff53; // Right
    case 40:
        return 0xff54; // Down
    default:
        return 0;
    }
}

bool X11HotKeys::RegisterHotKey(int id, int virtualKey, int modifierMask, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (std::any_of(m_grabs.begin(), m_grabs.end(), [id](const Grab &g) { return g.id == id; }))
        return fail(QStringLiteral("hotkey id %1 is in use").arg(id));
    const uint32_t sym = keysymFor(virtualKey);
    if (sym == 0)
        return fail(QStringLiteral("no such key (code %1)").arg(virtualKey));
    const KeyboardMap map(m_connection);
    uint8_t keycode = map.keycodeOf(sym);
    // A layout may list a letter only as its capital.
    if (keycode == 0 && sym >= 'a' && sym <= 'z')
        keycode = map.keycodeOf(sym - 'a' + 'A');
    if (keycode == 0)
        return fail(QStringLiteral("the keyboard has no key for code %1").arg(virtualKey));

    uint16_t alt = modifierCarrying(m_connection, map, {kAltL, kAltR, kMetaL});
    if (alt == 0)
        alt = XCB_MOD_MASK_1;
    const uint16_t numLock = modifierCarrying(m_connection, map, {kNumLock});
    uint16_t modifiers = 0;
    if (modifierMask & kModShift)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (modifierMask & kModControl)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (modifierMask & kModAlt)
        modifiers |= alt;
    // The standard layouts give Ctrl+Alt+F1..F12 to the server's console switch: the grab
    // would be granted, and the key would never come.
    if ((modifiers & (XCB_MOD_MASK_CONTROL | alt)) == (XCB_MOD_MASK_CONTROL | alt) &&
        !(modifiers & XCB_MOD_MASK_SHIFT) && map.carriesAny(keycode, kFirstSwitchVt, kLastSwitchVt))
        return fail(QStringLiteral("the X server keeps the key for switching to a console"));
    // Our own keys first: a second grab of the same combination on our connection would
    // simply succeed.
    if (std::any_of(m_grabs.begin(), m_grabs.end(),
                    [&](const Grab &g) { return g.keycode == keycode && g.modifiers == modifiers; }))
        return fail(QStringLiteral("the key is another hotkey of ours"));

    Grab grab{id, virtualKey, modifierMask, keycode, modifiers, uint16_t(XCB_MOD_MASK_LOCK | numLock), {}};
    for (uint16_t lock :
         {uint16_t(0), uint16_t(XCB_MOD_MASK_LOCK), numLock, uint16_t(numLock | XCB_MOD_MASK_LOCK)}) {
        const uint16_t variant = modifiers | lock;
        if (std::find(grab.variants.begin(), grab.variants.end(), variant) == grab.variants.end())
            grab.variants.push_back(variant);
    }
    // All requests go out first, then each is checked: one round trip, and no grab is
    // counted before the server has answered it.
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t variant : grab.variants) {
        // owner_events 0: the key reaches the root window even when one of our own windows
        // has the focus.
        cookies.push_back(xcb_grab_key_checked(m_connection, 0, m_root, variant, keycode, XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
    }
    std::vector<uint16_t> granted;
    int errorCode = 0;
    for (size_t i = 0; i < cookies.size(); ++i) {
        if (xcb_generic_error_t *e = xcb_request_check(m_connection, cookies[i])) {
            if (errorCode == 0)
                errorCode = e->error_code;
            std::free(e);
        } else {
            granted.push_back(grab.variants[i]);
        }
    }
    if (errorCode != 0) {
        for (uint16_t variant : granted)
            xcb_ungrab_key(m_connection, keycode, m_root, variant);
        xcb_flush(m_connection);
        return fail(errorCode == kBadAccess
                        ? QStringLiteral("another program holds the key")
                        : QStringLiteral("the X server refused the grab (error %1)").arg(errorCode));
    }
    m_grabs.push_back(std::move(grab));
    return true;
}

bool X11HotKeys::UnregisterHotKey(int id)
{
    const auto it = std::find_if(m_grabs.begin(), m_grabs.end(), [id](const Grab &g) { return g.id == id; });
    if (it == m_grabs.end())
        return false;
    ungrab(*it);
    xcb_flush(m_connection);
    m_grabs.erase(it);
    return true;
}

void X11HotKeys::ungrab(const Grab &grab)
{
    for (uint16_t variant : grab.variants)
        xcb_ungrab_key(m_connection, grab.keycode, m_root, variant);
}

std::optional<HotKeyPlatform::Hit> X11HotKeys::hotKeyOf(const NativeMessage &message) const
{
    if (message.message != XCB_KEY_PRESS || message.window != m_root)
        return std::nullopt;
    // Only the modifier keys count; the lock modifiers, buttons and the layout group do not.
    const auto state = uint16_t(message.param2);
    for (const Grab &grab : m_grabs) {
        const uint16_t modifiers = state & 0xff & uint16_t(~grab.locks);
        if (grab.keycode == message.param1 && modifiers == grab.modifiers)
            return Hit{grab.id, grab.modifierMask, grab.virtualKey};
    }
    return std::nullopt;
}
