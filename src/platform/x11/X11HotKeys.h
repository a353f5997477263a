// X11 hotkeys: a passive key grab on the root window for the key's keycode and modifiers,
// taken also with Num Lock and Caps Lock set (or the key stops working while either is on).
// Every grab request is checked; a key another client holds answers BadAccess, and the key
// is then refused. The ids are ours; the grabs live on Qt's connection, whose events reach
// the message dispatcher.
#pragma once

#include "platform/HotKeyPlatform.h"

#include <cstdint>
#include <vector>

struct xcb_connection_t;

class X11HotKeys : public HotKeyPlatform
{
  public:
    // Null unless the application runs on the xcb platform.
    static std::unique_ptr<HotKeyPlatform> tryCreate();
    // Gives back every key still held.
    ~X11HotKeys() override;

    bool isSupported() const override { return true; }
    QString name() const override { return QStringLiteral("x11"); }
    WindowId hotKeyWindow() const override { return m_root; }
    bool RegisterHotKey(int id, int virtualKey, int modifierMask, QString *error = nullptr) override;
    bool UnregisterHotKey(int id) override;
    std::optional<Hit> hotKeyOf(const NativeMessage &message) const override;

    // The X keysym that a virtual-key code of the key-name table stands for; 0 for none.
    static uint32_t keysymFor(int virtualKey);

  private:
    X11HotKeys(xcb_connection_t *connection, uint32_t root);

    struct Grab
    {
        int id;
        int virtualKey;
        int modifierMask;
        uint8_t keycode;
        // The X modifiers of the key, and the lock modifiers it was also taken with.
        uint16_t modifiers;
        uint16_t locks;
        std::vector<uint16_t> variants;
    };
    void ungrab(const Grab &grab);

    xcb_connection_t *m_connection;
    uint32_t m_root;
    std::vector<Grab> m_grabs;
};
