// The options dialog, the group list and the first-run dialog under a private X server,
// checked in the bytes of zorvin.ini: every key in its sheet's order and read back as the
// record holds it, the interval checks that stop OK, the picture-discard warning, the
// check box saved with the message sheet, a font change that writes only what changed,
// the key filters, texts the file cannot hold, the new name announced to engines on
// loopback, the group list, the start-at-login entry, and the first-run prompt at start-up
// with its dialog, also when zorvin.ini cannot be written.
#include "net/AddressStore.h"
#include "base/AnsiCodec.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "net/TransferSealing.h"
#include "app/FrmSket.h"
#include "ui/ModZorvinUi.h"
#include "base/SettingsFile.h"
#include "base/SettingsLoader.h"
#include "ui/WindowRegistry.h"
#include "options/FrmOpt.h"
#include "options/FrmOptGrpList.h"
#include "options/FrmOptions.h"
#include "password/FrmSetPW.h"
#include "password/PasswordWindows.h"
#include "support/AddressRows.h"
#include "support/ChildNamed.h"
#include "support/LoopbackEngine.h"
#include "support/OptionKeys.h"
#include "support/PlaceCopy.h"
#include "support/TestPort.h"
#include "support/WindowShot.h"
#include "support/XvfbSession.h"
#include "ui/JapaneseFont.h"
#include "ui/ProgramPicker.h"
#include "ui/cTabStrip.h"

#include <QAbstractButton>
#include <QAbstractProxyModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <functional>

namespace {

const QString kIntervalMissing = QStringLiteral("ｷｬﾌﾟﾁｬ:ｲﾝﾀｰﾊﾞﾙﾀｲﾏ値を指定して下さい。");
const QString kIntervalZero = QStringLiteral("ｷｬﾌﾟﾁｬ:ｲﾝﾀｰﾊﾞﾙﾀｲﾏ０秒は指定できません。");

QByteArray sjis(const QString &text)
{
    return AnsiCodec::encode(text);
}

// Answers every message box that opens while it lives, and keeps their texts.
struct Boxes
{
    QStringList texts;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    // Runs while the box is up, before it is answered.
    std::function<void()> whileUp;
    QTimer timer;
    Boxes()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible())
                    continue;
                texts << box->text();
                if (whileUp)
                    whileUp();
                QAbstractButton *button = box->button(answer);
                (button ? button : box->buttons().constFirst())->click();
            }
        });
        timer.start();
    }
};

// Runs `act` once on the first visible top-level window named `name`.
struct OnWindow
{
    QTimer timer;
    bool done = false;
    OnWindow(const QString &name, std::function<void(QWidget *)> act)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this, name, act] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (!done && w->objectName() == name && w->isVisible()) {
                    done = true;
                    timer.stop();
                    act(w);
                    return;
                }
            }
        });
        timer.start();
    }
};

// Typed key by key; QTest's own key clicks take Latin-1 only.
void type(QWidget *box, const QString &text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(box, &press);
    }
}

// The keys of section ZorvinSetting in the order the file holds them.
QStringList keysInFile(const QByteArray &bytes)
{
    QStringList keys;
    bool inSection = false;
    for (const QByteArray &line : bytes.split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.startsWith('['))
            inSection = l == "[ZorvinSetting]";
        else if (inSection && l.contains('='))
            keys << QString::fromLatin1(l.left(l.indexOf('=')));
    }
    return keys;
}

// An options dialog over a private data folder, with its own engine, commands and registry.
struct Desk
{
    QTemporaryDir data;
    LoopbackEngine self;
    WindowRegistry windows;
    Commands commands{self.ctx, self.engine, windows};

    explicit Desk(const QString &ip = QStringLiteral("127.0.0.2"), const QString &broadcastTo = QString(),
                  const QByteArray &ini = QByteArray())
        : self(ip, QString(), QString(), broadcastTo)
    {
        self.ctx.ProgramDir = data.path() + u'/';
        if (!ini.isEmpty()) {
            QFile file(iniPath());
            file.open(QIODevice::WriteOnly);
            file.write(ini);
        }
        // As a started copy has it: its version stamp keeps AutoCaptTim in seconds.
        WriteVersionStamp(SettingsFile(iniPath()));
        LoadSettings(self.ctx.settings, SettingsFile(iniPath()), self.ctx.ProgramDir);
        RegisterPasswordWindows(self.ctx, windows);
        RegisterOptionsWindow(self.ctx, self.engine, commands, windows,
                              [this](FrmOptions &dialog) { made.append(&dialog); });
    }
    // Every dialog the registry made, as the resident window sees it to connect its signals.
    QList<QPointer<FrmOptions>> made;
    QString iniPath() const { return self.ctx.SettingsPath(); }
    QByteArray bytes() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool has(const QByteArray &line) const { return bytes().contains("\r\n" + line + "\r\n"); }
    bool hasKey(const char *key) const { return keysInFile(bytes()).contains(QLatin1String(key)); }
    // What the next start-up would read.
    Settings reloaded() const
    {
        Settings s;
        s.Password = self.ctx.settings.Password;
        LoadSettings(s, SettingsFile(iniPath()), self.ctx.ProgramDir);
        return s;
    }
    FrmOptions *open()
    {
        if (!commands.run(QStringLiteral("mnuOpt")))
            return nullptr;
        auto *dialog = windows.find<FrmOptions>(WindowKind::Options);
        return dialog && QTest::qWaitForWindowExposed(dialog) ? dialog : nullptr;
    }
};

QLineEdit *box(QWidget *d, const char *name)
{
    return child<QLineEdit>(d, QLatin1String(name));
}
QCheckBox *check(QWidget *d, const char *name)
{
    return child<QCheckBox>(d, QLatin1String(name));
}
QRadioButton *option(QWidget *d, const char *name, int index)
{
    return child<QRadioButton>(d, QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index));
}

// Shows a message box with the platform's styles, as the resident window does.
class BoxHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &text, int style) override { return ::ShowMessageBox(text, style); }
};

// The first-run questions as start-up asks them; true once everything asked is answered
// (the dialog runs no loop of its own, so the test's event loop runs it).
bool askFirstRun(ModZorvin &ctx, EngineHost &host)
{
    QObject context;
    bool ended = false;
    FirstRunPrompt(ctx, host, &context, [&ended] { ended = true; });
    return QTest::qWaitFor([&ended] { return ended; }, 10000);
}

} // namespace

class tst_Options : public QObject
{
    Q_OBJECT
  public:
    tst_Options(XvfbSession &, const QString &skipReason) : m_skipReason(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }
    void okWritesEverySheetInOrderAndReadsBackTheSame();
    void changedValuesReadBackTheSame();
    void okWithoutChangesKeepsEveryByte();
    void okOnAReadOnlyFileSaysSoAndStaysOpen();
    void sheetsFitTheirCaptions();
    void timerModeWithoutDelayStopsOk();
    void clickModeWithoutDelayKeepsTheOldDelay();
    void intervalPeriodIsCheckedOnlyWhenSwitchedOn();
    void pictureDiscardWarningStillSaves();
    void quitDuringAWarningEndsOk();
    void recvPicMinIsSavedWithTheMessageSheet();
    void onlyTheChangedFontKeyIsWritten();
    void keyFiltersRefuseOtherCharacters();
    void textTheFileCannotHoldIsRefused();
    void startAtLogonWritesAndRemovesTheAutostartEntry();
    void sealedOnlyIsOffByDefaultAndGoesAfterTheOlderKeys();
    void enablingRulesFollowTheControls();
    void okAnnouncesTheNewNameToEngines();
    void groupListOffersKnownGroups();
    void passwordButtonShowsTheNewPassword();
    void programPickerListsExecutables();
    void firstRunCancelledAtStartupWritesNothing();
    void nothingIsAnnouncedBeforeTheFirstRunDialogIsAnswered();
    void firstRunOkWithNeverAgain();
    void firstRunOnAReadOnlyFileSaysSo();
    void firstRunAskedWhileGroupIsEmpty();

