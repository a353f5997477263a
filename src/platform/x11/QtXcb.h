// Qt's own X connection and the root window of its first screen: the X11 back-ends work on
// that connection, so what they ask for arrives with Qt's events.
#pragma once

#include <QGuiApplication>

#include <xcb/xcb.h>

struct QtXcb
{
    xcb_connection_t *connection = nullptr;
    uint32_t root = 0;
    // False unless the application runs on the xcb platform.
    bool find()
    {
        auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection())
            return false;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x11->connection())).data;
        if (!screen)
            return false;
        connection = x11->connection();
        root = screen->root;
        return true;
    }
};
