// The X11 tray watcher: the notification area is the owner of the _NET_SYSTEM_TRAY_S<n>
// selection of the screen. XFixes reports every change of that owner (a tray that takes it,
// one that exits or crashes); without XFixes the owner is polled.
#pragma once

#include "platform/TrayWatcher.h"

#include <QAbstractNativeEventFilter>
#include <QTimer>

#include <cstdint>

struct xcb_connection_t;

class X11TrayWatcher : public TrayWatcher, public QAbstractNativeEventFilter
{
    Q_OBJECT
  public:
    // Null unless the application runs on the xcb platform.
    static std::unique_ptr<TrayWatcher> tryCreate();
    ~X11TrayWatcher() override;

    bool isTrayPresent() const override { return m_owner != 0; }
    QString name() const override { return QStringLiteral("x11"); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // How often the owner is asked when XFixes is missing.
    static constexpr int kPollMs = 2000;

  private:
    X11TrayWatcher(xcb_connection_t *connection, uint32_t root, uint32_t selection);
    uint32_t queryOwner() const;
    void ownerChanged(uint32_t owner);

    xcb_connection_t *m_connection;
    uint32_t m_root;
    uint32_t m_selection;
    uint32_t m_owner = 0;
    // The code of XFixes' SelectionNotify event on this connection; 0 without XFixes.
    uint8_t m_selectionNotify = 0;
    QTimer m_poll;
};