  private:
    QString m_skipReason;
};

void tst_Options::okWritesEverySheetInOrderAndReadsBackTheSame()
{
    Desk desk;
    // The toolbar's and menus' "Config" is live once the dialog is registered.
    QVERIFY(desk.commands.action(QStringLiteral("Config"))->isEnabled());
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    // One dialog: opening it again raises the open one.
    QCOMPARE(desk.open(), d.data());
    QCOMPARE(desk.made.size(), 1);
    QCOMPARE(desk.made[0], d);
    QCOMPARE(desk.windows.windows(WindowKind::Options).size(), 1);
    QCOMPARE(d->windowTitle(), QStringLiteral("ｵﾌﾟｼｮﾝ"));
    QCOMPARE(d->tabStrip().Count(), 7);
    // "未設定" is shown as an empty name.
    QCOMPARE(box(d, "TxtName")->text(), QString());
    QVERIFY(d->sheet(0)->isVisible() && !d->sheet(1)->isVisible());

    Boxes boxes;
    d->cmdOK()->click();
    QVERIFY(boxes.texts.isEmpty());
    QTRY_VERIFY(d.isNull());

    QCOMPARE(keysInFile(desk.bytes()), kOptionsKeysInSaveOrder);
    // The unchanged font is not written; the defaults are stored in their stored forms.
    for (const QByteArray &line :
         {QByteArray("Name=") + sjis("未設定"), QByteArray("Grp="), QByteArray("IntTimer=2"),
          QByteArray("ActCaptMode=1"), QByteArray("CaptAutoSaveName=CPT"), QByteArray("AutoCaptTim=300"),
          QByteArray("SndMsgRRTim=15"), QByteArray("JpegComp=10"), QByteArray("LDblClick=1"),
          QByteArray("MsgLog=0"), QByteArray("MsgLogName=CTMSG"), QByteArray("MsgLogShowApp=NOTEPAD")})
        QVERIFY2(desk.has(line), line.constData());
    QCOMPARE(desk.reloaded(), desk.self.ctx.settings);
}

void tst_Options::changedValuesReadBackTheSame()
{
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    box(d, "TxtGrp")->setText(QStringLiteral("開発 "));
    box(d, "TxtName")->setText(QStringLiteral("田中"));
    option(d, "OptActWinCaptMode", 0)->setChecked(true);
    box(d, "TxtActWindCaptTim")->setText(QStringLiteral("5"));
    check(d, "ChkAutoCaptSave")->setChecked(true);
    option(d, "OptAutoCaptSaveType", 3)->setChecked(true);
    box(d, "TxtAutoCaptSaveName")->setText(QString());
    // An existing folder: a missing one would be offered to be made.
    const QString photos = desk.data.path() + QStringLiteral("/写真");
    QVERIFY(QDir().mkpath(photos));
    box(d, "TxtAutoCaptSavePlace")->setText(photos);
    check(d, "ChkAutoCapt")->setChecked(true);
    box(d, "TxtAutoCaptTim")->setText(QStringLiteral("00090"));
    option(d, "OptSCPMsgLevel", 2)->setChecked(true);
    check(d, "ChkSPHide")->setChecked(true);
    check(d, "ChkSPLock")->setChecked(true);
    option(d, "OptRPicSound", 2)->setChecked(true);
    box(d, "TxtRPicWavPath")->setText(QStringLiteral("/usr/share/sounds/a.wav"));
    check(d, "ChkRecvPicMin")->setChecked(true);
    check(d, "ChkSendMsgClose")->setChecked(false);
    box(d, "TxtRRTim")->setText(QString());
    option(d, "OptSCFMsgLevel", 3)->setChecked(true);
    box(d, "TxtRecvFileSavePlace")->setText(QString());
    check(d, "ChkMsgLog")->setChecked(true);
    option(d, "OptMsgLogType", 2)->setChecked(true);
    box(d, "TxtMsgLogName")->setText(QString());
    box(d, "TxtMsgLogSavePlace")->setText(QString());
    box(d, "TxtMsgLogShowPath")->setText(QStringLiteral("mousepad"));
    box(d, "TxtPicEditPath")->setText(QStringLiteral("/usr/bin/gimp"));
    option(d, "OptPicEditInf", 1)->setChecked(true);
    child<QComboBox>(d, "CboMouseClick")->setCurrentIndex(6);
    child<QSlider>(d, "SldJpegComp")->setValue(35);
    QCOMPARE(box(d, "TxtJpegComp")->text(), QStringLiteral("35"));
    check(d, "ChkProgJpeg")->setChecked(true);

    Boxes boxes;
    QSignalSpy interval(d.data(), &FrmOptions::autoCaptureSettingsChanged);
    d->cmdOK()->click();
    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(interval.size(), 1);
    QTRY_VERIFY(d.isNull());

    const Settings &s = desk.self.ctx.settings;
    QCOMPARE(s.Grp, QStringLiteral("開発"));
    QCOMPARE(s.Name, QStringLiteral("田中"));
    QCOMPARE(s.IntTimer, QStringLiteral("5"));
    QCOMPARE(s.CaptAutoSaveName, QString());
    QCOMPARE(s.AutoCaptTim, 90);
    QCOMPARE(s.SndMsgRRTim, 0);
    QCOMPARE(s.RecvFileSavePlace, desk.self.ctx.ProgramDir + QStringLiteral("RECVFILE"));
    QCOMPARE(s.MsgLogName, QString());
    QCOMPARE(s.MsgLogSavePlace, desk.data.path());
    QCOMPARE(s.LDblClick, 6);
    QVERIFY(desk.has("Grp=" + sjis("開発")));
    QVERIFY(desk.has("Name=" + sjis("田中")));
    QVERIFY(desk.has("CaptAutoSaveName=Noting"));
    QVERIFY(desk.has("CaptAutoSaveType=3"));
    QVERIFY(desk.has("SndMsgRRTim=0"));
    QVERIFY(desk.has("RecvFileSavePlace="));
    QVERIFY(desk.has("MsgLogType=2"));
    QVERIFY(desk.has("JpegComp=35"));
    QCOMPARE(desk.reloaded(), s);
}

void tst_Options::okWithoutChangesKeepsEveryByte()
{
    Desk desk(QStringLiteral("127.0.0.2"), QString(), kFilledOptionsIni);
    desk.self.ctx.ImageLibLevel = 2;
    desk.self.ctx.ArchiverReady = true;
    const QByteArray before = desk.bytes();
    const Settings loaded = desk.self.ctx.settings;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    Boxes boxes;
    QSignalSpy fontChanged(d.data(), &FrmOptions::messageFontChanged);
    d->cmdOK()->click();
    QTRY_VERIFY(d.isNull());
    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(fontChanged.size(), 0);
    QCOMPARE(desk.self.ctx.settings, loaded);
    QCOMPARE(desk.bytes(), before);
}

