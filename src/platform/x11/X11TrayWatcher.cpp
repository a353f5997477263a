#include "platform/x11/X11TrayWatcher.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

namespace {

// The screen that DISPLAY names (":0.1" is screen 1), as Qt's own connection chose it.
int displayScreen()
{
    int screen = 0;
    char *host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
        return 0;
    std::free(host);
    return screen;
}

} // namespace

std::unique_ptr<TrayWatcher> X11TrayWatcher::tryCreate()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    xcb_connection_t *c = x11->connection();
    const int screenNumber = displayScreen();
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && roots.rem > 1; ++i)
        xcb_screen_next(&roots);
    if (!roots.data)
        return nullptr;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber);
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return nullptr;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    return std::unique_ptr<TrayWatcher>(new X11TrayWatcher(c, roots.data->root, selection));
}

X11TrayWatcher::X11TrayWatcher(xcb_connection_t *connection, uint32_t root, uint32_t selection)
    : m_connection(connection), m_root(root), m_selection(selection)
{
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(m_connection, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        // Qt has negotiated XFixes on this connection already; asking again is harmless
        // and makes the requests below valid on their own.
        std::free(xcb_xfixes_query_version_reply(
            m_connection,
            xcb_xfixes_query_version(m_connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        m_selectionNotify = uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
        xcb_xfixes_select_selection_input(m_connection, m_root, m_selection,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        QCoreApplication::instance()->installNativeEventFilter(this);
    } else {
        m_poll.setInterval(kPollMs);
        connect(&m_poll, &QTimer::timeout, this, [this] { ownerChanged(queryOwner()); });
        m_poll.start();
    }
    // Asked after the selection is watched, so no change falls between the two.
    m_owner = queryOwner();
}

X11TrayWatcher::~X11TrayWatcher()
{
    // The selection stays watched: the request is per connection, and another watcher on
    // Qt's connection may still need it. Qt drops the few events nobody filters.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

uint32_t X11TrayWatcher::queryOwner() const
{
    xcb_get_selection_owner_reply_t *reply = xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, m_selection), nullptr);
    const uint32_t owner = reply ? reply->owner : XCB_WINDOW_NONE;
    std::free(reply);
    return owner;
}

bool X11TrayWatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != m_selectionNotify)
        return false;
    const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
    if (notify->selection == m_selection && notify->window == m_root)
        ownerChanged(notify->owner);
    // Qt watches selections of its own (the clipboard, the compositor) through the same event.
    return false;
}

void X11TrayWatcher::ownerChanged(uint32_t owner)
{
    // A tray replaced by another at once (a restarting panel) changes the owner without a
    // moment of "none": that too is a change, the icon has to dock in the new one.
    if (owner == m_owner)
        return;
    m_owner = owner;
    emit trayChanged(isTrayPresent());
}
