// System-wide hotkeys: a key with modifiers that reaches this program whichever
// application has the keyboard. A back-end takes keys by our own ids and tells which of
// its keys a native message reports; the X11 one grabs them on the root window.
#pragma once

#include "platform/NativeMessage.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

class HotKeyPlatform
{
  public:
    using WindowId = quintptr;

    // The modifier mask of a hotkey: the platform-neutral bits the key texts use.
    static constexpr int kModAlt = 1;
    static constexpr int kModControl = 2;
    static constexpr int kModShift = 4;

    // A pressed hotkey: its id and the key as it was registered.
    struct Hit
    {
        int id = 0;
        int modifierMask = 0;
        int virtualKey = 0;
    };

    virtual ~HotKeyPlatform() = default;

    // The X11 back-end when the application runs on xcb, otherwise one that takes no keys.
    // Needs a QGuiApplication.
    static std::unique_ptr<HotKeyPlatform> create();

    // The desktop session is Wayland (WAYLAND_DISPLAY, or XDG_SESSION_TYPE=wayland): no
    // program may take keys from the others there, so X11 grabs (through XWayland) only
    // work while an X11 program has the keyboard.
    static bool isWaylandSession();

    // False for the back-end that takes no keys.
    virtual bool isSupported() const = 0;
    virtual QString name() const = 0;

    // The window whose native messages report the hotkeys; 0 without one.
    virtual WindowId hotKeyWindow() const = 0;

    // Takes the key (a virtual-key code of the key-name table, with the modifier mask) for
    // `id`. True only once the windowing system has granted it; false when another program
    // (or another of our ids) holds it, the key is unknown, or the id is in use. `error`
    // says which.
    virtual bool RegisterHotKey(int id, int virtualKey, int modifierMask, QString *error = nullptr) = 0;
    // Gives the key of `id` back; false for an id that holds no key.
    virtual bool UnregisterHotKey(int id) = 0;

    // The hotkey a native message of hotKeyWindow() reports, if it is one.
    virtual std::optional<Hit> hotKeyOf(const NativeMessage &message) const = 0;
};