void tst_Options::okOnAReadOnlyFileSaysSoAndStaysOpen()
{
    Desk desk;
    const QByteArray before = desk.bytes();
    QVERIFY(QFile::setPermissions(desk.iniPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    Boxes boxes;
    box(d, "TxtName")->setText(QStringLiteral("新しい名前"));
    d->cmdOK()->click();
    // The first sheet already failed: one box naming the file and the key, and the dialog
    // stays open with what the user typed.
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts[0].startsWith(QStringLiteral("設定を保存できませんでした。\n") + desk.iniPath() +
                                       QStringLiteral("\nGrp: ")),
             qPrintable(boxes.texts[0]));
    QVERIFY(d->saveFailed());
    QVERIFY(d->isVisible());
    QCOMPARE(desk.bytes(), before);

    // Writable again: "更新" saves the sheet without a word.
    QVERIFY(QFile::setPermissions(desk.iniPath(), QFile::ReadOwner | QFile::WriteOwner));
    d->cmdApply()->click();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(!d->saveFailed());
    QCOMPARE(desk.reloaded().Name, QStringLiteral("新しい名前"));
    d->close();
}

void tst_Options::sheetsFitTheirCaptions()
{
    // Filled, so that every control is on and holds text.
    Desk desk(QStringLiteral("127.0.0.2"), QString(), kFilledOptionsIni);
    desk.self.ctx.ImageLibLevel = 2;
    desk.self.ctx.ArchiverReady = true;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    const QRect body = d->picTab()->geometry();
    for (int i = 0; i < FrmOptions::kTabCount; ++i) {
        d->selectTab(i);
        QFrame *sheet = d->sheet(i);
        QVERIFY(sheet->isVisible());
        QVERIFY(body.contains(sheet->geometry()));
        QVERIFY(sheet->geometry().top() > d->tabStrip().tabRect(0).bottom() + body.top());
        // Every caption is as wide as it needs, and inside its sheet.
        for (QWidget *w : sheet->findChildren<QWidget *>()) {
            if (!w->isVisibleTo(sheet) || !(qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w) ||
                                            qobject_cast<QGroupBox *>(w)))
                continue;
            const QRect r(w->mapTo(sheet, QPoint(0, 0)), w->size());
            QVERIFY2(sheet->rect().contains(r), qPrintable(w->objectName() + w->metaObject()->className()));
            QVERIFY2(w->width() >= w->minimumSizeHint().width(),
                     qPrintable(
                         QString::number(i) + w->objectName() + w->metaObject()->className() +
                         (qobject_cast<QGroupBox *>(w) ? qobject_cast<QGroupBox *>(w)->title() : QString()) +
                         QStringLiteral(" sheet %1x%2 min %3x%4 ")
                             .arg(sheet->width())
                             .arg(sheet->height())
                             .arg(sheet->minimumSizeHint().width())
                             .arg(sheet->minimumSizeHint().height()) +
                         QString::number(w->width()) + u' ' + QString::number(w->minimumSizeHint().width())));
        }
        shoot(d, QStringLiteral("FrmOptions-%1").arg(i));
    }
    // The tab row fits the box.
    QVERIFY(d->tabStrip().tabRect(6).right() < d->picTab()->width());
    d->close();
}

void tst_Options::timerModeWithoutDelayStopsOk()
{
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    option(d, "OptActWinCaptMode", 0)->setChecked(true);
    box(d, "TxtActWindCaptTim")->clear();
    check(d, "ChkCaptExeHide1")->setChecked(true);
    check(d, "ChkRecvInfMin")->setChecked(true);
    Boxes boxes;
    d->cmdOK()->click();
    QCOMPARE(boxes.texts, QStringList{kIntervalMissing});
    QVERIFY(d->saveFailed());
    // The mode is written before the check; the rest of the sheet and the later ones are not.
    QVERIFY(desk.has("ActCaptMode=0"));
    QVERIFY(desk.hasKey("Name"));
    QVERIFY(!desk.hasKey("IntTimer"));
    QVERIFY(!desk.hasKey("CaptExeHide1"));
    QVERIFY(!desk.hasKey("SndCmpPicLevel"));
    QVERIFY(!desk.hasKey("JpegComp"));
    QVERIFY(d->isVisible());
    // The record took only what was written: it and the file still agree.
    QCOMPARE(desk.self.ctx.settings.ActCaptMode, 0);
    QCOMPARE(desk.self.ctx.settings.CaptExeHide1, 0);
    QCOMPARE(desk.self.ctx.settings.RecvInfMin, 0);
    QCOMPARE(desk.reloaded(), desk.self.ctx.settings);

    box(d, "TxtActWindCaptTim")->setText(QStringLiteral("00"));
    d->cmdOK()->click();
    QCOMPARE(boxes.texts, (QStringList{kIntervalMissing, kIntervalZero}));
    QVERIFY(!desk.hasKey("IntTimer"));

    box(d, "TxtActWindCaptTim")->setText(QStringLiteral("3"));
    d->cmdOK()->click();
    QCOMPARE(boxes.texts.size(), 2);
    QTRY_VERIFY(d.isNull());
    QVERIFY(desk.has("IntTimer=3"));
}

void tst_Options::clickModeWithoutDelayKeepsTheOldDelay()
{
    Desk desk(QStringLiteral("127.0.0.2"), QString(), "[ZorvinSetting]\r\nIntTimer=7\r\n");
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    option(d, "OptActWinCaptMode", 1)->setChecked(true);
    QVERIFY(!box(d, "TxtActWindCaptTim")->isEnabled());
    box(d, "TxtActWindCaptTim")->clear();
    Boxes boxes;
    d->cmdOK()->click();
    QCOMPARE(boxes.texts, QStringList());
    QTRY_VERIFY(d.isNull());
    QVERIFY(desk.has("ActCaptMode=1"));
    QVERIFY(desk.has("IntTimer=7"));
}

void tst_Options::intervalPeriodIsCheckedOnlyWhenSwitchedOn()
{
    Desk desk(QStringLiteral("127.0.0.2"), QString(), "[ZorvinSetting]\r\nAutoCaptTim=120\r\n");
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    d->selectTab(1);
    QSignalSpy interval(d.data(), &FrmOptions::autoCaptureSettingsChanged);
    Boxes boxes;
    check(d, "ChkAutoCapt")->setChecked(true);
    box(d, "TxtAutoCaptTim")->setText(QStringLiteral("0"));
    d->cmdApply()->click();
    QCOMPARE(boxes.texts, QStringList{kIntervalZero});
    QVERIFY(desk.has("AutoCapt=1"));
    QVERIFY(desk.has("AutoCaptTim=120"));
    QCOMPARE(interval.size(), 0);
    QCOMPARE(desk.reloaded(), desk.self.ctx.settings);

    box(d, "TxtAutoCaptTim")->clear();
    d->cmdApply()->click();
    QCOMPARE(boxes.texts, (QStringList{kIntervalZero, kIntervalMissing}));

    // Switched off, the period box is not checked; a period that is no number keeps the
    // old one, written again.
    check(d, "ChkAutoCapt")->setChecked(false);
    QVERIFY(!box(d, "TxtAutoCaptTim")->isEnabled());
    d->cmdApply()->click();
    QCOMPARE(boxes.texts.size(), 2);
    QVERIFY(desk.has("AutoCapt=0"));
    QVERIFY(desk.has("AutoCaptTim=120"));
    QCOMPARE(desk.self.ctx.settings.AutoCaptTim, 120);
    QCOMPARE(interval.size(), 1);
    d->close();
}

