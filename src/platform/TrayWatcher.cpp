#include "platform/TrayWatcher.h"

#include "platform/x11/X11TrayWatcher.h"

#include <QSystemTrayIcon>

std::unique_ptr<TrayWatcher> TrayWatcher::create()
{
    if (auto x11 = X11TrayWatcher::tryCreate())
        return x11;
    return std::make_unique<QtTrayWatcher>();
}

QtTrayWatcher::QtTrayWatcher() : m_present(QSystemTrayIcon::isSystemTrayAvailable()) {}
