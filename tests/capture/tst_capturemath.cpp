// The capture arithmetic: delay ticks from the IntTimer text, the dragged area, the
// status texts.
#include "capture/CaptureMath.h"

#include <QtTest>

class TstCaptureMath : public QObject
{
    Q_OBJECT
  private slots:
    void delayFiresOnTheExpectedTick_data();
    void delayFiresOnTheExpectedTick();
    void dragInAnyDirectionGivesTheSameArea();
    void statusTextsAreWidthStarHeight();
};

void TstCaptureMath::delayFiresOnTheExpectedTick_data()
{
    QTest::addColumn<QString>("intTimer");
    QTest::addColumn<int>("ticks");
    QTest::newRow("0 s: first tick") << "0" << 1;
    QTest::newRow("3 s") << "3" << 6;
    QTest::newRow("1.5 s") << "1.5" << 3;
    QTest::newRow("0.5 s") << "0.5" << 1;
    QTest::newRow("2.25 s rounds half to even") << "2.25" << 4;
    QTest::newRow("trailing text ignored") << " 2sec" << 4;
    QTest::newRow("not a number") << "abc" << 1;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("negative") << "-3" << 1;
    QTest::newRow("beyond 16 bits waits the longest") << "99999" << 32767;
}

void TstCaptureMath::delayFiresOnTheExpectedTick()
{
    QFETCH(QString, intTimer);
    QFETCH(int, ticks);
    int16_t count = CaptureMath::WaitTicksFor(intTimer);
    int tick = 0;
    bool fired = false;
    while (!fired && tick < 40000) {
        ++tick;
        fired = CaptureMath::TakeDelayTick(count);
    }
    QCOMPARE(tick, ticks);
}

void TstCaptureMath::dragInAnyDirectionGivesTheSameArea()
{
    const QRect expected(10, 20, 90, 60);
    QCOMPARE(CaptureMath::SelectionRect(10, 20, 100, 80), expected);
    QCOMPARE(CaptureMath::SelectionRect(100, 80, 10, 20), expected);
    QCOMPARE(CaptureMath::SelectionRect(100, 20, 10, 80), expected);
    QCOMPARE(CaptureMath::SelectionRect(10, 80, 100, 20), expected);
    QVERIFY(CaptureMath::SelectionRect(5, 5, 5, 40).isEmpty());
}

void TstCaptureMath::statusTextsAreWidthStarHeight()
{
    QCOMPARE(CaptureMath::CaptureStatus(640, 480), QStringLiteral("640*480 ｷｬﾌﾟﾁｬ"));
    QCOMPARE(CaptureMath::PictureFileStatus(1920, 1080), QStringLiteral("1920*1080 ﾋﾟｸﾁｬｰﾌｧｲﾙ"));
    QCOMPARE(CaptureMath::CaptureStatus(0, 0), QStringLiteral("0*0 ｷｬﾌﾟﾁｬ"));
}

QTEST_GUILESS_MAIN(TstCaptureMath)
#include "tst_capturemath.moc"
