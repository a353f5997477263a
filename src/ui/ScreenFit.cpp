#include "ui/ScreenFit.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// Before the window manager has framed a window its frame is unknown; a title bar and thin
// borders are the usual size.
const QMargins kAssumedFrame(4, 30, 4, 4);

class ScreenKeeper : public QObject
{
  public:
    static constexpr char kName[] = "zorvinScreenKeeper";
    explicit ScreenKeeper(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(QLatin1String(kName));
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window)
            return false;
        if (event->type() == QEvent::Show) {
            fit(!m_window->testAttribute(Qt::WA_Moved));
            m_framePending = true;
        } else if (event->type() == QEvent::Move && m_framePending && m_window->isVisible() &&
                   m_window->windowHandle() && !m_window->windowHandle()->frameMargins().isNull()) {
            m_framePending = false;
            fit(false);
        }
        return false;
    }

  private:
    void fit(bool centre)
    {
        if (m_window->isMaximized() || m_window->isFullScreen())
            return;
        QScreen *screen = centre ? QGuiApplication::screenAt(QCursor::pos()) : nullptr;
        if (!screen)
            screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        QMargins frame = m_window->windowHandle() ? m_window->windowHandle()->frameMargins() : QMargins();
        if (frame.isNull())
            frame = kAssumedFrame;
        const QRect now = m_window->geometry();
        const QRect fitted = FitOnScreen(now, frame, screen->availableGeometry(), centre);
        if (fitted.size() != now.size())
            m_window->resize(fitted.size());
        if (fitted.topLeft() != now.topLeft())
            m_window->move(fitted.topLeft() - QPoint(frame.left(), frame.top()));
    }

    QWidget *m_window;
    bool m_framePending = false;
};

} // namespace

QRect FitOnScreen(const QRect &client, const QMargins &frame, const QRect &available, bool centre)
{
    const QSize room = available.size().shrunkBy(frame);
    const QSize size = client.size().boundedTo(room);
    QRect outer(client.topLeft() - QPoint(frame.left(), frame.top()), size.grownBy(frame));
    if (centre)
        outer.moveCenter(available.center());
    outer.moveLeft(std::clamp(outer.left(), available.left(),
                              std::max(available.left(), available.right() - outer.width() + 1)));
    outer.moveTop(std::clamp(outer.top(), available.top(),
                             std::max(available.top(), available.bottom() - outer.height() + 1)));
    return QRect(outer.topLeft() + QPoint(frame.left(), frame.top()), size);
}

void KeepOnScreen(QWidget *window)
{
    // Found by name: the keeper has no meta-object of its own.
    if (window &&
        !window->findChild<QObject *>(QLatin1String(ScreenKeeper::kName), Qt::FindDirectChildrenOnly))
        new ScreenKeeper(window);
}
