// The tab strip on a real widget under a private X server: tab geometry from the caption
// widths, the raised selected tab with its bottom open to the body, the arrow keys at both
// ends, a click on the selected tab that draws nothing, a click below the row that draws
// the strip again without selecting, and the client rectangle for the sheets.
#include "support/XvfbSession.h"
#include "ui/Twips.h"
#include "ui/cTabStrip.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QImage>
#include <QPaintEvent>
#include <QtTest>

namespace {

// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
  public:
    explicit PaintCounter(QWidget *w) : QObject(w) { w->installEventFilter(this); }
    int count = 0;

  protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// A window with the strip's box and a neighbour whose repaint shows that pending paints ran.
struct Strip
{
    QWidget window;
    QFrame *picture = new QFrame(&window);
    QWidget *neighbour = new QWidget(&window);
    cTabStrip strip;
    PaintCounter *picturePaints = nullptr;
    PaintCounter *neighbourPaints = nullptr;

    explicit Strip(const QStringList &captions)
    {
        QPalette pal = picture->palette();
        pal.setColor(QPalette::Light, Qt::white);
        pal.setColor(QPalette::Mid, QColor(128, 128, 128));
        pal.setColor(QPalette::Dark, Qt::black);
        pal.setColor(QPalette::Button, QColor(200, 200, 200));
        pal.setColor(QPalette::ButtonText, Qt::black);
        picture->setPalette(pal);
        picture->setGeometry(10, 20, 400, 200);
        neighbour->setGeometry(10, 230, 50, 20);
        window.resize(420, 260);
        strip.setPicture(picture);
        for (const QString &caption : captions)
            strip.Add(caption);
        picturePaints = new PaintCounter(picture);
        neighbourPaints = new PaintCounter(neighbour);
    }
    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    // Lets every pending paint run: the neighbour's repaint comes after them.
    bool settle()
    {
        const int before = neighbourPaints->count;
        neighbour->update();
        return QTest::qWaitFor([&] { return neighbourPaints->count > before; });
    }
    QImage image() const { return picture->grab().toImage(); }
};

} // namespace

class tst_TabStrip : public QObject
{
    Q_OBJECT
  public:
    tst_TabStrip(XvfbSession &, const QString &skipReason) : m_skipReason(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }
    void tabsFollowTheirCaptionWidths();
    void selectedTabIsRaisedAndOpenToTheBody();
    void arrowKeysStopAtBothEnds();
    void clickOnSelectedTabDrawsNothing();
    void clickBelowTheRowRedrawsWithoutSelecting();
    void clientRectangleIsInTwipsOfTheContainer();

  private:
    QString m_skipReason;
};

void tst_TabStrip::tabsFollowTheirCaptionWidths()
{
    // Four half-width and four full-width characters.
    Strip s({QStringLiteral("ABCD"), QStringLiteral("ａｂｃｄ"), QStringLiteral("ﾛｸﾞ")});
    QCOMPARE(s.strip.Count(), 3);
    const QFontMetrics metrics(s.picture->font());
    const int textHeight = metrics.boundingRect(QStringLiteral("|")).height();
    QVERIFY(s.strip.tabRect(1).width() > s.strip.tabRect(0).width());
    for (int i = 0; i < 3; ++i) {
        const QRect r = s.strip.tabRect(i);
        QCOMPARE(r.width(), metrics.horizontalAdvance(s.strip.caption(i)) + 16);
        QCOMPARE(r.height(), textHeight + 5);
        QCOMPARE(r.y(), 2);
        QCOMPARE(r.x(), i == 0 ? 2 : s.strip.tabRect(i - 1).x() + s.strip.tabRect(i - 1).width() + 1);
    }
    QVERIFY(s.strip.tabRect(3).isNull());
}