void tst_Options::pictureDiscardWarningStillSaves()
{
    // The box shows the CR line break as a new line.
    const QString warning = QStringLiteral("画像転送:｢受信画像を自動的に保存する。｣及び｢保存先｣を\n"
                                           "指定してない場合、受信画像は廃棄されます。");
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    d->selectTab(2);
    Boxes boxes;
    check(d, "ChkRecvPicWin")->setChecked(true);
    check(d, "ChkAutoRecvSave")->setChecked(true);
    box(d, "TxtAutoRecvSavePlace")->setText(desk.data.path());
    d->cmdApply()->click();
    QCOMPARE(boxes.texts, QStringList());
    QVERIFY(desk.has("RecvPicWin=1"));

    check(d, "ChkAutoRecvSave")->setChecked(false);
    d->cmdApply()->click();
    QCOMPARE(boxes.texts, QStringList{warning});
    QVERIFY(!d->saveFailed());
    QVERIFY(desk.has("RecvAutoSave=0"));
    QVERIFY(desk.has("RecvPicWin=1"));
    QVERIFY(desk.has("SndPicOPChk=0"));

    // Auto-save on without a folder warns as well.
    check(d, "ChkAutoRecvSave")->setChecked(true);
    box(d, "TxtAutoRecvSavePlace")->clear();
    d->cmdApply()->click();
    QCOMPARE(boxes.texts.size(), 2);

    // A folder that is not there is offered to be made: declined, it is kept as typed;
    // agreed, it is made; one that cannot be made stops the save with the path selected.
    const QString missing = desk.data.path() + QStringLiteral("/shots/today");
    box(d, "TxtAutoRecvSavePlace")->setText(missing);
    boxes.answer = QMessageBox::No;
    d->cmdApply()->click();
    QCOMPARE(boxes.texts.size(), 3);
    QCOMPARE(boxes.texts[2], QStringLiteral("画像転送:保存先のﾌｫﾙﾀﾞがありません。\n") + missing +
                                 QStringLiteral("\n\n作成しますか？"));
    QVERIFY(!QFileInfo(missing).isDir());
    QVERIFY(desk.has("RecvAutoSavePlace=" + missing.toLatin1()));
    boxes.answer = QMessageBox::Yes;
    d->cmdApply()->click();
    QCOMPARE(boxes.texts.size(), 4);
    QVERIFY(QFileInfo(missing).isDir());
    QVERIFY(!d->saveFailed());

    d->selectTab(1);
    check(d, "ChkAutoCaptSave")->setChecked(true);
    box(d, "TxtAutoCaptSavePlace")->setText(QStringLiteral("/proc/zorvin-shots"));
    d->cmdApply()->click();
    QCOMPARE(boxes.texts.size(), 6);
    QCOMPARE(boxes.texts[5], QStringLiteral("ｷｬﾌﾟﾁｬ:保存先のﾌｫﾙﾀﾞを作成できません。\n/proc/zorvin-shots"));
    QVERIFY(d->saveFailed());
    QCOMPARE(box(d, "TxtAutoCaptSavePlace")->selectedText(), QStringLiteral("/proc/zorvin-shots"));
    d->close();
}

void tst_Options::quitDuringAWarningEndsOk()
{
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    check(d, "ChkRecvPicWin")->setChecked(true);
    Boxes boxes;
    // The quit closes every window, this one too, while the warning waits.
    boxes.whileUp = [&] { desk.windows.closeAll(nullptr); };
    d->cmdOK()->click();
    QCOMPARE(boxes.texts.size(), 1);
    // The picture sheet finished; nothing after it was saved or announced.
    QVERIFY(desk.has("SndPicOPChk=0"));
    QVERIFY(!desk.hasKey("SndCmpMsgLevel"));
    QTRY_VERIFY(d.isNull());
}

void tst_Options::recvPicMinIsSavedWithTheMessageSheet()
{
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    check(d, "ChkRecvPicMin")->setChecked(true);
    d->selectTab(2);
    d->cmdApply()->click();
    QVERIFY(desk.hasKey("RecvPicWin"));
    QVERIFY(!desk.hasKey("RecvPicMin"));
    QCOMPARE(desk.self.ctx.settings.RecvPicMin, 0);
    d->selectTab(3);
    d->cmdApply()->click();
    QVERIFY(desk.has("RecvPicMin=1"));
    QCOMPARE(desk.self.ctx.settings.RecvPicMin, 1);
    // Applied sheets stay saved after Cancel.
    d->cmdCancel()->click();
    QTRY_VERIFY(d.isNull());
    QCOMPARE(desk.reloaded().RecvPicMin, 1);
}

void tst_Options::onlyTheChangedFontKeyIsWritten()
{
    Desk desk(QStringLiteral("127.0.0.2"), QString(), "[ZorvinSetting]\r\nMsgFontBold=1\r\n");
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    QVERIFY(box(d, "TxtMsgFontName")->font().bold());
    QCOMPARE(box(d, "TxtMsgFontSize")->text(), QStringLiteral("9"));
    // The stored default name is kept; the box is drawn in, and names, the Japanese font
    // the messages really get here (the machine has no font of that name).
    QCOMPARE(box(d, "TxtMsgFontName")->text(), QStringLiteral("ＭＳ Ｐゴシック"));
    const QString shown = QFontInfo(box(d, "TxtMsgFontName")->font()).family();
    QVERIFY2(JapaneseFont::coversJapanese(shown), qPrintable(shown));
    QCOMPARE(d->findChild<QLabel *>(QStringLiteral("LblMsgFontShown"))->text(),
             QStringLiteral("このｺﾝﾋﾟｭｰﾀｰでは「%1」で表示されます。").arg(shown));
    d->selectTab(3);
    QSignalSpy fontChanged(d.data(), &FrmOptions::messageFontChanged);
    d->cmdApply()->click();
    // Nothing changed: no font key, no restyling ("1" and "255" both mean bold).
    QCOMPARE(fontChanged.size(), 0);
    QVERIFY(!desk.hasKey("MsgFontSize"));

    box(d, "TxtMsgFontSize")->setText(QStringLiteral("12"));
    d->cmdApply()->click();
    QCOMPARE(fontChanged.size(), 1);
    QVERIFY(desk.has("MsgFontSize=12"));
    QVERIFY(desk.has("MsgFontBold=1"));
    QVERIFY(!desk.hasKey("MsgFontName"));
    QVERIFY(!desk.hasKey("MsgFontItalic"));
    QCOMPARE(desk.self.ctx.settings.MsgFontSize, 12);

    QFont font = box(d, "TxtMsgFontName")->font();
    font.setBold(false);
    font.setItalic(true);
    box(d, "TxtMsgFontName")->setFont(font);
    d->cmdApply()->click();
    QCOMPARE(fontChanged.size(), 2);
    QVERIFY(desk.has("MsgFontBold=0"));
    QVERIFY(desk.has("MsgFontItalic=255"));
    d->close();
}

