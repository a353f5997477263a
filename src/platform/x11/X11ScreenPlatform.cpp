#include "platform/x11/X11ScreenPlatform.h"

#include "platform/x11/QtXcb.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The crosshair of the X cursor font.
constexpr uint16_t kCrosshairGlyph = 34;

// Window trees are shallow; a deeper walk means a loop or a hostile client.
constexpr int kMaxTreeDepth = 64;

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    Reply reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), ErrorSink()));
    return reply ? reply->atom : XCB_ATOM_NONE;
}

// The property's value as raw bytes, or empty when the window or the property is missing.
QByteArray readProperty(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                        xcb_atom_t *actualType = nullptr, uint8_t *format = nullptr)
{
    if (window == XCB_WINDOW_NONE || property == XCB_ATOM_NONE)
        return {};
    Reply reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 4096), ErrorSink()));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    if (actualType)
        *actualType = reply->type;
    if (format)
        *format = reply->format;
    const int length = xcb_get_property_value_length(reply.p);
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.p)), length);
}

std::vector<uint32_t> readCardinals(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
                                    xcb_atom_t type)
{
    uint8_t format = 0;
    const QByteArray bytes = readProperty(c, window, property, type, nullptr, &format);
    std::vector<uint32_t> values;
    if (format != 32)
        return values;
    values.resize(size_t(bytes.size()) / 4);
    std::memcpy(values.data(), bytes.constData(), values.size() * 4);
    return values;
}

const xcb_visualtype_t *findVisual(const xcb_screen_t *screen, xcb_visualid_t id)
{
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem; xcb_depth_next(&depth)) {
        for (auto v = xcb_depth_visuals_iterator(depth.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == id)
                return v.data;
        }
    }
    return nullptr;
}

} // namespace

std::unique_ptr<ScreenPlatform> X11ScreenPlatform::tryCreate()
{
    QtXcb qt;
    if (!qt.find())
        return nullptr;
    return std::unique_ptr<ScreenPlatform>(new X11ScreenPlatform(qt.connection, qt.root));
}

X11ScreenPlatform::X11ScreenPlatform(xcb_connection_t *connection, uint32_t root)
    : m_connection(connection), m_root(root)
{
    static const char *const names[AtomCount] = {"_NET_WORKAREA",      "_NET_CURRENT_DESKTOP",
                                                 "_NET_ACTIVE_WINDOW", "_NET_WM_NAME",
                                                 "UTF8_STRING",        "WM_STATE",
                                                 "_NET_FRAME_EXTENTS", "_NET_SUPPORTING_WM_CHECK",
                                                 "_NET_WM_STATE",      "_NET_WM_STATE_ABOVE"};
    for (int i = 0; i < AtomCount; ++i)
        m_atoms[i] = internAtom(m_connection, names[i]);
}

QRect X11ScreenPlatform::primaryNative() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const qreal dpr = screen->devicePixelRatio();
    const QRect g = screen->geometry();
    return QRect((QPointF(g.topLeft()) * dpr).toPoint(), (QSizeF(g.size()) * dpr).toSize());
}

QSize X11ScreenPlatform::screenSize() const
{
    return primaryNative().size();
}

