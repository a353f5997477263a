// The wallpaper on a plain window manager (Xvfb + openbox, no desktop): the bitmap file
// in the data folder, and the root window's published pixmap showing the picture centred
// on black or tiled from the corner, set from the capture window's commands.
#include "capture/FrmMain.h"
#include "pictures/ModWall.h"
#include "base/ModZorvin.h"
#include "platform/ScreenPlatform.h"
#include "support/CaptureSetup.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QtTest>

namespace {

const QColor kCorner(250, 200, 0);
const QColor kRest(40, 90, 200);

// 100 x 60 with its top-left quarter in another colour, to tell where each copy starts.
QImage wallPicture()
{
    QImage image(100, 60, QImage::Format_RGB32);
    image.fill(kRest);
    QPainter(&image).fillRect(0, 0, 50, 30, kCorner);
    return image;
}

} // namespace

class TstModWall : public QObject
{
    Q_OBJECT
  public:
    TstModWall(XvfbSession &session, const QString &skipReason) : m_session(session), m_skip(skipReason) {}

  private slots:
    void initTestCase();
    void centredAndTiledOnTheRootWindow();

  private:
    QString rootPixmapId() const;
    XvfbSession &m_session;
    QString m_skip;
};

void TstModWall::initTestCase()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    // No desktop environment: the root window is the desktop.
    qunsetenv("XDG_CURRENT_DESKTOP");
}

QString TstModWall::rootPixmapId() const
{
    return m_session.run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_XROOTPMAP_ID")})
        .trimmed();
}

void TstModWall::centredAndTiledOnTheRootWindow()
{
    CaptureSetup setup;
    QVERIFY(setup.dir.isValid());
    const ModZorvin &ctx = setup.ctx;
    FrmMain *capture = loadCaptureWindow(*setup.commands);
    capture->setPicture(wallPicture(), QString());
    capture->setHasPicture(true);
    capture->SetToolbar();
    const std::unique_ptr<ScreenPlatform> screen = ScreenPlatform::create();
    const QSize size = screen->screenSize();

    QVERIFY(capture->toolbarAction(QStringLiteral("WallCenter"))->isEnabled());
    capture->toolbarAction(QStringLiteral("WallCenter"))->trigger();
    const QImage written(ModWall::WallFile(ctx));
    QCOMPARE(written.size(), QSize(100, 60));
    QCOMPARE(QFileInfo(ModWall::WallFile(ctx)).fileName(), QStringLiteral("ZorvinWall.BMP"));
    const QString first = rootPixmapId();
    QVERIFY2(first.contains(QLatin1String("pixmap id #")), qPrintable(first));
    QImage shown = screen->grabRect(QRect(QPoint(0, 0), size)).convertToFormat(QImage::Format_RGB32);
    const QPoint at((size.width() - 100) / 2, (size.height() - 60) / 2);
    QCOMPARE(shown.pixelColor(at), kCorner);
    QCOMPARE(shown.pixelColor(at + QPoint(99, 59)), kRest);
    QCOMPARE(shown.pixelColor(at - QPoint(1, 1)), QColor(Qt::black));
    QCOMPARE(shown.pixelColor(0, 0), QColor(Qt::black));

    capture->toolbarAction(QStringLiteral("WallTile"))->trigger();
    QVERIFY(rootPixmapId() != first);
    shown = screen->grabRect(QRect(QPoint(0, 0), size)).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixelColor(0, 0), kCorner);
    QCOMPARE(shown.pixelColor(60, 40), kRest);
    QCOMPARE(shown.pixelColor(100, 60), kCorner);
    QCOMPARE(shown.pixelColor(size.width() - 1, size.height() - 1),
             wallPicture().pixelColor((size.width() - 1) % 100, (size.height() - 1) % 60));

    // Each back-end reports whether it worked.
    const WallpaperSetter::Result result = ModWall::SetWallpaper(ctx, wallPicture(), QStringLiteral("0"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.backEnd, QStringLiteral("x11-root"));
    QVERIFY(!ModWall::SetWallpaper(ctx, QImage(), QStringLiteral("0")).ok);
}

ZORVIN_XVFB_MAIN(TstModWall, QSize(1024, 768), true)
#include "tst_modwall.moc"