void tst_Options::keyFiltersRefuseOtherCharacters()
{
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    d->selectTab(1);
    QLineEdit *period = box(d, "TxtAutoCaptTim");
    check(d, "ChkAutoCapt")->setChecked(true);
    period->clear();
    period->setFocus();
    type(period, QStringLiteral("1a-2 ３4"));
    QCOMPARE(period->text(), QStringLiteral("124"));
    // At most five digits.
    type(period, QStringLiteral("5678"));
    QCOMPARE(period->text(), QStringLiteral("12456"));
    QTest::keyClick(period, Qt::Key_Backspace);
    QCOMPARE(period->text(), QStringLiteral("1245"));

    QLineEdit *prefix = box(d, "TxtAutoCaptSaveName");
    check(d, "ChkAutoCaptSave")->setChecked(true);
    prefix->clear();
    type(prefix, QStringLiteral("Ab_1-.写9zZ"));
    QCOMPARE(prefix->text(), QStringLiteral("Ab19zZ"));
    QCOMPARE(child<QLabel>(d, "LblAutoCaptSaveExp")->text(), QStringLiteral("(Exp) Ab19zZ00001.BMP"));
    check(d, "ChkAutoCaptSaveNameConst")->setChecked(true);
    QCOMPARE(child<QLabel>(d, "LblAutoCaptSaveExp")->text(), QStringLiteral("(Exp) Ab19zZ.BMP"));
    check(d, "ChkAutoRecvSave")->setChecked(true);
    box(d, "TxtAutoRecvtSaveName")->setText(QStringLiteral("R"));
    QCOMPARE(child<QLabel>(d, "LblAutoRecvSaveExp")->text(), QStringLiteral("(Exp) R00001-ﾏｼﾝ名.BMP"));

    // The group and name boxes take any text, 24 characters at most.
    QLineEdit *name = box(d, "TxtName");
    type(name, QStringLiteral("山田 太郎-1"));
    QCOMPARE(name->text(), QStringLiteral("山田 太郎-1"));
    type(name, QString(30, QChar(0x540D)));
    QCOMPARE(name->text().size(), 24);

    // The JPEG level follows the typed number.
    QLineEdit *jpeg = box(d, "TxtJpegComp");
    jpeg->clear();
    QTest::keyClicks(jpeg, QStringLiteral("x42"));
    QCOMPARE(jpeg->text(), QStringLiteral("42"));
    QCOMPARE(child<QSlider>(d, "SldJpegComp")->value(), 42);

    // Every box holds at most what its setting may have.
    for (const auto &[name, limit] :
         std::initializer_list<std::pair<const char *, int>>{{"TxtGrp", 24},
                                                             {"TxtName", 24},
                                                             {"TxtActWindCaptTim", 2},
                                                             {"TxtAutoCaptTim", 5},
                                                             {"TxtRRTim", 3},
                                                             {"TxtJpegComp", 2},
                                                             {"TxtAutoCaptSaveName", 8},
                                                             {"TxtAutoRecvtSaveName", 8},
                                                             {"TxtMsgLogName", 8}})
        QVERIFY2(box(d, name)->maxLength() == limit, name);
    d->close();
}