QImage X11ScreenPlatform::grabRect(const QRect &rect)
{
    const QRect screen = primaryNative();
    const QRect r = clampToScreen(rect, screen.size());
    if (r.isEmpty())
        return {};

    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const xcb_screen_t *xs = xcb_setup_roots_iterator(setup).data;
    Reply reply(xcb_get_image_reply(m_connection,
                                    xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root,
                                                  int16_t(r.x() + screen.x()), int16_t(r.y() + screen.y()),
                                                  uint16_t(r.width()), uint16_t(r.height()), ~0u),
                                    ErrorSink()));
    if (!reply)
        return {};

    // The common true-colour layouts are taken over without a copy; anything else goes
    // through Qt's converting grab.
    int bitsPerPixel = 0;
    int scanlinePad = 32;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == reply->depth) {
            bitsPerPixel = it.data->bits_per_pixel;
            scanlinePad = std::max<int>(it.data->scanline_pad, 8);
        }
    }
    const xcb_visualtype_t *visual = xs ? findVisual(xs, reply->visual) : nullptr;
    QImage::Format format = QImage::Format_Invalid;
    if (setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST && visual) {
        if (bitsPerPixel == 32 && (reply->depth == 24 || reply->depth == 32) &&
            visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF)
            format = QImage::Format_RGB32;
        else if (bitsPerPixel == 16 && reply->depth == 16 && visual->red_mask == 0xF800 &&
                 visual->green_mask == 0x7E0 && visual->blue_mask == 0x1F)
            format = QImage::Format_RGB16;
    }
    const int bytesPerLine =
        int((qint64(r.width()) * bitsPerPixel + scanlinePad - 1) / scanlinePad * scanlinePad / 8);
    const int length = xcb_get_image_data_length(reply.p);
    if (format == QImage::Format_Invalid || qint64(bytesPerLine) * r.height() > length) {
        QScreen *qs = QGuiApplication::primaryScreen();
        return qs ? qs->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage() : QImage();
    }
    uint8_t *data = xcb_get_image_data(reply.p);
    xcb_get_image_reply_t *owned = reply.p;
    reply.p = nullptr;
    return QImage(
        data, r.width(), r.height(), bytesPerLine, format, [](void *p) { std::free(p); }, owned);
}

std::optional<QRect> X11ScreenPlatform::workArea() const
{
    const std::vector<uint32_t> area =
        readCardinals(m_connection, m_root, m_atoms[NetWorkarea], XCB_ATOM_CARDINAL);
    if (area.size() < 4)
        return std::nullopt;
    const std::vector<uint32_t> current =
        readCardinals(m_connection, m_root, m_atoms[NetCurrentDesktop], XCB_ATOM_CARDINAL);
    size_t desktop = current.empty() ? 0 : current[0];
    if ((desktop + 1) * 4 > area.size())
        desktop = 0;
    const uint32_t *a = &area[desktop * 4];
    const QRect screen = primaryNative();
    const QRect work = QRect(int(a[0]), int(a[1]), int(a[2]), int(a[3])).intersected(screen);
    if (work.isEmpty())
        return std::nullopt;
    return work.translated(-screen.topLeft());
}

bool X11ScreenPlatform::hasWmState(uint32_t window) const
{
    Reply reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, m_atoms[WmState], XCB_ATOM_ANY, 0, 0),
        ErrorSink()));
    return reply && reply->type != XCB_ATOM_NONE;
}

uint32_t X11ScreenPlatform::parentOf(uint32_t window) const
{
    Reply reply(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), ErrorSink()));
    return reply ? reply->parent : XCB_WINDOW_NONE;
}

uint32_t X11ScreenPlatform::findClientBelow(uint32_t window, int depth) const
{
    if (depth > kMaxTreeDepth)
        return XCB_WINDOW_NONE;
    Reply reply(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), ErrorSink()));
    if (!reply)
        return XCB_WINDOW_NONE;
    const xcb_window_t *children = xcb_query_tree_children(reply.p);
    const int count = xcb_query_tree_children_length(reply.p);
    // Topmost first: the stacking order lists the bottom child first.
    for (int i = count - 1; i >= 0; --i) {
        if (hasWmState(children[i]))
            return children[i];
    }
    for (int i = count - 1; i >= 0; --i) {
        if (uint32_t found = findClientBelow(children[i], depth + 1))
            return found;
    }
    return XCB_WINDOW_NONE;
}

// The window that an application created as its top-level: the first ancestor with
// WM_STATE, or inside a window manager's frame the client below it.
uint32_t X11ScreenPlatform::clientWindowOf(uint32_t window) const
{
    if (window == XCB_WINDOW_NONE || window == m_root)
        return window;
    uint32_t w = window;
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        if (hasWmState(w))
            return w;
        const uint32_t parent = parentOf(w);
        if (parent == XCB_WINDOW_NONE)
            return XCB_WINDOW_NONE; // the window is gone
        if (parent == m_root) {
            const uint32_t client = findClientBelow(w, 0);
            return client ? client : w;
        }
        w = parent;
    }
    return window;
}

