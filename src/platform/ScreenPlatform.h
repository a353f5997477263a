// What the capture engine needs from the windowing system: the primary screen, its pixels,
// the work area, the windows on it and a pointer grab for the armed click.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class QObject;
class QWindow;

class ScreenPlatform
{
  public:
    // A native top-level or child window; 0 means "no window".
    using WindowId = quintptr;

    virtual ~ScreenPlatform() = default;

    enum class Backend { Null, X11, Wayland };
    // Which back-end serves this session. `requested` is "x11", "wayland" or empty (the
    // session decides: a Wayland session takes the Wayland back-end whether Qt runs on
    // Wayland or through XWayland; otherwise X11 when Qt runs on xcb). X11 needs Qt on
    // xcb; Wayland needs the portal support built in; what cannot serve gives Null.
    static Backend chooseBackend(const QString &requested, bool waylandSession, const QString &qtPlatform);
    // The back-end for this process's session and Qt platform. Needs a QGuiApplication.
    static Backend backendInUse(const QString &requested);
    // The name the about box shows.
    static QString backendTitle(Backend backend);

    // The back-end chosen by backendInUse. Needs a QGuiApplication.
    static std::unique_ptr<ScreenPlatform> create(const QString &requested = QString());

    // False for the null back-end: no window queries, no work area, no pointer grab.
    virtual bool isSupported() const = 0;
    virtual QString name() const = 0;

    // The primary screen in device pixels; screen coordinates below are relative to its
    // top-left corner.
    virtual QSize screenSize() const = 0;

    // Copies a screen rectangle into an image in the screen's own format. The rectangle
    // is clamped first (clampToScreen); an empty or fully clamped-away rectangle gives a
    // null image. Screen rectangles here treat x + width as the exclusive right edge.
    virtual QImage grabRect(const QRect &rect) = 0;

    // The area that the window manager leaves to ordinary windows (without docks and
    // panels); nullopt when no window manager publishes one.
    virtual std::optional<QRect> workArea() const = 0;

    // The window that has the keyboard focus, as its top-level client window.
    virtual WindowId foregroundWindow() const = 0;
    // Asks the window manager to activate the top-level window that holds `window`; false
    // when there is nothing to activate (the desktop, a window that is gone). The window
    // manager may still refuse it later (a window that takes no focus).
    virtual bool setForegroundWindow(WindowId window) = 0;
    // The window's title, empty when it has none or is gone.
    virtual QString windowTitle(WindowId window) const = 0;
    // The whole window with the frame that the window manager draws around it, in screen
    // coordinates; an empty rectangle when the window is gone. For the desktop (the root
    // window, under no other window) both are the primary screen.
    virtual QRect windowFrameRect(WindowId window) const = 0;
    // The client area in screen coordinates; empty when the window is gone.
    virtual QRect windowClientRect(WindowId window) const = 0;
    // The deepest window under a screen point.
    virtual WindowId windowFromPoint(const QPoint &screenPos) const = 0;
    // The window under a screen point followed up to its top-level client window; the root
    // window where no window is.
    virtual WindowId topWindowFromPoint(const QPoint &screenPos) const = 0;
    // The pointer position in screen coordinates.
    virtual QPoint cursorPos() const = 0;

    // What the pointer looks like while it is grabbed: the shape of the window below it,
    // or a crosshair that says a window is to be picked.
    enum class GrabCursor { Unchanged, Crosshair };

    // Grabs the pointer so that mouse presses anywhere on the screen reach `receiver` as
    // ordinary QMouseEvents (globalPosition() is the screen point). The receiver must be
    // shown; any grab held before is released first. The grab holds until releasePointer
    // (the caller releases it once the press it waited for has arrived) or until the
    // receiver is hidden, which ends it in the X server.
    virtual bool grabPointer(QWindow *receiver, GrabCursor cursor = GrabCursor::Unchanged) = 0;
    virtual void releasePointer() = 0;
    // Whether this object holds a grab it has not released itself.
    virtual bool pointerGrabbed() const = 0;

    // Puts a shown top-level window on or off the window manager's always-on-top layer
    // (its above state) without unmapping, moving or sizing it. False when no window
    // manager can be asked (the caller then uses the window's own flag).
    virtual bool setKeepAbove(QWindow *window, bool above) = 0;
    // Whether the window manager has the window in its above state.
    virtual bool isKeptAbove(QWindow *window) const = 0;

    // Whether the screen's pixels come only on request and later (a Wayland desktop hands
    // them out through its screenshot portal): the capture asks with requestScreen first,
    // and grabRect then cuts from the picture that came.
    virtual bool screenOnRequest() const { return false; }
    enum class ScreenRequest {
        WholeScreen, // the whole screen, without asking the user
        UserPicks,   // what the user picks with the desktop's own tool (a window, an area)
    };
    // Runs once from the event loop, never inside requestScreen: the picture, or a null
    // picture and a sentence for the user that says why; a null picture without one when
    // the user cancelled the desktop's picker (UserPicks).
    using ScreenReady = std::function<void(const QImage &picture, const QString &failure)>;
    // Asks for the screen; `done` is dropped when `context` is gone first. This default
    // copies the screen through grabRect.
    virtual void requestScreen(ScreenRequest kind, QObject *context, ScreenReady done);
    // Whether the desktop lets the user pick a single window for a capture (UserPicks).
    virtual bool offersUserPick() const { return false; }
    // Whether the desktop places top-level windows itself and ignores their positions (a
    // Wayland compositor): a window meant to cover the screen asks for full screen.
    virtual bool placesWindowsItself() const { return false; }

    // The clamping of a screen rectangle: negative left and top become 0, a right or
    // bottom beyond the screen becomes the screen's edge. The result may be empty (a
    // rectangle that lies wholly off the screen).
    static QRect clampToScreen(const QRect &rect, const QSize &screen);
};