void tst_Options::textTheFileCannotHoldIsRefused()
{
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    QVERIFY(QTest::qWaitForWindowActive(d));
    // Ctrl+Tab and Ctrl+Shift+Tab turn the sheets from a text box, round at the ends.
    box(d, "TxtName")->setFocus();
    QTest::keyClick(box(d, "TxtName"), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(d->tabStrip().SelectedIndex(), 1);
    QVERIFY(d->sheet(1)->isVisible() && !d->sheet(0)->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(d->tabStrip().SelectedIndex(), FrmOptions::kTabCount - 1);
    d->selectTab(3);

    // Not in code page 932: it would come back as "?". Refused, it is shown on its sheet,
    // selected for retyping.
    box(d, "TxtName")->setText(QStringLiteral("名前😀"));
    Boxes boxes;
    d->cmdOK()->click();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(boxes.texts[0].startsWith(QStringLiteral("個人情報:")));
    QCOMPARE(d->tabStrip().SelectedIndex(), 0);
    QCOMPARE(box(d, "TxtName")->selectedText(), QStringLiteral("名前😀"));
    // The dialog is active again only once the window manager has handed it back.
    QTRY_COMPARE(QApplication::focusWidget(), box(d, "TxtName"));
    QVERIFY(d->saveFailed());
    QVERIFY(!desk.hasKey("Name"));
    QVERIFY(!desk.hasKey("Grp"));
    QCOMPARE(desk.self.ctx.settings.Name, QStringLiteral("未設定"));

    box(d, "TxtName")->setText(QStringLiteral("名前"));
    d->selectTab(6);
    box(d, "TxtPicEditPath")->setText(QStringLiteral("/opt/ë/edit"));
    d->cmdOK()->click();
    QCOMPARE(boxes.texts.size(), 2);
    QVERIFY(boxes.texts[1].startsWith(QStringLiteral("その他:")));
    QVERIFY(desk.has("Name=" + sjis("名前")));
    QVERIFY(desk.hasKey("SendInfMin") == false);
    // Esc is the cancel: the dialog goes.
    QTest::keyClick(box(d, "TxtPicEditPath"), Qt::Key_Escape);
    QTRY_VERIFY(!d || !d->isVisible());
}

void tst_Options::startAtLogonWritesAndRemovesTheAutostartEntry()
{
    // run-isolated.sh gives the test its own XDG_CONFIG_HOME.
    const QString entry =
        qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/zorvin.desktop");
    QVERIFY(!qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
    QVERIFY(!QFile::exists(entry));
    Desk desk;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    d->selectTab(6);
    QCheckBox *logon = check(d, "ChkStartAtLogon");
    QVERIFY(logon && logon->isVisible() && !logon->isChecked());
    QCOMPARE(logon->text(), QStringLiteral("ログオン時に起動する"));
    const QRect inSheet(logon->mapTo(d->sheet(6), QPoint(0, 0)), logon->size());
    QVERIFY(d->sheet(6)->rect().contains(inSheet));
    logon->setChecked(true);
    shoot(d, QStringLiteral("FrmOptions-6-logon"));
    Boxes boxes;
    d->cmdApply()->click();
    QVERIFY(desk.has("StartAtLogon=1"));
    QCOMPARE(desk.reloaded().StartAtLogon, 1);
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    file.close();
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY2(text.contains("\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + '\n'),
             text.constData());
    QVERIFY(text.contains(QStringLiteral("\nName=ぞるびん\n").toUtf8()));

    logon->setChecked(false);
    d->cmdOK()->click();
    QTRY_VERIFY(d.isNull());
    QCOMPARE(boxes.texts, QStringList());
    QVERIFY(desk.has("StartAtLogon=0"));
    QVERIFY(!QFile::exists(entry));
}

// A file a 2.66 copy wrote: the new key is off, and saving it on adds its line after every
// key that copy knows, leaving their bytes as they were (that copy reads the file as before).
void tst_Options::sealedOnlyIsOffByDefaultAndGoesAfterTheOlderKeys()
{
    QByteArray old266(kFilledOptionsIni);
    for (const QByteArray &ours : {QByteArray("StartAtLogon=1\r\n"), QByteArray("SndSealedOnly=1\r\n")}) {
        QVERIFY(old266.contains(ours));
        old266.replace(ours, QByteArray());
    }
    Desk desk(QStringLiteral("127.0.0.2"), QString(), old266);
    QCOMPARE(desk.self.ctx.settings.SndSealedOnly, 0);
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    d->selectTab(6);
    QCheckBox *sealedOnly = check(d, "ChkSndSealedOnly");
    QVERIFY(sealedOnly && sealedOnly->isVisible() && !sealedOnly->isChecked());
    QCOMPARE(sealedOnly->text(), QStringLiteral("暗号化できない相手には送信しない。"));
    sealedOnly->setChecked(true);
    shoot(d, QStringLiteral("FrmOptions-6-sealed-only"));
    Boxes boxes;
    d->cmdOK()->click();
    QTRY_VERIFY(d.isNull());
    QCOMPARE(boxes.texts, QStringList());
    QByteArray expected = old266;
    expected.insert(expected.indexOf("[AdrEdit]"), "StartAtLogon=0\r\nSndSealedOnly=1\r\n");
    QCOMPARE(desk.bytes(), expected);
    QCOMPARE(desk.self.ctx.settings.SndSealedOnly, 1);
    QCOMPARE(desk.reloaded().SndSealedOnly, 1);
    // The engine reads the choice where it sends.
    QCOMPARE(desk.self.engine.sealing().transferRefusal(QStringLiteral("127.0.0.9")),
             TransferSealing::unsealedText());
}

void tst_Options::enablingRulesFollowTheControls()
{
    Desk desk(QStringLiteral("127.0.0.2"), QString(),
              "[ZorvinSetting]\r\nRecvPicSound=2\r\nRecvPicSoundPlace=\r\nCaptAutoSave=1\r\n");
    desk.self.ctx.ImageLibLevel = 1;
    desk.self.ctx.ArchiverReady = false;
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    // Only the types this copy can write.
    QVERIFY(option(d, "OptAutoCaptSaveType", 0)->isEnabled());
    QVERIFY(!option(d, "OptAutoCaptSaveType", 1)->isEnabled());
    QVERIFY(option(d, "OptAutoCaptSaveType", 2)->isEnabled());
    QVERIFY(!option(d, "OptAutoCaptSaveType", 3)->isEnabled());
    QVERIFY(!option(d, "OptAutoRecvSaveType", 0)->isEnabled());

    // A wave file chosen but no path yet: path and browse on, play off until a path is typed.
    QVERIFY(box(d, "TxtRPicWavPath")->isEnabled());
    auto *play = child<QPushButton>(d, "CmdRPicWavPlay");
    QVERIFY(!play->isEnabled());
    box(d, "TxtRPicWavPath")->setFocus();
    type(box(d, "TxtRPicWavPath"), QStringLiteral("a"));
    QVERIFY(play->isEnabled());
    option(d, "OptRPicSound", 1)->setChecked(true);
    QVERIFY(!box(d, "TxtRPicWavPath")->isEnabled() && !play->isEnabled());

    QVERIFY(!check(d, "ChkSPLock")->isEnabled());
    check(d, "ChkSPHide")->setChecked(true);
    QVERIFY(check(d, "ChkSPLock")->isEnabled() && check(d, "ChkPicOpen")->isEnabled());

    QVERIFY(!box(d, "TxtMsgLogName")->isEnabled());
    check(d, "ChkMsgLog")->setChecked(true);
    QVERIFY(box(d, "TxtMsgLogName")->isEnabled() && option(d, "OptMsgLogType", 3)->isEnabled());

    QVERIFY(!option(d, "OptPicEditInf", 0)->isEnabled());
    box(d, "TxtPicEditPath")->setText(QStringLiteral("gimp"));
    QVERIFY(option(d, "OptPicEditInf", 1)->isEnabled());

    // The tab strip under the mouse and the arrow keys.
    const QRect tab = d->tabStrip().tabRect(4);
    QTest::mouseClick(d->picTab(), Qt::LeftButton, {}, tab.center());
    QCOMPARE(d->tabStrip().SelectedIndex(), 4);
    QVERIFY(d->sheet(4)->isVisible() && !d->sheet(0)->isVisible());
    QTest::keyClick(d->picTab(), Qt::Key_Right);
    QVERIFY(d->sheet(5)->isVisible() && !d->sheet(4)->isVisible());
    d->close();
}

void tst_Options::okAnnouncesTheNewNameToEngines()
{
    // A's broadcasts reach B; C is on another network, typed in by hand.
    Desk desk(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"));
    LoopbackEngine b(QStringLiteral("127.0.0.3"), QStringLiteral("佐藤"), QStringLiteral("営業"));
    LoopbackEngine c(QStringLiteral("127.0.0.4"), QStringLiteral("鈴木"), QStringLiteral("営業"));
    QVERIFY(desk.self.start() && b.start() && c.start());
    desk.self.ctx.NetworkReady = true;
    desk.self.engine.addresses().append(addressRow(QStringLiteral("C"), QStringLiteral("127.0.0.4"), "M"));

    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    box(d, "TxtName")->setText(QStringLiteral("田中"));
    box(d, "TxtGrp")->setText(QStringLiteral("開発"));
    d->cmdOK()->click();
    QTRY_VERIFY(d.isNull());
    for (LoopbackEngine *peer : {&b, &c}) {
        QTRY_COMPARE(peer->engine.addresses().FindAddressByIp(QStringLiteral("127.0.0.2")).EntryName,
                     QStringLiteral("田中 (h2)"));
        const AddressEntry row = peer->engine.addresses().FindAddressByIp(QStringLiteral("127.0.0.2"));
        QCOMPARE(row.EntryGroup, QStringLiteral("開発"));
        QCOMPARE(row.EntryVersion, QStringLiteral("266"));
    }

    // Without the network nothing goes out.
    desk.self.ctx.NetworkReady = false;
    d = desk.open();
    QVERIFY(d);
    box(d, "TxtName")->setText(QStringLiteral("木村"));
    QSignalSpy updating(&b.engine.events(), &EngineEvents::peerUpdating);
    d->cmdOK()->click();
    QTRY_VERIFY(d.isNull());
    // A datagram from A would arrive before this one from C.
    c.engine.BCastMsgSend(QStringLiteral("cBX266"), QStringLiteral("127.0.0.3"));
    QTRY_COMPARE(updating.size(), 1);
    QCOMPARE(updating[0][1].toString(), QStringLiteral("127.0.0.4"));
}

void tst_Options::groupListOffersKnownGroups()
{
    Desk desk;
    AddressStore &store = desk.self.engine.addresses();
    store.append(addressRow("a", "10.0.0.1", "", QStringLiteral("営業  ")));
    store.append(addressRow("b", "10.0.0.2", "", QString()));
    store.append(addressRow("c", "10.0.0.3", "", QStringLiteral("開発")));
    store.append(addressRow("d", "10.0.0.4", "", QStringLiteral("営業")));
    store.append(addressRow("e", "10.0.0.5", "", QStringLiteral("  ")));
    QCOMPARE(FrmOptGrpList::GroupNames(store), (QStringList{QStringLiteral("営業"), QStringLiteral("開発")}));

    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    box(d, "TxtGrp")->setText(QStringLiteral("typed"));
    child<QPushButton>(d, "CmdGrpList")->click();
    QPointer<FrmOptGrpList> list = d->findChild<FrmOptGrpList *>();
    QVERIFY(list);
    QVERIFY(QTest::qWaitForWindowExposed(list));
    QVERIFY(list->isModal());
    QCOMPARE(list->windowTitle(), QStringLiteral("ｸﾞﾙｰﾌﾟの選択"));
    QCOMPARE(list->CboGrpList()->count(), 2);
    QCOMPARE(list->CboGrpList()->currentIndex(), 0);
    QVERIFY(list->LblExp()->text().contains(QStringLiteral("ｸﾞﾙｰﾌﾟ名のﾘｽﾄです。")));
    shoot(list, QStringLiteral("FrmOptGrpList"));
    list->CboGrpList()->setCurrentIndex(1);
    list->CmdCan()->click();
    QTRY_VERIFY(list.isNull());
    QCOMPARE(box(d, "TxtGrp")->text(), QStringLiteral("typed"));

    child<QPushButton>(d, "CmdGrpList")->click();
    list = d->findChild<FrmOptGrpList *>();
    QVERIFY(list);
    list->CboGrpList()->setCurrentIndex(1);
    list->CmdOK()->click();
    QTRY_VERIFY(list.isNull());
    QCOMPARE(box(d, "TxtGrp")->text(), QStringLiteral("開発"));

    // No group on the network: OK leaves the typed group.
    store.clear();
    child<QPushButton>(d, "CmdGrpList")->click();
    list = d->findChild<FrmOptGrpList *>();
    QVERIFY(list);
    QCOMPARE(list->CboGrpList()->count(), 0);
    list->CmdOK()->click();
    QTRY_VERIFY(list.isNull());
    QCOMPARE(box(d, "TxtGrp")->text(), QStringLiteral("開発"));
    d->close();
}

void tst_Options::passwordButtonShowsTheNewPassword()
{
    Desk desk;
    desk.self.ctx.settings.Password = QStringLiteral("old");
    QPointer<FrmOptions> d = desk.open();
    QVERIFY(d);
    QLineEdit *shown = box(d, "TxtPW");
    QCOMPARE(shown->text(), QStringLiteral("old"));
    QCOMPARE(shown->displayText(), QStringLiteral("***"));
    child<QPushButton>(d, "CmdSetPW")->click();
    QPointer<FrmSetPW> setPW = desk.windows.find<FrmSetPW>(WindowKind::SetPW);
    QVERIFY(setPW && setPW->isModal());
    setPW->TxtPW(0)->setText(QStringLiteral("old"));
    setPW->TxtPW(1)->setText(QStringLiteral("new12"));
    setPW->TxtPW(2)->setText(QStringLiteral("new12"));
    setPW->CmdOK()->click();
    QTRY_VERIFY(setPW.isNull());
    QCOMPARE(shown->text(), QStringLiteral("new12"));
    // The password lives in its own file, not in the settings.
    d->cmdOK()->click();
    QTRY_VERIFY(d.isNull());
    QVERIFY(!desk.bytes().contains("new12"));
}

void tst_Options::programPickerListsExecutables()
{
    QTemporaryDir folder;
    QFile program(folder.filePath(QStringLiteral("viewer.sh")));
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.write("#!/bin/sh\n");
    program.close();
    program.setPermissions(program.permissions() | QFile::ExeOwner);
    QFile text(folder.filePath(QStringLiteral("notes.txt")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.close();
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("sub")));

    // The names the dialog's list shows under its current type, once the folder's three
    // entries are read (the dialog reads folders in the background).
    const auto listed = [](QFileDialog *dialog) {
        QStringList names;
        QAbstractProxyModel *model = dialog->proxyModel();
        auto *files = qobject_cast<QFileSystemModel *>(model->sourceModel());
        const QModelIndex sourceRoot = files->index(dialog->directory().absolutePath());
        if (files->rowCount(sourceRoot) < 3)
            return names;
        const QModelIndex root = model->mapFromSource(sourceRoot);
        for (int row = 0; row < model->rowCount(root); ++row)
            names << model->index(row, 0, root).data().toString();
        names.sort();
        return names;
    };
    QStringList programsOnly, everything;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog || !dialog->isVisible())
                continue;
            // A list that never comes ends the dialog, and the comparisons below fail.
            if (clock.elapsed() > 20000)
                QMetaObject::invokeMethod(dialog, "reject");
            const QStringList names = listed(dialog);
            if (names.isEmpty())
                continue;
            if (programsOnly.isEmpty()) {
                programsOnly = names;
                dialog->selectNameFilter(dialog->nameFilters().at(1));
                emit dialog->filterSelected(dialog->nameFilters().at(1));
            } else if (names.size() == 3) {
                everything = names;
                // As typed into its name box (selectFile leaves a box that has the focus alone).
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                    ->setText(QStringLiteral("notes.txt"));
                QMetaObject::invokeMethod(dialog, "accept");
            }
        }
    });
    poll.start();
    const QString chosen =
        ChooseProgram(nullptr, QStringLiteral("画像編集のアプリケーション"), folder.path());
    QCOMPARE(programsOnly, (QStringList{QStringLiteral("sub"), QStringLiteral("viewer.sh")}));
    QCOMPARE(everything,
             (QStringList{QStringLiteral("notes.txt"), QStringLiteral("sub"), QStringLiteral("viewer.sh")}));
    // A file that is no program is taken as chosen, as a typed path would be.
    QCOMPARE(chosen, folder.filePath(QStringLiteral("notes.txt")));
}

void tst_Options::firstRunCancelledAtStartupWritesNothing()
{
    QTemporaryDir data;
    ModZorvin ctx;
    placeCopy(ctx, QStringLiteral("127.0.0.5"), data.path());
    FrmSket sket(ctx);
    Boxes boxes;
    boxes.answer = QMessageBox::Cancel;
    bool dialogShown = false;
    OnWindow opt(QStringLiteral("FrmOpt"), [&](QWidget *w) {
        dialogShown = true;
        w->close();
    });
    QVERIFY(sket.Load());
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(boxes.texts[0].startsWith(QStringLiteral("ぞるびんをご利用いただきありがとうございます。\n\n")));
    QVERIFY(boxes.texts[0].endsWith(QStringLiteral("\n\n今、設定しますか？")));
    QVERIFY(!dialogShown);
    // Start-up wrote its version stamp, and none of the first-run keys.
    QFile ini(ctx.SettingsPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QStringList keys = keysInFile(ini.readAll());
    for (const char *key : {"Name", "Grp", "ZorvinOpMsg"})
        QVERIFY2(!keys.contains(QLatin1String(key)), key);
    sket.QuitWithoutQuestion();

    // The next start asks again.
    ModZorvin next;
    next.ProgramDir = ctx.ProgramDir;
    LoadSettings(next.settings, SettingsFile(next.SettingsPath()), next.ProgramDir);
    BoxHost host;
    QVERIFY(askFirstRun(next, host));
    QCOMPARE(boxes.texts.size(), 2);
}

void tst_Options::nothingIsAnnouncedBeforeTheFirstRunDialogIsAnswered()
{
    // A colleague's copy on 127.0.0.6 hears what this copy announces.
    QUdpSocket colleague;
    QVERIFY(colleague.bind(QHostAddress(QStringLiteral("127.0.0.6")), TestPort::port()));
    QTemporaryDir data;
    ModZorvin ctx;
    placeCopy(ctx, QStringLiteral("127.0.0.5"), data.path());
    ctx.net.broadcastAddress = QStringLiteral("127.0.0.6");
    FrmSket sket(ctx);
    Boxes boxes; // OK to "今、設定しますか？"
    QPointer<FrmOpt> dialog;
    OnWindow opt(QStringLiteral("FrmOpt"), [&](QWidget *w) { dialog = qobject_cast<FrmOpt *>(w); });
    QVERIFY(sket.Load());
    QTRY_VERIFY(dialog);
    QCOMPARE(boxes.texts.size(), 1);

    // The dialog is up and the event loop runs: no sockets, no announcement yet.
    QTest::qWait(300);
    QVERIFY(dialog->isVisible());
    QVERIFY(!colleague.hasPendingDatagrams());
    QVERIFY(!ctx.NetworkReady);
    QVERIFY(!sket.isStarted());

    dialog->TxtGrp()->setText(QStringLiteral("営業"));
    dialog->TxtName()->setText(QStringLiteral("鈴木"));
    dialog->CmdOK()->click();
    // Start-up goes on from the dialog's end; the first announcement carries the new name.
    QTRY_VERIFY(sket.isStarted());
    QVERIFY(ctx.NetworkReady);
    QVERIFY(colleague.waitForReadyRead(5000) || colleague.hasPendingDatagrams());
    QByteArray heard;
    while (colleague.hasPendingDatagrams())
        heard += colleague.receiveDatagram().data() + '\n';
    QVERIFY2(heard.startsWith("cBX"), heard.constData());
    QVERIFY(heard.contains(sjis("鈴木")));
    QVERIFY(heard.contains(sjis("営業")));
    QVERIFY(!heard.contains(sjis("未設定")));
    sket.QuitWithoutQuestion();
}

void tst_Options::firstRunOkWithNeverAgain()
{
    QTemporaryDir data;
    ModZorvin ctx;
    ctx.ProgramDir = data.path() + u'/';
    SettingsFile(ctx.SettingsPath())
        .WriteSetting(QStringLiteral("ZorvinSetting"), QStringLiteral("Grp"), QStringLiteral("総務"));
    LoadSettings(ctx.settings, SettingsFile(ctx.SettingsPath()), ctx.ProgramDir);
    Boxes boxes;
    QString presetGroup, presetName;
    OnWindow opt(QStringLiteral("FrmOpt"), [&](QWidget *w) {
        auto *dialog = qobject_cast<FrmOpt *>(w);
        presetGroup = dialog->TxtGrp()->text();
        presetName = dialog->TxtName()->text();
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("名前の設定"));
        QVERIFY(dialog->LblMsg()->text().startsWith(QStringLiteral("ぞるびんで扱う利用者のｸﾞﾙｰﾌﾟ名\n")));
        shoot(dialog, QStringLiteral("FrmOpt"));
        dialog->TxtGrp()->clear();
        dialog->ChkNOpMsg()->setChecked(true);
        dialog->CmdOK()->click();
    });
    BoxHost host;
    QVERIFY(askFirstRun(ctx, host));
    QVERIFY(opt.done);
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(presetGroup, QStringLiteral("総務"));
    QCOMPARE(presetName, QString());
    QFile ini(ctx.SettingsPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(ini.readAll(), "[ZorvinSetting]\r\nGrp=" + sjis("総務") + "\r\nName=" + sjis("未設定") +
                                "\r\nZorvinOpMsg=1\r\n");
    // The record learns it at the next start, which asks no more.
    QCOMPARE(ctx.settings.OpMsgDone, 0);
    LoadSettings(ctx.settings, SettingsFile(ctx.SettingsPath()), ctx.ProgramDir);
    QVERIFY(askFirstRun(ctx, host));
    QCOMPARE(boxes.texts.size(), 1);
}

void tst_Options::firstRunOnAReadOnlyFileSaysSo()
{
    QTemporaryDir data;
    ModZorvin ctx;
    ctx.ProgramDir = data.path() + u'/';
    SettingsFile(ctx.SettingsPath())
        .WriteSetting(QStringLiteral("ZorvinSetting"), QStringLiteral("Grp"), QStringLiteral("総務"));
    QVERIFY(QFile::setPermissions(ctx.SettingsPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = [&ctx] {
        QFile ini(ctx.SettingsPath());
        return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
    }();
    LoadSettings(ctx.settings, SettingsFile(ctx.SettingsPath()), ctx.ProgramDir);
    Boxes boxes;
    OnWindow opt(QStringLiteral("FrmOpt"), [&](QWidget *w) {
        auto *dialog = qobject_cast<FrmOpt *>(w);
        dialog->TxtName()->setText(QStringLiteral("山田"));
        dialog->ChkNOpMsg()->setChecked(true);
        dialog->CmdOK()->click();
    });
    BoxHost host;
    QVERIFY(askFirstRun(ctx, host));
    QVERIFY(opt.done);
    // The question, then the warning naming the file and the first key it refused; this run
    // goes on with the name.
    QCOMPARE(boxes.texts.size(), 2);
    QVERIFY2(boxes.texts[1].startsWith(QStringLiteral("設定を保存できませんでした。\n") + ctx.SettingsPath() +
                                       QStringLiteral("\nName: ")),
             qPrintable(boxes.texts[1]));
    QCOMPARE(ctx.settings.Name, QStringLiteral("山田"));
    QFile ini(ctx.SettingsPath());
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(ini.readAll(), before);
}

void tst_Options::firstRunAskedWhileGroupIsEmpty()
{
    QTemporaryDir data;
    ModZorvin ctx;
    ctx.ProgramDir = data.path() + u'/';
    ctx.settings.Name = QStringLiteral("田中");
    Boxes boxes;
    OnWindow opt(QStringLiteral("FrmOpt"), [&](QWidget *w) {
        auto *dialog = qobject_cast<FrmOpt *>(w);
        QCOMPARE(dialog->TxtName()->text(), QStringLiteral("田中"));
        dialog->TxtGrp()->setText(QStringLiteral("開発"));
        dialog->CmdCan()->click();
    });
    BoxHost host;
    QVERIFY(askFirstRun(ctx, host));
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(opt.done);
    // Cancelled in the dialog: nothing written.
    QVERIFY(!QFile::exists(ctx.SettingsPath()));
    QCOMPARE(ctx.settings.Grp, QString());

    // Name and group set: no question.
    ctx.settings.Grp = QStringLiteral("開発");
    QVERIFY(askFirstRun(ctx, host));
    QCOMPARE(boxes.texts.size(), 1);
}

ZORVIN_XVFB_MAIN(tst_Options, QSize(1280, 1024), true)
#include "tst_options.moc"
