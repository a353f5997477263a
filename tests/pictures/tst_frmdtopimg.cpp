// Pinned pictures under a real X server (Xvfb + openbox): the zoom steps and their sizes
// with the pop-up's limits and tick, the always-on-top layer as the window manager sees it
// (xprop) through switching and an area selection, dragging by the picture, printing, and
// peeling off.
#include "capture/CaptureEngine.h"
#include "pictures/FrmDTopImg.h"
#include "capture/FrmMain.h"
#include "capture/FrmSelect.h"
#include "pictures/ModWall.h"
#include "ui/PrintTarget.h"
#include "support/CaptureSetup.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QtTest>

namespace {

QImage testPicture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(40, 90, 200));
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width() / 2, size.height() / 2, QColor(250, 200, 0));
    return image;
}

} // namespace

class TstFrmDTopImg : public QObject
{
    Q_OBJECT
  public:
    TstFrmDTopImg(XvfbSession &session, const QString &skipReason) : m_session(session), m_skip(skipReason) {}

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void zoomStepsGiveTheirSizesWithinTheirLimits();
    void topPicturesStayAboveWhenAnotherIsSwitchedOffAndAfterTheOverlay();
    void dragByThePicturePrintAndPeelOff();

  private:
    // Pins `picture` through the capture window's command; the new window once it is shown.
    FrmDTopImg *pin(const QImage &picture);
    bool above(QWidget *window) const;
    void trigger(FrmDTopImg &window, const QString &item);

    XvfbSession &m_session;
    QString m_skip;
    std::unique_ptr<CaptureSetup> m_setup;
};

void TstFrmDTopImg::initTestCase()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    QVERIFY(QGuiApplication::platformName() == QLatin1String("xcb"));
}

void TstFrmDTopImg::init()
{
    m_setup = std::make_unique<CaptureSetup>();
    QVERIFY(m_setup->dir.isValid());
}

void TstFrmDTopImg::cleanup()
{
    m_setup.reset();
}

FrmDTopImg *TstFrmDTopImg::pin(const QImage &picture)
{
    FrmMain *capture = loadCaptureWindow(*m_setup->commands);
    capture->setPicture(picture, QString());
    capture->setHasPicture(true);
    capture->SetToolbar();
    const int before = m_setup->windows->windows(FrmDTopImg::kKind).size();
    if (!m_setup->commands->run(QStringLiteral("mnuDTopImg")))
        return nullptr;
    const QList<QWidget *> pinned = m_setup->windows->windows(FrmDTopImg::kKind);
    if (pinned.size() != before + 1 || !QTest::qWaitForWindowExposed(pinned.last()))
        return nullptr;
    return qobject_cast<FrmDTopImg *>(pinned.last());
}

bool TstFrmDTopImg::above(QWidget *window) const
{
    window->winId();
    return m_session
        .run(QStringLiteral("xprop"),
             {QStringLiteral("-id"), QString::number(window->winId()), QStringLiteral("_NET_WM_STATE")})
        .contains(QLatin1String("_NET_WM_STATE_ABOVE"));
}

void TstFrmDTopImg::trigger(FrmDTopImg &window, const QString &item)
{
    window.preparePopup();
    QAction *action = window.menuAction(item);
    QVERIFY2(action, qPrintable(item));
    QVERIFY2(action->isEnabled(), qPrintable(item));
    action->trigger();
}

void TstFrmDTopImg::zoomStepsGiveTheirSizesWithinTheirLimits()
{
    FrmDTopImg *w = pin(testPicture(QSize(200, 100)));
    QVERIFY(w);
    // Real size at the start, with a one-pixel rim.
    QCOMPARE(w->zoomStep(), 4);
    QCOMPARE(w->size(), QSize(202, 102));

    // A real right click opens the pop-up with the state of the moment.
    const QPoint centre = w->mapToGlobal(w->rect().center());
    QVERIFY(!m_session
                 .run(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
                       QStringLiteral("click"), QStringLiteral("3")})
                 .isNull());
    QTRY_VERIFY(w->popupMenu()->isVisible());
    QVERIFY(w->menuAction(QStringLiteral("mnuPZoom4"))->isChecked());
    QCOMPARE(w->menuAction(QStringLiteral("mnuPZoom4"))->text(), QStringLiteral("x1.00"));
    QVERIFY(w->menuAction(QStringLiteral("mnuPZoomIn"))->isEnabled());
    QVERIFY(!w->menuAction(QStringLiteral("mnuPPaint"))->isEnabled()); // no paint program set
    w->popupMenu()->hide();

    trigger(*w, QStringLiteral("mnuPZoom1"));
    QCOMPARE(w->size(), QSize(52, 27));
    w->preparePopup();
    QVERIFY(!w->menuAction(QStringLiteral("mnuPZoomOut"))->isEnabled());
    QVERIFY(w->menuAction(QStringLiteral("mnuPZoom1"))->isChecked());
    QVERIFY(!w->menuAction(QStringLiteral("mnuPZoom4"))->isChecked());

    trigger(*w, QStringLiteral("mnuPZoom9"));
    QCOMPARE(w->size(), QSize(502, 252));
    trigger(*w, QStringLiteral("mnuPZoom11"));
    QCOMPARE(w->size(), QSize(802, 402));
    for (int step = 12; step <= 15; ++step)
        trigger(*w, QStringLiteral("mnuPZoomIn"));
    QCOMPARE(w->zoomStep(), 15);
    QCOMPARE(w->size(), QSize(1602, 802));
    w->preparePopup();
    QVERIFY(!w->menuAction(QStringLiteral("mnuPZoomIn"))->isEnabled());
    // The window manager has the zoomed size too.
    QTRY_COMPARE(w->windowHandle()->geometry().size(), QSize(1602, 802));

    trigger(*w, QStringLiteral("mnuPZoomOut"));
    QCOMPARE(w->zoomStep(), 14);
    trigger(*w, QStringLiteral("mnuPRealSize"));
    QCOMPARE(w->size(), QSize(202, 102));
}

