// The interval capture under a real X server, with a second shortened to a few
// milliseconds: numbered automatic saves while it is on, nothing once it is off, the count
// kept across off and on, the 16-bit interval rule, and no capture on top of a running one.
#include "capture/CaptureEngine.h"
#include "capture/FrmAutoCapt.h"
#include "capture/FrmMain.h"
#include "support/CaptureSetup.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QDir>
#include <QtTest>

class TstFrmAutoCapt : public QObject
{
    Q_OBJECT
  public:
    TstFrmAutoCapt(XvfbSession &session, const QString &skipReason) : m_session(session), m_skip(skipReason)
    {}

  private slots:
    void initTestCase()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
    }
    void init()
    {
        m_setup = std::make_unique<CaptureSetup>();
        Settings &settings = m_setup->ctx.settings;
        settings.CaptAutoSave = 1;
        settings.CaptAutoSaveType = 0;
        settings.CaptAutoSaveName = QStringLiteral("CPT");
        m_folder = m_setup->dir.filePath(QStringLiteral("shots"));
        QDir().mkpath(m_folder);
        settings.CaptAutoSavePlace = m_folder;
        m_auto = std::make_unique<FrmAutoCapt>(m_setup->ctx, *m_setup->commands);
        m_auto->setTickInterval(kTickMs);
    }
    void cleanup()
    {
        m_auto.reset();
        m_setup.reset();
    }

    void capturesEveryIntervalUntilSwitchedOff();
    void countGoesOnAfterOffAndOn();
    void intervalAbove32767NeverCaptures();
    void runningCaptureIsNotStackedUpon();

  private:
    static constexpr int kTickMs = 20;
    QStringList saved() const { return QDir(m_folder).entryList(QDir::Files, QDir::Name); }
    Settings &settings() { return m_setup->ctx.settings; }

    [[maybe_unused]] XvfbSession &m_session;
    QString m_skip;
    std::unique_ptr<CaptureSetup> m_setup;
    std::unique_ptr<FrmAutoCapt> m_auto;
    QString m_folder;
};

void TstFrmAutoCapt::capturesEveryIntervalUntilSwitchedOff()
{
    // Off at start: nothing counts.
    settings().AutoCaptTim = 3;
    m_auto->Load();
    QVERIFY(!m_auto->isRunning());

    settings().AutoCapt = 1;
    m_auto->Load();
    QVERIFY(m_auto->isRunning());
    QSignalSpy started(m_auto.get(), &FrmAutoCapt::captureStarted);
    QTRY_VERIFY(saved().size() >= 3);
    QCOMPARE(saved().mid(0, 3), (QStringList{"CPT00001.BMP", "CPT00002.BMP", "CPT00003.BMP"}));
    // Quiet captures into the hidden capture window, which was loaded for them.
    FrmMain *window = captureWindow(*m_setup->commands);
    QVERIFY(window && window->HasPicture() && !window->isVisible());
    QCOMPARE(window->picture().size(), QGuiApplication::primaryScreen()->size());
    QVERIFY(m_auto->isRunning());

    // Off in the options: the count stops, and no capture follows.
    settings().AutoCapt = 0;
    m_auto->ApplyAutoCaptSettings();
    QVERIFY(!m_auto->isRunning());
    const int count = int(started.count());
    QVERIFY(!started.wait(kTickMs * 3 * 4));
    QCOMPARE(started.count(), count);
    QCOMPARE(saved().size(), count);

    // A tick that finds the setting off (changed without the options) ends the count too.
    settings().AutoCapt = 1;
    m_auto->ApplyAutoCaptSettings();
    settings().AutoCapt = 0;
    QTRY_VERIFY(!m_auto->isRunning());
    QCOMPARE(started.count(), count);
}

void TstFrmAutoCapt::countGoesOnAfterOffAndOn()
{
    m_auto->setTickInterval(100);
    settings().AutoCapt = 1;
    settings().AutoCaptTim = 6;
    m_auto->Load();
    QTRY_VERIFY(m_auto->counter() >= 2);
    settings().AutoCapt = 0;
    m_auto->ApplyAutoCaptSettings();
    const int16_t kept = m_auto->counter();
    QVERIFY(kept >= 2 && kept < 6);
    QVERIFY(!m_auto->isRunning());

    // On again: from the kept count, not from 0. Applying while running changes nothing.
    settings().AutoCapt = 1;
    m_auto->ApplyAutoCaptSettings();
    QVERIFY(m_auto->isRunning());
    QCOMPARE(m_auto->counter(), kept);
    QSignalSpy started(m_auto.get(), &FrmAutoCapt::captureStarted);
    QVERIFY(started.wait(5000));
    // After a capture the count starts again at 0.
    QVERIFY(m_auto->counter() < 2);
    QTRY_COMPARE(saved(), QStringList{"CPT00001.BMP"});

    // A shorter interval applied while counting counts against the new one.
    settings().AutoCaptTim = 1;
    m_auto->ApplyAutoCaptSettings();
    QVERIFY(started.wait(1000));
}

void TstFrmAutoCapt::intervalAbove32767NeverCaptures()
{
    QCOMPARE(FrmAutoCapt::IntervalSeconds(32767), int16_t(32767));
    QVERIFY(FrmAutoCapt::IntervalSeconds(32768) <= 0);
    QVERIFY(FrmAutoCapt::IntervalSeconds(65535) <= 0);

    settings().AutoCapt = 1;
    settings().AutoCaptTim = 40000;
    // Start-up does not count such an interval.
    m_auto->Load();
    QVERIFY(!m_auto->isRunning());
    // The options start the timer (the interval is not 0); its first second stops it.
    QSignalSpy started(m_auto.get(), &FrmAutoCapt::captureStarted);
    m_auto->ApplyAutoCaptSettings();
    QVERIFY(m_auto->isRunning());
    QTRY_VERIFY(!m_auto->isRunning());
    QCOMPARE(started.count(), 0);
    QCOMPARE(saved(), QStringList());
}

void TstFrmAutoCapt::runningCaptureIsNotStackedUpon()
{
    // An active-window capture waiting out its delay.
    settings().ActCaptMode = 0;
    settings().IntTimer = QStringLiteral("30");
    FrmMain *window = loadCaptureWindow(*m_setup->commands);
    QVERIFY(window);
    window->GetCaptureItem(CaptAct);
    QVERIFY(window->capture().isCapturing());
    QVERIFY(window->capture().delayRunning());

    settings().AutoCapt = 1;
    settings().AutoCaptTim = 2;
    QSignalSpy skipped(m_auto.get(), &FrmAutoCapt::captureSkipped);
    QSignalSpy started(m_auto.get(), &FrmAutoCapt::captureStarted);
    m_auto->Load();
    QVERIFY(skipped.wait(5000));
    // The waiting capture goes on undisturbed; the next interval counts from 0.
    QCOMPARE(started.count(), 0);
    QVERIFY(window->capture().delayRunning());
    QCOMPARE(window->capture().CaptureMode(), int16_t(CaptAct));
    QVERIFY(m_auto->isRunning());
    QCOMPARE(saved(), QStringList());

    // Once it has given up, the next interval captures.
    window->capture().Abandon();
    QVERIFY(started.wait(5000));
    QTRY_COMPARE(saved(), QStringList{"CPT00001.BMP"});
}

ZORVIN_XVFB_MAIN(TstFrmAutoCapt, QSize(640, 480), false)
#include "tst_frmautocapt.moc"
