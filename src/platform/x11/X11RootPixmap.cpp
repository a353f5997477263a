#include "platform/x11/X11RootPixmap.h"

#include <QImage>
#include <QPainter>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace X11RootPixmap {

namespace {

struct Disconnect
{
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : XCB_ATOM_NONE;
}

// The pixmap a previous setter left behind, if any.
xcb_pixmap_t publishedPixmap(xcb_connection_t *c, xcb_window_t root, xcb_atom_t property)
{
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, property, XCB_ATOM_PIXMAP, 0, 1), nullptr),
        &std::free);
    if (!reply || reply->type != XCB_ATOM_PIXMAP || xcb_get_property_value_length(reply.get()) < 4)
        return XCB_NONE;
    return *static_cast<xcb_pixmap_t *>(xcb_get_property_value(reply.get()));
}

} // namespace

bool Paint(const QString &pictureFile, bool tiled, QString *error)
{
    const QImage picture(pictureFile);
    if (picture.isNull()) {
        *error = QStringLiteral("cannot read ") + pictureFile;
        return false;
    }
    // A connection of its own: its pixmap must outlive it (RetainPermanent), which must not
    // touch the application's connection.
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(nullptr, &screenNumber));
    xcb_connection_t *c = connection.get();
    if (xcb_connection_has_error(c)) {
        *error = QStringLiteral("no X display");
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    const xcb_screen_t *screen = it.data;
    if (!screen || screen->root_depth != 24) {
        *error = QStringLiteral("the root window is not 24-bit");
        return false;
    }
    const int width = screen->width_in_pixels;
    const int height = screen->height_in_pixels;

    QImage wall(width, height, QImage::Format_RGB32);
    wall.fill(Qt::black);
    {
        QPainter painter(&wall);
        if (tiled) {
            for (int y = 0; y < height; y += picture.height()) {
                for (int x = 0; x < width; x += picture.width())
                    painter.drawImage(QPoint(x, y), picture);
            }
        } else
            painter.drawImage(QPoint((width - picture.width()) / 2, (height - picture.height()) / 2),
                              picture);
    }

    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, uint16_t(width), uint16_t(height));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    // Strips that stay below the server's request size.
    const int maxBytes = int(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int rowsPerStrip = std::max(1, std::min(height, maxBytes / int(wall.bytesPerLine())));
    for (int y = 0; y < height; y += rowsPerStrip) {
        const int rows = std::min(rowsPerStrip, height - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(width), uint16_t(rows), 0,
                      int16_t(y), 0, 24, uint32_t(rows * wall.bytesPerLine()), wall.constScanLine(y));
    }
    xcb_free_gc(c, gc);

    const xcb_atom_t rootPmap = atom(c, "_XROOTPMAP_ID");
    const xcb_atom_t esetroot = atom(c, "ESETROOT_PMAP_ID");
    // The previous setter's pixmap was kept for us to free.
    const xcb_pixmap_t old = publishedPixmap(c, screen->root, esetroot);
    if (old != XCB_NONE && old == publishedPixmap(c, screen->root, rootPmap))
        xcb_kill_client(c, old);

    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    for (xcb_atom_t property : {rootPmap, esetroot}) {
        if (property != XCB_ATOM_NONE)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, screen->root, property, XCB_ATOM_PIXMAP, 32, 1,
                                &pixmap);
    }
    xcb_set_close_down_mode(c, XCB_CLOSE_DOWN_RETAIN_PERMANENT);
    // A round trip, so that every request above has reached the server before we leave.
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(c);
    std::free(xcb_get_input_focus_reply(c, cookie, nullptr));
    if (xcb_connection_has_error(c)) {
        *error = QStringLiteral("the X connection failed");
        return false;
    }
    return true;
}

} // namespace X11RootPixmap
