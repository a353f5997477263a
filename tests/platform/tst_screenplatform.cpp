// The X11 back-end of the screen platform against a real X server (Xvfb + openbox): the
// screen size, the work area beside a panel that reserves a strut, frame and client
// rectangles of a window of known size and colour, clamping, and the armed-click grab.
#include "platform/ScreenPlatform.h"
#include "support/SolidWindow.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <QtTest>

namespace {

const QSize kScreen(1152, 864);

// Counts the pixels of an image region that are not the given colour.
int pixelsOtherThan(const QImage &image, const QRect &region, QRgb color)
{
    int other = 0;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            other += (image.pixel(x, y) & 0xFFFFFF) != (color & 0xFFFFFF);
    return other;
}

} // namespace

class TstScreenPlatform : public QObject
{
    Q_OBJECT
  public:
    TstScreenPlatform(XvfbSession &session, const QString &skipReason)
        : m_session(session), m_skip(skipReason)
    {}

  private slots:
    void initTestCase();
    void clampToScreen_data();
    void clampToScreen();
    void screenSizeIsThePrimaryScreenInPixels();
    void grabbingBeyondTheScreenIsClamped();
    void workAreaLeavesOutAStrutPanel();
    void frameAndClientRectanglesOfAWindow();
    void windowsAreFoundUnderAPointAndByFocus();
    void armedClickReachesTheReceiverFromAnotherWindow();
    void goneWindowsGiveEmptyAnswers();
    void withoutWindowManagerTheFallbacksApply(); // last: it ends openbox

  private:
    // Shows a solid window at a position and waits until the window manager has framed it.
    std::unique_ptr<SolidWindow> showSolid(const QColor &color, const QPoint &pos, const QSize &size,
                                           const QString &title);

    XvfbSession &m_session;
    QString m_skip;
    std::unique_ptr<ScreenPlatform> m_platform;
};

void TstScreenPlatform::initTestCase()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    m_platform = ScreenPlatform::create();
    QCOMPARE(m_platform->name(), QStringLiteral("x11"));
    QVERIFY(m_platform->isSupported());
}

std::unique_ptr<SolidWindow> TstScreenPlatform::showSolid(const QColor &color, const QPoint &pos,
                                                          const QSize &size, const QString &title)
{
    auto window = std::make_unique<SolidWindow>(color, size, title);
    window->move(pos);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    const ScreenPlatform::WindowId id = window->winId();
    // openbox publishes the frame once it manages the window.
    if (!QTest::qWaitFor([&] { return m_platform->windowFrameRect(id) != m_platform->windowClientRect(id); }))
        return nullptr;
    return window;
}

void TstScreenPlatform::clampToScreen_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QRect>("expected");
    const QSize screen(800, 600);
    QTest::newRow("inside") << QRect(10, 20, 30, 40) << QRect(10, 20, 30, 40);
    QTest::newRow("negative origin") << QRect(-10, -20, 50, 60) << QRect(0, 0, 40, 40);
    QTest::newRow("beyond right and bottom") << QRect(700, 500, 300, 300) << QRect(700, 500, 100, 100);
    QTest::newRow("larger than the screen") << QRect(-5, -5, 2000, 2000) << QRect(QPoint(0, 0), screen);
    QTest::newRow("wholly right of the screen") << QRect(900, 10, 50, 50) << QRect();
    QTest::newRow("wholly above the screen") << QRect(10, -100, 50, 50) << QRect();
    QTest::newRow("empty") << QRect(10, 10, 0, 5) << QRect();
    QTest::newRow("near the integer limit") << QRect(INT_MAX - 10, 0, 100, 100) << QRect();
}

void TstScreenPlatform::clampToScreen()
{
    QFETCH(QRect, rect);
    QFETCH(QRect, expected);
    QCOMPARE(ScreenPlatform::clampToScreen(rect, QSize(800, 600)), expected);
}

void TstScreenPlatform::screenSizeIsThePrimaryScreenInPixels()
{
    QCOMPARE(m_platform->screenSize(), kScreen);
    const QImage whole = m_platform->grabRect(QRect(QPoint(0, 0), kScreen));
    QCOMPARE(whole.size(), kScreen);
    QVERIFY(whole.depth() >= 24);
}

void TstScreenPlatform::grabbingBeyondTheScreenIsClamped()
{
    auto window = showSolid(QColor(0, 0, 255), QPoint(60, 80), QSize(120, 90), QStringLiteral("blue"));
    QVERIFY(window);
    const QRect client = m_platform->windowClientRect(window->winId());

    const QImage image = m_platform->grabRect(QRect(-100, -100, 5000, 5000));
    QCOMPARE(image.size(), kScreen);
    // The pixels sit where they are on the screen: the clamped origin is (0, 0).
    QCOMPARE(pixelsOtherThan(image, client, qRgb(0, 0, 255)), 0);

    const QImage corner = m_platform->grabRect(QRect(kScreen.width() - 10, kScreen.height() - 20, 50, 50));
    QCOMPARE(corner.size(), QSize(10, 20));
    QVERIFY(m_platform->grabRect(QRect(kScreen.width() + 5, 0, 10, 10)).isNull());
    QVERIFY(m_platform->grabRect(QRect(10, 10, 0, 0)).isNull());
}

