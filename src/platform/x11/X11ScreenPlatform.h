// The X11 back-end of ScreenPlatform: xcb on Qt's own connection, EWMH properties for the
// work area, the active window, titles and frames.
#pragma once

#include "platform/ScreenPlatform.h"

#include <cstdint>

struct xcb_connection_t;

class X11ScreenPlatform : public ScreenPlatform
{
  public:
    // Null unless the application runs on the xcb platform.
    static std::unique_ptr<ScreenPlatform> tryCreate();

    bool isSupported() const override { return true; }
    QString name() const override { return QStringLiteral("x11"); }
    QSize screenSize() const override;
    QImage grabRect(const QRect &rect) override;
    std::optional<QRect> workArea() const override;
    WindowId foregroundWindow() const override;
    bool setForegroundWindow(WindowId window) override;
    QString windowTitle(WindowId window) const override;
    QRect windowFrameRect(WindowId window) const override;
    QRect windowClientRect(WindowId window) const override;
    WindowId windowFromPoint(const QPoint &screenPos) const override;
    WindowId topWindowFromPoint(const QPoint &screenPos) const override;
    QPoint cursorPos() const override;
    bool grabPointer(QWindow *receiver, GrabCursor cursor) override;
    void releasePointer() override;
    bool pointerGrabbed() const override { return m_grabbed; }
    bool setKeepAbove(QWindow *window, bool above) override;
    bool isKeptAbove(QWindow *window) const override;

  private:
    X11ScreenPlatform(xcb_connection_t *connection, uint32_t root);

    enum Atom {
        NetWorkarea,
        NetCurrentDesktop,
        NetActiveWindow,
        NetWmName,
        Utf8String,
        WmState,
        NetFrameExtents,
        NetSupportingWmCheck,
        NetWmState,
        NetWmStateAbove,
        AtomCount
    };

    QRect primaryNative() const;
    bool hasWmState(uint32_t window) const;
    uint32_t parentOf(uint32_t window) const;
    uint32_t clientWindowOf(uint32_t window) const;
    uint32_t findClientBelow(uint32_t window, int depth) const;
    QRect rootGeometry(uint32_t window, bool withBorder) const;
    // A cursor of the X cursor font, black on white; XCB_CURSOR_NONE when the font is
    // missing. The caller frees it.
    uint32_t createGlyphCursor(uint16_t glyph) const;

    xcb_connection_t *m_connection;
    uint32_t m_root;
    uint32_t m_atoms[AtomCount] = {};
    bool m_grabbed = false;
};
