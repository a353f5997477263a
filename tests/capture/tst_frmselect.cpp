// The area selection under a real X server (Xvfb + openbox), driven by a real pointer
// (xdotool): the dragged rectangle is captured pixel for pixel in either direction, a
// click gives the empty picture, and the cancel from the pop-up or Esc gives the picture
// state and the toolbar back.
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "capture/FrmSelect.h"
#include "ui/ModZorvinUi.h"
#include "support/CaptureSetup.h"
#include "support/NextMessageBox.h"
#include "support/SolidWindow.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QtTest>

namespace {

const QColor kSolid(0, 160, 80);

} // namespace

class TstFrmSelect : public QObject
{
    Q_OBJECT
  public:
    TstFrmSelect(XvfbSession &session, const QString &skipReason) : m_session(session), m_skip(skipReason) {}

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dragCapturesExactlyTheDraggedPixels_data();
    void dragCapturesExactlyTheDraggedPixels();
    void clickWithoutMovementGivesTheEmptyPicture();
    void cancelGivesThePictureStateAndToolbarBack_data();
    void cancelGivesThePictureStateAndToolbarBack();
    void messageBoxComesAboveTheOverlay();

  private:
    bool above(QWidget *window) const;
    // Starts mode 2 from the toolbar; the overlay once it is on the screen.
    FrmSelect *startOverlay(FrmMain &window);
    // A real pointer: xdotool runs while this process serves the overlay.
    void xdotool(const QStringList &arguments);

    XvfbSession &m_session;
    QString m_skip;
    std::unique_ptr<CaptureSetup> m_setup;
    std::unique_ptr<SolidWindow> m_solid;
    std::unique_ptr<QProcess> m_tool;
};

void TstFrmSelect::initTestCase()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    QVERIFY(QGuiApplication::platformName() == QLatin1String("xcb"));
}

void TstFrmSelect::init()
{
    m_setup = std::make_unique<CaptureSetup>();
    QVERIFY(m_setup->dir.isValid());
    m_solid = std::make_unique<SolidWindow>(kSolid, QSize(400, 300));
    m_solid->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    m_solid->move(200, 150);
    m_solid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_solid.get()));
}

void TstFrmSelect::cleanup()
{
    if (m_tool)
        m_tool->waitForFinished(5000);
    m_tool.reset();
    m_solid.reset();
    m_setup.reset();
}

FrmSelect *TstFrmSelect::startOverlay(FrmMain &window)
{
    window.toolbarAction(QStringLiteral("CaptRect"))->trigger();
    FrmSelect *overlay = nullptr;
    if (!QTest::qWaitFor(
            [&] { return (overlay = m_setup->windows->find<FrmSelect>(FrmSelect::kKind)) != nullptr; }, 5000))
        return nullptr;
    if (!QTest::qWaitForWindowExposed(overlay))
        return nullptr;
    return overlay;
}

void TstFrmSelect::xdotool(const QStringList &arguments)
{
    m_tool = std::make_unique<QProcess>();
    m_tool->start(QStringLiteral("xdotool"), arguments);
}

void TstFrmSelect::dragCapturesExactlyTheDraggedPixels_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("down and right") << QPoint(250, 200) << QPoint(370, 290);
    QTest::newRow("up and left") << QPoint(370, 290) << QPoint(250, 200);
}

void TstFrmSelect::dragCapturesExactlyTheDraggedPixels()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    m_setup->ctx.settings.CaptExeHide2 = 1;
    FrmMain &w = *loadCaptureWindow(*m_setup->commands);
    w.setGeometry(650, 450, 300, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);

    FrmSelect *overlay = startOverlay(w);
    QVERIFY(overlay);
    QVERIFY(!w.isVisible());
    QCOMPARE(overlay->geometry().topLeft(), QPoint(0, 0));
    // The window manager keeps the overlay above every other window.
    const QString state =
        m_session.run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(overlay->winId()),
                                                QStringLiteral("_NET_WM_STATE")});
    QVERIFY2(state.contains(QLatin1String("_NET_WM_STATE_ABOVE")), qPrintable(state));

    const QPoint mid = (from + to) / 2;
    xdotool({QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
             QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
             QString::number(mid.x()), QString::number(mid.y()), QStringLiteral("sleep"),
             QStringLiteral("0.2"), QStringLiteral("mousemove"), QString::number(to.x()),
             QString::number(to.y()), QStringLiteral("sleep"), QStringLiteral("0.2"),
             QStringLiteral("mouseup"), QStringLiteral("1")});
    QTRY_VERIFY_WITH_TIMEOUT(overlay->dragging(), 5000);
    if (qEnvironmentVariableIsSet("ZORVIN_SHOTS")) {
        QTRY_VERIFY(overlay->band().width() > 50);
        m_session.run(QStringLiteral("import"),
                      {QStringLiteral("-window"), QStringLiteral("root"),
                       qEnvironmentVariable("ZORVIN_SHOTS") + QStringLiteral("/overlay.png")});
    }
    const QSize size(qAbs(to.x() - from.x()), qAbs(to.y() - from.y()));
    // The size beside the pointer is the size of the picture taken, not one pixel more.
    const QPointer<FrmSelect> shown(overlay);
    QTRY_COMPARE(shown ? shown->sizeLabel() : QString(),
                 QStringLiteral("%1 x %2").arg(size.width()).arg(size.height()));
    QCOMPARE(shown->band().size(), size);
    QVERIFY(captured.wait(5000));

    QCOMPARE(captured[0][0].toInt(), int(CaptRect));
    QCOMPARE(w.picture().size(), size);
    // Every pixel is the test window's: neither the band nor the size label is in it.
    const QImage picture = w.picture().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (picture.pixelColor(x, y) != kSolid)
                QFAIL(qPrintable(
                    QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(picture.pixelColor(x, y).name())));
        }
    }
    QCOMPARE(w.statusText(1), QStringLiteral("%1*%2 ｷｬﾌﾟﾁｬ").arg(size.width()).arg(size.height()));
    QTRY_VERIFY(!m_setup->windows->find(FrmSelect::kKind));
    QVERIFY(w.isVisible());
    QVERIFY(!w.capture().isCapturing());
}

