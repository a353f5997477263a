// The wallpaper on a plain window manager (Xvfb + openbox, no desktop): the bitmap file
// in the data folder, and the root window's published pixmap showing the picture centred
// on black or tiled from the corner, set from the capture window's commands. On a GNOME
// and a MATE desktop the real gsettings tool (its keyfile back-end in the test's own
// home) runs from the event loop, its outcome reported afterwards.
#include "capture/FrmMain.h"
#include "pictures/ModWall.h"
#include "base/ModZorvin.h"
#include "platform/ScreenPlatform.h"
#include "support/CaptureSetup.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QtTest>

#include <optional>

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

// Sets the wallpaper and waits for the outcome, which never comes from within the call.
WallpaperSetter::Result setAndWait(const ModZorvin &ctx, const QImage &picture, const QString &style)
{
    QObject owner;
    std::optional<WallpaperSetter::Result> outcome;
    ModWall::SetWallpaper(ctx, picture, style, &owner,
                          [&outcome](const WallpaperSetter::Result &result) { outcome = result; });
    if (outcome)
        return {false, QString(), QStringLiteral("reported within the call")};
    // No outcome after the wait is reported below as such.
    (void)QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 3 * WallpaperSetter::kToolTimeoutMs);
    return outcome.value_or(WallpaperSetter::Result{false, QString(), QStringLiteral("no outcome")});
}

QString gsettingsGet(const QString &schema, const QString &key)
{
    QProcess get;
    get.start(QStringLiteral("gsettings"), {QStringLiteral("get"), schema, key});
    return get.waitForFinished(10000) ? QString::fromUtf8(get.readAllStandardOutput()).trimmed() : QString();
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
    void desktopToolsRunFromTheEventLoop();

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
    const WallpaperSetter::Result result = setAndWait(ctx, wallPicture(), QStringLiteral("0"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.backEnd, QStringLiteral("x11-root"));
    const WallpaperSetter::Result unwritten = setAndWait(ctx, QImage(), QStringLiteral("0"));
    QVERIFY(!unwritten.ok);
    QVERIFY2(unwritten.error.startsWith(QLatin1String("cannot write")), qPrintable(unwritten.error));
}

void TstModWall::desktopToolsRunFromTheEventLoop()
{
    if (QStandardPaths::findExecutable(QStringLiteral("gsettings")).isEmpty())
        QSKIP("gsettings is not installed");
    CaptureSetup setup;
    QVERIFY(setup.dir.isValid());
    // The settings land in the test's private home, not in a desktop's database.
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    const QString schema = QStringLiteral("org.gnome.desktop.background");
    const QString uri = QUrl::fromLocalFile(ModWall::WallFile(setup.ctx)).toString();
    WallpaperSetter::Result result = setAndWait(setup.ctx, wallPicture(), QStringLiteral("1"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.backEnd, QStringLiteral("gnome"));
    QCOMPARE(gsettingsGet(schema, QStringLiteral("picture-uri")), u'\'' + uri + u'\'');
    QCOMPARE(gsettingsGet(schema, QStringLiteral("picture-uri-dark")), u'\'' + uri + u'\'');
    QCOMPARE(gsettingsGet(schema, QStringLiteral("picture-options")), QStringLiteral("'wallpaper'"));
    result = setAndWait(setup.ctx, wallPicture(), QStringLiteral("0"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(gsettingsGet(schema, QStringLiteral("picture-options")), QStringLiteral("'centered'"));

    // A desktop whose settings the tool does not know: the tool's own complaint comes back.
    qputenv("XDG_CURRENT_DESKTOP", "MATE");
    result = setAndWait(setup.ctx, wallPicture(), QStringLiteral("0"));
    QVERIFY(!result.ok);
    QCOMPARE(result.backEnd, QStringLiteral("mate"));
    QVERIFY2(result.error.startsWith(QLatin1String("gsettings: ")) &&
                 result.error.contains(QLatin1String("org.mate")),
             qPrintable(result.error));
    // One whose tool is missing says so.
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(setup.dir.path()));
    result = setAndWait(setup.ctx, wallPicture(), QStringLiteral("0"));
    qputenv("PATH", path);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("dbus-send is not installed"));
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("GSETTINGS_BACKEND");
}

ZORVIN_XVFB_MAIN(TstModWall, QSize(1024, 768), true)
#include "tst_modwall.moc"
