// The toolbar's icons: the desktop theme where it has a command's standard icon (a small
// theme written by the test), our own drawings elsewhere, and a disabled look for every
// button that cannot pass for an enabled one.
#include "ui/ToolbarIcons.h"
#include "ui/ToolbarLayout.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kSize = 24;
const QColor kThemeColour(230, 20, 200);

struct Look
{
    qint64 opacity = 0;     // summed alpha
    int colouredPixels = 0; // visible and clearly coloured
    int greyPixels = 0;     // visible with red = green = blue
    int visiblePixels = 0;
};

Look lookOf(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Look look;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            look.opacity += c.alpha();
            if (c.alpha() < 64)
                continue;
            ++look.visiblePixels;
            if (c.red() == c.green() && c.green() == c.blue())
                ++look.greyPixels;
            if (c.hsvSaturation() >= 90 && c.value() >= 60)
                ++look.colouredPixels;
        }
    }
    return look;
}

QStringList buttonKeys()
{
    QStringList keys = ToolbarLayout::DefaultLayout();
    keys.removeAll(QLatin1String(ToolbarLayout::kSeparator));
    return keys;
}

} // namespace

class TstToolbarIcons : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void everyButtonHasAColouredLookAndAClearlyDisabledOne();
    void desktopThemeServesTheStandardCommandsOnly();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstToolbarIcons::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // No theme of the machine takes part.
    QIcon::setThemeSearchPaths({m_dir->path()});
    QIcon::setThemeName(QStringLiteral("none-here"));
}

void TstToolbarIcons::everyButtonHasAColouredLookAndAClearlyDisabledOne()
{
    for (const QString &key : buttonKeys()) {
        const QIcon icon = ToolbarIcons::forKey(key);
        QVERIFY2(!icon.isNull(), qPrintable(key));
        const Look normal = lookOf(icon.pixmap(QSize(kSize, kSize), QIcon::Normal));
        const Look disabled = lookOf(icon.pixmap(QSize(kSize, kSize), QIcon::Disabled));
        // Enabled: in colour, never a grey symbol that looks disabled.
        QVERIFY2(normal.colouredPixels * 100 >= normal.visiblePixels * 20,
                 qPrintable(QStringLiteral("%1: %2 of %3 pixels coloured")
                                .arg(key)
                                .arg(normal.colouredPixels)
                                .arg(normal.visiblePixels)));
        // Disabled: grey and faded.
        QVERIFY2(disabled.colouredPixels == 0 && disabled.greyPixels == disabled.visiblePixels,
                 qPrintable(key));
        QVERIFY2(disabled.opacity * 100 <= normal.opacity * (ToolbarIcons::kDisabledOpacityPercent + 1),
                 qPrintable(key));
        QVERIFY2(disabled.opacity > 0, qPrintable(key));
    }
    QVERIFY(ToolbarIcons::forKey(QStringLiteral("NoSuchKey")).isNull());
}

void TstToolbarIcons::desktopThemeServesTheStandardCommandsOnly()
{
    // A theme with a save icon, the second name of the address book, and an icon named as
    // a capture mode might be.
    const QString theme = m_dir->filePath(QStringLiteral("TestTheme"));
    QVERIFY(QDir().mkpath(theme + QStringLiteral("/24x24/actions")));
    QFile index(theme + QStringLiteral("/index.theme"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=TestTheme\nDirectories=24x24/actions\n\n"
                "[24x24/actions]\nSize=24\nContext=Actions\nType=Fixed\n");
    index.close();
    QPixmap solid(kSize, kSize);
    solid.fill(kThemeColour);
    for (const char *name : {"document-save", "address-book-new", "video-display"})
        QVERIFY(solid.save(theme + QStringLiteral("/24x24/actions/%1.png").arg(QLatin1String(name))));
    QIcon::setThemeName(QStringLiteral("TestTheme"));

    const auto centre = [](const QString &key, QIcon::Mode mode) {
        return ToolbarIcons::forKey(key).pixmap(QSize(kSize, kSize), mode).toImage().pixelColor(12, 12);
    };
    QCOMPARE(centre(QStringLiteral("FileSave"), QIcon::Normal), kThemeColour);
    QCOMPARE(centre(QStringLiteral("AddrBook"), QIcon::Normal), kThemeColour);
    // The theme's icon gets our disabled look as well.
    const QColor faded = centre(QStringLiteral("FileSave"), QIcon::Disabled);
    QVERIFY(faded.red() == faded.green() && faded.green() == faded.blue());
    QVERIFY(faded.alpha() <= 255 * ToolbarIcons::kDisabledOpacityPercent / 100 + 1);
    // Without a theme icon, and for the capture modes, our drawings.
    for (const char *key : {"ClipCopy", "CaptDeskTop", "Help"})
        QVERIFY2(centre(QLatin1String(key), QIcon::Normal) != kThemeColour, key);
}

QTEST_MAIN(TstToolbarIcons)
#include "tst_toolbaricons.moc"