void TstFrmSelect::clickWithoutMovementGivesTheEmptyPicture()
{
    FrmMain &w = *loadCaptureWindow(*m_setup->commands);
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);
    QVERIFY(startOverlay(w));
    xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("250"),
             QStringLiteral("click"), QStringLiteral("1")});
    QVERIFY(captured.wait(5000));
    QCOMPARE(captured[0][1].toSize(), QSize(0, 0));
    QVERIFY(w.picture().isNull());
    QVERIFY(w.HasPicture());
    QTRY_VERIFY(!m_setup->windows->find(FrmSelect::kKind));
    // An empty picture is nothing to save.
    QVERIFY(!w.toolbarAction(QStringLiteral("FileSave"))->isEnabled());
}

void TstFrmSelect::cancelGivesThePictureStateAndToolbarBack_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("pop-up cancel") << false;
    QTest::newRow("Esc") << true;
}

void TstFrmSelect::cancelGivesThePictureStateAndToolbarBack()
{
    QFETCH(bool, escape);
    m_setup->ctx.settings.CaptExeHide2 = 1;
    FrmMain &w = *loadCaptureWindow(*m_setup->commands);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.GetCaptureItem(CaptDeskTop);
    QVERIFY(w.HasPicture());
    QVERIFY(w.toolbarAction(QStringLiteral("FileSave"))->isEnabled());
    QSignalSpy captured(&w.capture(), &CaptureEngine::captured);

    FrmSelect *overlay = startOverlay(w);
    QVERIFY(overlay);
    QVERIFY(!w.HasPicture());
    QVERIFY(!w.toolbarAction(QStringLiteral("FileSave"))->isEnabled());
    // While the overlay is up, other capture commands are refused.
    w.GetCaptureItem(CaptDeskTop);
    QVERIFY(captured.isEmpty());

    if (escape) {
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    } else {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("250"),
                 QStringLiteral("click"), QStringLiteral("3")});
        QTRY_VERIFY_WITH_TIMEOUT(overlay->popupMenu()->isVisible(), 5000);
        QAction *cancel = overlay->popupMenu()->findChild<QAction *>(QStringLiteral("mnuCaptCan"));
        QVERIFY(cancel);
        QCOMPARE(cancel->text(), QStringLiteral("ｷｬﾝｾﾙ(&C)"));
        cancel->trigger();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_setup->windows->find(FrmSelect::kKind), 5000);
    QVERIFY(!w.capture().isCapturing());
    QVERIFY(w.HasPicture());
    QVERIFY(w.toolbarAction(QStringLiteral("FileSave"))->isEnabled());
    QTRY_VERIFY(w.isVisible());
    QVERIFY(captured.isEmpty());
}

bool TstFrmSelect::above(QWidget *window) const
{
    return m_session
        .run(QStringLiteral("xprop"),
             {QStringLiteral("-id"), QString::number(window->winId()), QStringLiteral("_NET_WM_STATE")})
        .contains(QLatin1String("_NET_WM_STATE_ABOVE"));
}

void TstFrmSelect::messageBoxComesAboveTheOverlay()
{
    FrmMain &w = *loadCaptureWindow(*m_setup->commands);
    FrmSelect *overlay = startOverlay(w);
    QVERIFY(overlay);
    QTRY_VERIFY(above(overlay));
    bool overlayAboveWhileBoxUp = true;
    bool boxSeen = false;
    onNextBox([&](QMessageBox *box) {
        QTRY_VERIFY(!(overlayAboveWhileBoxUp = above(overlay)));
        boxSeen = box->isVisible();
        box->accept();
    });
    ShowMessageBox(QStringLiteral("notice"), MsgBox::Information);
    QVERIFY(boxSeen);
    QVERIFY(!overlayAboveWhileBoxUp);
    // The selection goes on as before.
    QTRY_VERIFY(above(overlay));
    QVERIFY(w.capture().isCapturing());
    overlay->Cancel();
    QTRY_VERIFY(!m_setup->windows->find(FrmSelect::kKind));
}

ZORVIN_XVFB_MAIN(TstFrmSelect, QSize(1024, 768), true)
#include "tst_frmselect.moc"