void TstScreenPlatform::workAreaLeavesOutAStrutPanel()
{
    const std::optional<QRect> before = m_platform->workArea();
    QVERIFY(before.has_value());
    QCOMPARE(*before, QRect(QPoint(0, 0), kScreen));

    // A dock along the bottom edge that reserves 40 pixels, as a taskbar does.
    QWidget panel;
    panel.setAttribute(Qt::WA_X11NetWmWindowTypeDock);
    panel.setGeometry(0, kScreen.height() - 40, kScreen.width(), 40);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QString id = QString::number(panel.winId());
    QVERIFY(
        !m_session
             .run(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), id, QStringLiteral("-f"), QStringLiteral("_NET_WM_STRUT_PARTIAL"),
                   QStringLiteral("32c"), QStringLiteral("-set"), QStringLiteral("_NET_WM_STRUT_PARTIAL"),
                   QStringLiteral("0,0,0,40,0,0,0,0,0,0,0,%1").arg(kScreen.width() - 1)})
             .isNull());
    QTRY_COMPARE(m_platform->workArea().value_or(QRect()),
                 QRect(0, 0, kScreen.width(), kScreen.height() - 40));

    panel.hide();
    QTRY_COMPARE(m_platform->workArea().value_or(QRect()), QRect(QPoint(0, 0), kScreen));
}

void TstScreenPlatform::frameAndClientRectanglesOfAWindow()
{
    const QSize size(300, 200);
    auto window = showSolid(QColor(255, 0, 0), QPoint(200, 150), size, QStringLiteral("赤い窓"));
    QVERIFY(window);
    const ScreenPlatform::WindowId id = window->winId();

    const QRect client = m_platform->windowClientRect(id);
    QCOMPARE(client.size(), size);
    QCOMPARE(client.topLeft(), window->mapToGlobal(QPoint(0, 0)));

    const QRect frame = m_platform->windowFrameRect(id);
    QVERIFY2(frame.contains(client) && frame.top() < client.top(),
             qPrintable(QStringLiteral("frame %1,%2 %3x%4")
                            .arg(frame.x())
                            .arg(frame.y())
                            .arg(frame.width())
                            .arg(frame.height())));

    // The client area is the window's colour only; the frame adds a title bar that is not.
    const QImage clientImage = m_platform->grabRect(client);
    QCOMPARE(clientImage.size(), size);
    QCOMPARE(pixelsOtherThan(clientImage, clientImage.rect(), qRgb(255, 0, 0)), 0);

    const QImage frameImage = m_platform->grabRect(frame);
    QCOMPARE(frameImage.size(), frame.size());
    const QRect inside = client.translated(-frame.topLeft());
    QCOMPARE(pixelsOtherThan(frameImage, inside, qRgb(255, 0, 0)), 0);
    const QRect titleBar(0, 0, frame.width(), client.top() - frame.top());
    QCOMPARE(pixelsOtherThan(frameImage, titleBar, qRgb(255, 0, 0)), titleBar.width() * titleBar.height());
}

void TstScreenPlatform::windowsAreFoundUnderAPointAndByFocus()
{
    auto back = showSolid(QColor(0, 128, 0), QPoint(100, 100), QSize(400, 300), QStringLiteral("後ろの窓"));
    QVERIFY(back);
    auto front = showSolid(QColor(255, 255, 0), QPoint(250, 200), QSize(200, 150), QStringLiteral("前の窓"));
    QVERIFY(front);
    QTRY_COMPARE(m_platform->foregroundWindow(), ScreenPlatform::WindowId(front->winId()));
    QCOMPARE(m_platform->windowTitle(front->winId()), QStringLiteral("前の窓"));

    const QRect frontClient = m_platform->windowClientRect(front->winId());
    const QRect backClient = m_platform->windowClientRect(back->winId());
    QCOMPARE(m_platform->windowFromPoint(frontClient.center()), ScreenPlatform::WindowId(front->winId()));
    QCOMPARE(m_platform->topWindowFromPoint(frontClient.center()), ScreenPlatform::WindowId(front->winId()));
    QCOMPARE(m_platform->topWindowFromPoint(backClient.topLeft() + QPoint(5, 5)),
             ScreenPlatform::WindowId(back->winId()));
    // On the title bar the point is in the window manager's frame, not in the client;
    // following it up and back down still names the client.
    const QRect frontFrame = m_platform->windowFrameRect(front->winId());
    const QPoint onTitle(frontClient.center().x(), (frontFrame.top() + frontClient.top()) / 2);
    QVERIFY(m_platform->windowFromPoint(onTitle) != ScreenPlatform::WindowId(front->winId()));
    QCOMPARE(m_platform->topWindowFromPoint(onTitle), ScreenPlatform::WindowId(front->winId()));

    QVERIFY(m_platform->setForegroundWindow(back->winId()));
    QTRY_COMPARE(m_platform->foregroundWindow(), ScreenPlatform::WindowId(back->winId()));
}