void TstFrmDTopImg::topPicturesStayAboveWhenAnotherIsSwitchedOffAndAfterTheOverlay()
{
    FrmDTopImg *a = pin(testPicture(QSize(120, 80)));
    FrmDTopImg *b = pin(testPicture(QSize(90, 60)));
    FrmDTopImg *c = pin(testPicture(QSize(60, 40)));
    QVERIFY(a && b && c);
    trigger(*a, QStringLiteral("mnuPTopMost"));
    trigger(*b, QStringLiteral("mnuPTopMost"));
    trigger(*c, QStringLiteral("mnuPTopMost"));
    QCOMPARE(c->tag(), QStringLiteral("top"));
    c->preparePopup();
    QVERIFY(c->menuAction(QStringLiteral("mnuPTopMost"))->isChecked());
    QTRY_VERIFY(above(a) && above(b) && above(c));

    trigger(*c, QStringLiteral("mnuPTopMost"));
    QCOMPARE(c->tag(), QString());
    c->preparePopup();
    QVERIFY(!c->menuAction(QStringLiteral("mnuPTopMost"))->isChecked());
    QTRY_VERIFY(!above(c));
    QTRY_VERIFY(above(a) && above(b));
    QVERIFY(a->isVisible() && b->isVisible() && c->isVisible());

    // An area selection comes over them and goes; the two are above again.
    FrmMain *capture = loadCaptureWindow(*m_setup->commands);
    capture->GetCaptureItem(CaptRect);
    FrmSelect *overlay = nullptr;
    QTRY_VERIFY((overlay = m_setup->windows->find<FrmSelect>(FrmSelect::kKind)));
    QVERIFY(QTest::qWaitForWindowExposed(overlay));
    overlay->Cancel();
    QTRY_VERIFY(!m_setup->windows->find(FrmSelect::kKind));
    QTRY_VERIFY(above(a) && above(b));
    QVERIFY(!above(c));
    QTRY_VERIFY(a->isVisible() && b->isVisible());
    if (qEnvironmentVariableIsSet("ZORVIN_SHOTS"))
        m_session.run(QStringLiteral("import"),
                      {QStringLiteral("-window"), QStringLiteral("root"),
                       qEnvironmentVariable("ZORVIN_SHOTS") + QStringLiteral("/pinned.png")});
}

void TstFrmDTopImg::dragByThePicturePrintAndPeelOff()
{
    FrmDTopImg *w = pin(testPicture(QSize(160, 120)));
    QVERIFY(w);
    QCOMPARE(w->quitConcern(), QuitGuard::DesktopImage);

    // Dragged by the picture, the window follows the pointer.
    const QPoint start = w->mapToGlobal(QPoint(80, 60));
    const QPoint before = w->geometry().topLeft();
    QVERIFY(!m_session
                 .run(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(start.x()), QString::number(start.y()),
                       QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("sleep"),
                       QStringLiteral("0.3"), QStringLiteral("mousemove"), QString::number(start.x() + 40),
                       QString::number(start.y() + 30), QStringLiteral("sleep"), QStringLiteral("0.3"),
                       QStringLiteral("mousemove"), QString::number(start.x() + 100),
                       QString::number(start.y() + 70), QStringLiteral("sleep"), QStringLiteral("0.3"),
                       QStringLiteral("mouseup"), QStringLiteral("1")})
                 .isNull());
    QTRY_COMPARE(w->geometry().topLeft(), before + QPoint(100, 70));

    const QString pdf = m_setup->dir.filePath(QStringLiteral("pinned.pdf"));
    m_setup->commands->setPrintTarget(PrintTarget::pdfFile(pdf));
    trigger(*w, QStringLiteral("mnuPPrint"));
    QVERIFY(QFileInfo(pdf).size() > 0);

    // The wallpaper takes the pinned picture.
    trigger(*w, QStringLiteral("mnuPWallTile"));
    QCOMPARE(QImage(ModWall::WallFile(m_setup->ctx)).size(), QSize(160, 120));

    QPointer<FrmDTopImg> guard(w);
    trigger(*w, QStringLiteral("mnuPPeel"));
    QVERIFY(m_setup->windows->windows(FrmDTopImg::kKind).isEmpty());
    QTRY_VERIFY(!guard);
}

ZORVIN_XVFB_MAIN(TstFrmDTopImg, QSize(1920, 1080), true)
#include "tst_frmdtopimg.moc"