void tst_TabStrip::selectedTabIsRaisedAndOpenToTheBody()
{
    Strip s({QStringLiteral("個人情報"), QStringLiteral("ｷｬﾌﾟﾁｬ"), QStringLiteral("その他")});
    QVERIFY(s.show());
    QVERIFY(s.settle());
    const QColor light(Qt::white), face(200, 200, 200);
    const QRect first = s.strip.tabRect(0), second = s.strip.tabRect(1);
    const int rowBottom = first.y() + first.height();
    QImage img = s.image();
    // The selected tab's top is two pixels above the others'.
    QCOMPARE(img.pixelColor(first.x() + 10, 0), light);
    QCOMPARE(img.pixelColor(second.x() + 10, 0), face);
    QCOMPARE(img.pixelColor(second.x() + 10, 2), light);
    // The body's top edge runs under the other tabs but not under the selected one.
    QCOMPARE(img.pixelColor(second.x() + 10, rowBottom), light);
    QCOMPARE(img.pixelColor(first.x() + 10, rowBottom), face);
    // The body's bevel: dark at the bottom and right, light on the left.
    QCOMPARE(img.pixelColor(100, s.picture->height() - 1), QColor(Qt::black));
    QCOMPARE(img.pixelColor(s.picture->width() - 1, 100), QColor(Qt::black));
    QCOMPARE(img.pixelColor(0, 100), light);

    s.strip.setSelectedIndex(1);
    QVERIFY(s.settle());
    img = s.image();
    QCOMPARE(img.pixelColor(first.x() + 10, 0), face);
    QCOMPARE(img.pixelColor(second.x() + 10, 0), light);
    QCOMPARE(img.pixelColor(first.x() + 10, rowBottom), light);
    QCOMPARE(img.pixelColor(second.x() + 10, rowBottom), face);

    // An index past the last tab is ignored.
    s.strip.setSelectedIndex(3);
    QCOMPARE(s.strip.SelectedIndex(), 1);
}

void tst_TabStrip::arrowKeysStopAtBothEnds()
{
    Strip s({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    const int redraws = s.strip.redrawCount();
    s.strip.KeyDown(37, 0);
    QCOMPARE(s.strip.SelectedIndex(), 0);
    QCOMPARE(s.strip.redrawCount(), redraws);
    s.strip.KeyDown(39, 0);
    s.strip.KeyDown(39, 0);
    QCOMPARE(s.strip.SelectedIndex(), 2);
    QCOMPARE(s.strip.redrawCount(), redraws + 2);
    s.strip.KeyDown(39, 0);
    QCOMPARE(s.strip.SelectedIndex(), 2);
    QCOMPARE(s.strip.redrawCount(), redraws + 2);
    // Other keys (Up, Down, Tab) are ignored.
    for (int key : {38, 40, 9})
        s.strip.KeyDown(key, 0);
    QCOMPARE(s.strip.SelectedIndex(), 2);
    s.strip.KeyDown(37, 0);
    QCOMPARE(s.strip.SelectedIndex(), 1);
}

void tst_TabStrip::clickOnSelectedTabDrawsNothing()
{
    Strip s({QStringLiteral("個人情報"), QStringLiteral("ｷｬﾌﾟﾁｬ")});
    QVERIFY(s.show());
    QVERIFY(s.settle());
    const int paints = s.picturePaints->count;
    const QRect first = s.strip.tabRect(0);
    s.strip.MouseDown(1, 0, first.center().x(), first.center().y());
    QVERIFY(s.settle());
    QCOMPARE(s.picturePaints->count, paints);
    QCOMPARE(s.strip.SelectedIndex(), 0);

    // The right button counts for nothing; the left one on another tab selects and draws.
    const QRect second = s.strip.tabRect(1);
    s.strip.MouseDown(2, 0, second.center().x(), second.center().y());
    QCOMPARE(s.strip.SelectedIndex(), 0);
    s.strip.MouseDown(1, 0, second.x() + second.width(), second.y() + second.height());
    QCOMPARE(s.strip.SelectedIndex(), 1);
    QVERIFY(s.settle());
    QVERIFY(s.picturePaints->count > paints);
}

void tst_TabStrip::clickBelowTheRowRedrawsWithoutSelecting()
{
    Strip s({QStringLiteral("A"), QStringLiteral("B")});
    QVERIFY(s.show());
    QVERIFY(s.settle());
    const int paints = s.picturePaints->count;
    s.strip.MouseDown(1, 0, 20, 150);
    QCOMPARE(s.strip.SelectedIndex(), 0);
    QTRY_VERIFY(s.picturePaints->count > paints);
}

void tst_TabStrip::clientRectangleIsInTwipsOfTheContainer()
{
    Strip s({QStringLiteral("A")});
    const int textHeight = s.strip.textHeight();
    QCOMPARE(s.strip.ClientLeft(), pixelsToTwips(10 + 1));
    QCOMPARE(s.strip.ClientTop(), pixelsToTwips(20 + textHeight + 9));
    QCOMPARE(s.strip.ClientWidth(), pixelsToTwips(400 - 3));
    QCOMPARE(s.strip.ClientHeight(), pixelsToTwips(200 - (textHeight + 11)));
    // The sheets start below the tab row.
    QVERIFY(twipsToPixels(s.strip.ClientTop()) - 20 > s.strip.tabRect(0).y() + s.strip.tabRect(0).height());
}

ZORVIN_XVFB_MAIN(tst_TabStrip, QSize(800, 600), false)
#include "tst_tabstrip.moc"
