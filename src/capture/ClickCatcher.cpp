#include "capture/ClickCatcher.h"

#include "platform/ScreenPlatform.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

ClickCatcher::ClickCatcher(ScreenPlatform &platform) : m_platform(platform) {}

ClickCatcher::~ClickCatcher()
{
    if (m_keysTaken)
        qApp->removeEventFilter(this);
}

void ClickCatcher::show()
{
    if (!m_window) {
        m_window = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint |
                                                          Qt::X11BypassWindowManagerHint);
        m_window->setAttribute(Qt::WA_ShowWithoutActivating);
        m_window->setGeometry(-10, -10, 1, 1);
        m_window->installEventFilter(this);
    }
    m_window->show();
}

bool ClickCatcher::grabPointer()
{
    QWindow *handle = m_window ? m_window->windowHandle() : nullptr;
    return handle && m_platform.grabPointer(handle, ScreenPlatform::GrabCursor::Crosshair);
}

void ClickCatcher::takeKeys()
{
    m_keyboardGrabbed = m_window->windowHandle()->setKeyboardGrabEnabled(true);
    qApp->installEventFilter(this);
    m_keysTaken = true;
}

void ClickCatcher::release()
{
    if (m_platform.pointerGrabbed())
        m_platform.releasePointer();
    if (m_keysTaken)
        qApp->removeEventFilter(this);
    m_keysTaken = false;
    if (m_keyboardGrabbed && m_window && m_window->windowHandle())
        m_window->windowHandle()->setKeyboardGrabEnabled(false);
    m_keyboardGrabbed = false;
    if (m_window)
        m_window->hide();
}

bool ClickCatcher::eventFilter(QObject *watched, QEvent *event)
{
    // A click soon after the last one at the same spot (the click that armed this capture, or
    // the one of the capture before) comes as a double click.
    const bool press =
        event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    if (m_window && watched == m_window.get() && press) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        emit pressed(mouse->button(), mouse->globalPosition().toPoint());
        return true;
    }
    if (m_keysTaken) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Taken here, so that no shortcut runs a command under the grab.
            event->accept();
            return true;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
                emit escapePressed();
            return true;
        case QEvent::KeyRelease:
            return true;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