QRect X11ScreenPlatform::rootGeometry(uint32_t window, bool withBorder) const
{
    Reply geometry(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), ErrorSink()));
    if (!geometry)
        return {};
    Reply origin(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), ErrorSink()));
    if (!origin)
        return {};
    QRect r(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    if (withBorder) {
        const int b = geometry->border_width;
        r.adjust(-b, -b, b, b);
    }
    return r.translated(-primaryNative().topLeft());
}

ScreenPlatform::WindowId X11ScreenPlatform::foregroundWindow() const
{
    const std::vector<uint32_t> active =
        readCardinals(m_connection, m_root, m_atoms[NetActiveWindow], XCB_ATOM_WINDOW);
    if (!active.empty() && active[0] != XCB_WINDOW_NONE)
        return active[0];
    Reply focus(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), ErrorSink()));
    if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == m_root)
        return 0;
    return clientWindowOf(focus->focus);
}

bool X11ScreenPlatform::setForegroundWindow(WindowId window)
{
    const uint32_t client = clientWindowOf(uint32_t(window));
    if (client == XCB_WINDOW_NONE || client == m_root)
        return false;
    if (readCardinals(m_connection, m_root, m_atoms[NetSupportingWmCheck], XCB_ATOM_WINDOW).empty()) {
        // No window manager: raise and focus it ourselves.
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(m_connection, client, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_PARENT, client, XCB_CURRENT_TIME);
    } else {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = client;
        event.type = m_atoms[NetActiveWindow];
        event.data.data32[0] = 2; // source: a pager, so the window manager does not refuse it
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char *>(&event));
    }
    xcb_flush(m_connection);
    return true;
}

QString X11ScreenPlatform::windowTitle(WindowId window) const
{
    if (window == 0)
        return {};
    const QByteArray utf8 =
        readProperty(m_connection, uint32_t(window), m_atoms[NetWmName], m_atoms[Utf8String]);
    if (!utf8.isEmpty())
        return QString::fromUtf8(utf8);
    xcb_atom_t type = XCB_ATOM_NONE;
    const QByteArray name =
        readProperty(m_connection, uint32_t(window), XCB_ATOM_WM_NAME, XCB_ATOM_ANY, &type);
    if (type == m_atoms[Utf8String])
        return QString::fromUtf8(name);
    if (type == XCB_ATOM_STRING)
        return QString::fromLatin1(name);
    return QString::fromLocal8Bit(name);
}

QRect X11ScreenPlatform::windowFrameRect(WindowId window) const
{
    const uint32_t w = uint32_t(window);
    if (w == XCB_WINDOW_NONE)
        return {};
    if (w == m_root)
        return QRect(QPoint(0, 0), screenSize());
    // The extents describe only the visible frame; a compositing manager's frame window
    // also holds its invisible shadows.
    const std::vector<uint32_t> extents =
        readCardinals(m_connection, w, m_atoms[NetFrameExtents], XCB_ATOM_CARDINAL);
    if (extents.size() >= 4) {
        const QRect client = rootGeometry(w, false);
        if (client.isNull())
            return {};
        return client.adjusted(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
    }
    uint32_t top = w;
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        const uint32_t parent = parentOf(top);
        if (parent == XCB_WINDOW_NONE)
            return {};
        if (parent == m_root)
            break;
        top = parent;
    }
    return rootGeometry(top, true);
}

QRect X11ScreenPlatform::windowClientRect(WindowId window) const
{
    if (window == 0)
        return {};
    if (window == m_root)
        return QRect(QPoint(0, 0), screenSize());
    return rootGeometry(uint32_t(window), false);
}