void TstScreenPlatform::armedClickReachesTheReceiverFromAnotherWindow()
{
    auto receiver =
        showSolid(QColor(200, 200, 200), QPoint(40, 40), QSize(160, 120), QStringLiteral("受け手"));
    QVERIFY(receiver);
    auto other = showSolid(QColor(0, 200, 200), QPoint(500, 400), QSize(200, 150), QStringLiteral("他の窓"));
    QVERIFY(other);
    const QPoint target = m_platform->windowClientRect(other->winId()).center();

    QVERIFY(m_platform->grabPointer(receiver->windowHandle()));
    QVERIFY(m_platform->pointerGrabbed());
    QVERIFY(!m_session
                 .run(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(target.x()), QString::number(target.y()),
                       QStringLiteral("click"), QStringLiteral("1")})
                 .isNull());
    QTRY_COMPARE(receiver->presses.size(), 1);
    QCOMPARE(receiver->presses.first().toPoint(), target);
    QCOMPARE(m_platform->cursorPos(), target);
    QVERIFY(other->presses.isEmpty());

    // Once released, a click goes to the window under the pointer again.
    m_platform->releasePointer();
    QVERIFY(!m_platform->pointerGrabbed());
    QVERIFY(
        !m_session.run(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")}).isNull());
    QTRY_COMPARE(other->presses.size(), 1);
    QCOMPARE(receiver->presses.size(), 1);
}

void TstScreenPlatform::goneWindowsGiveEmptyAnswers()
{
    ScreenPlatform::WindowId id = 0;
    {
        auto window =
            showSolid(QColor(10, 20, 30), QPoint(300, 300), QSize(100, 100), QStringLiteral("消える窓"));
        QVERIFY(window);
        id = window->winId();
    }
    // The window is destroyed: every query must answer "nothing" instead of crashing.
    QTRY_VERIFY(m_platform->windowClientRect(id).isEmpty());
    QVERIFY(m_platform->windowFrameRect(id).isEmpty());
    QVERIFY(m_platform->windowTitle(id).isEmpty());
    QVERIFY(m_platform->windowClientRect(0).isEmpty());
    QVERIFY(m_platform->grabRect(m_platform->windowClientRect(id)).isNull());
    QVERIFY(!m_platform->grabPointer(nullptr));
}

void TstScreenPlatform::withoutWindowManagerTheFallbacksApply()
{
    auto first = showSolid(QColor(90, 0, 90), QPoint(100, 100), QSize(150, 100), QStringLiteral("一つ目"));
    QVERIFY(first);
    auto second = showSolid(QColor(0, 90, 90), QPoint(400, 100), QSize(150, 100), QStringLiteral("二つ目"));
    QVERIFY(second);
    m_session.stopWindowManager();
    // What a session without a window manager looks like: no work area, no active window.
    for (const char *property : {"_NET_WORKAREA", "_NET_ACTIVE_WINDOW", "_NET_SUPPORTING_WM_CHECK"})
        QVERIFY(!m_session
                     .run(QStringLiteral("xprop"),
                          {QStringLiteral("-root"), QStringLiteral("-remove"), QString::fromLatin1(property)})
                     .isNull());
    QTRY_VERIFY(!m_platform->workArea().has_value());

    // Without frames the whole window is the client area.
    QTRY_COMPARE(m_platform->windowFrameRect(second->winId()), m_platform->windowClientRect(second->winId()));
    QCOMPARE(m_platform->windowClientRect(second->winId()).size(), QSize(150, 100));

    // The foreground window comes from the input focus, and activating a window focuses it.
    QVERIFY(m_platform->setForegroundWindow(first->winId()));
    QTRY_COMPARE(m_platform->foregroundWindow(), ScreenPlatform::WindowId(first->winId()));
    QVERIFY(m_platform->setForegroundWindow(second->winId()));
    QTRY_COMPARE(m_platform->foregroundWindow(), ScreenPlatform::WindowId(second->winId()));
}

ZORVIN_XVFB_MAIN(TstScreenPlatform, kScreen, true)

#include "tst_screenplatform.moc"