ScreenPlatform::WindowId X11ScreenPlatform::windowFromPoint(const QPoint &screenPos) const
{
    const QPoint p = screenPos + primaryNative().topLeft();
    uint32_t current = m_root;
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        Reply reply(xcb_translate_coordinates_reply(
            m_connection,
            xcb_translate_coordinates(m_connection, m_root, current, int16_t(p.x()), int16_t(p.y())),
            ErrorSink()));
        if (!reply || reply->child == XCB_WINDOW_NONE)
            break;
        current = reply->child;
    }
    return current;
}

ScreenPlatform::WindowId X11ScreenPlatform::topWindowFromPoint(const QPoint &screenPos) const
{
    return clientWindowOf(uint32_t(windowFromPoint(screenPos)));
}

QPoint X11ScreenPlatform::cursorPos() const
{
    Reply reply(xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), ErrorSink()));
    if (!reply)
        return {};
    return QPoint(reply->root_x, reply->root_y) - primaryNative().topLeft();
}

bool X11ScreenPlatform::grabPointer(QWindow *receiver, GrabCursor cursor)
{
    releasePointer();
    if (!receiver || !receiver->isExposed())
        return false;
    const xcb_cursor_t shape =
        cursor == GrabCursor::Crosshair ? createGlyphCursor(kCrosshairGlyph) : XCB_CURSOR_NONE;
    // owner_events off: presses on our own windows are reported to the receiver too, as
    // they are for every other client's windows.
    Reply reply(xcb_grab_pointer_reply(
        m_connection,
        xcb_grab_pointer(m_connection, 0, xcb_window_t(receiver->winId()),
                         XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE, XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC, XCB_WINDOW_NONE, shape, XCB_CURRENT_TIME),
        ErrorSink()));
    // The grab holds its own reference to the cursor.
    if (shape != XCB_CURSOR_NONE)
        xcb_free_cursor(m_connection, shape);
    m_grabbed = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    return m_grabbed;
}

uint32_t X11ScreenPlatform::createGlyphCursor(uint16_t glyph) const
{
    // Every X server has the "cursor" font; its glyph n + 1 is the mask of glyph n.
    const xcb_font_t font = xcb_generate_id(m_connection);
    const char name[] = "cursor";
    if (xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_open_font_checked(m_connection, font, sizeof name - 1, name))) {
        std::free(error);
        return XCB_CURSOR_NONE;
    }
    const xcb_cursor_t cursor = xcb_generate_id(m_connection);
    xcb_create_glyph_cursor(m_connection, cursor, font, font, glyph, uint16_t(glyph + 1), 0, 0, 0, 0xFFFF,
                            0xFFFF, 0xFFFF);
    xcb_close_font(m_connection, font);
    return cursor;
}

void X11ScreenPlatform::releasePointer()
{
    if (!m_grabbed)
        return;
    xcb_ungrab_pointer(m_connection, XCB_CURRENT_TIME);
    xcb_flush(m_connection);
    m_grabbed = false;
}

bool X11ScreenPlatform::setKeepAbove(QWindow *window, bool above)
{
    if (!window || !window->isVisible() || m_atoms[NetWmState] == XCB_ATOM_NONE)
        return false;
    // A mapped window's state belongs to the window manager: it is asked (EWMH), never
    // written directly.
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window->winId());
    event.type = m_atoms[NetWmState];
    event.data.data32[0] = above ? 1 : 0; // _NET_WM_STATE_ADD / _REMOVE
    event.data.data32[1] = m_atoms[NetWmStateAbove];
    event.data.data32[2] = 0;
    event.data.data32[3] = 1; // from a normal application
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(m_connection);
    return true;
}

bool X11ScreenPlatform::isKeptAbove(QWindow *window) const
{
    if (!window)
        return false;
    const QByteArray states =
        readProperty(m_connection, xcb_window_t(window->winId()), m_atoms[NetWmState], XCB_ATOM_ATOM);
    const auto *atoms = reinterpret_cast<const xcb_atom_t *>(states.constData());
    return std::find(atoms, atoms + states.size() / sizeof(xcb_atom_t), m_atoms[NetWmStateAbove]) !=
           atoms + states.size() / sizeof(xcb_atom_t);
}
