// The six hotkeys on a real X server, pressed with xdotool as from any other program: the
// key texts and their codes, a capture hotkey with Num Lock and Caps Lock on, the menu
// hotkey, a key another X client holds and a console-switch key (both dropped at start with
// the failure list and an emptied setting, leaving none of their grabs behind), the hotkey dialog's register
// with the old key put back when the new one is taken, its release and what closing stores, the keys given
// back at quit, and the note on a Wayland session.
#include "capture/CaptureEngine.h"
#include "capture/FrmKeySet.h"
#include "capture/FrmMain.h"
#include "capture/HotKeyNames.h"
#include "capture/HotKeys.h"
#include "capture/clsHotKey.h"
#include "ui/Commands.h"
#include "app/FrmSket.h"
#include "base/ModZorvin.h"
#include "base/SettingsFile.h"
#include "app/TrayIcon.h"
#include "ui/WindowRegistry.h"
#include "support/FirstRun.h"
#include "support/NextMessageBox.h"
#include "support/PlaceCopy.h"
#include "support/TestPort.h"
#include "support/XKeyCodes.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

// The default layout of Xvfb: Alt is Mod1, Num Lock Mod2. Ctrl+Alt+F1..F12 switch consoles
// there (the server keeps them), so the function keys go with Ctrl+Shift.
constexpr uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr uint16_t kCtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
constexpr uint16_t kNumLock = XCB_MOD_MASK_2;
constexpr uint32_t kF10 = 0xffc7, kF11 = 0xffc8, kF12 = 0xffc9, kK = 0x6b;

// Another program on the same X server that wants the same keys.
class OtherClient
{
  public:
    OtherClient() : m_c(xcb_connect(nullptr, nullptr)), m_codes(m_c)
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_c); }

    // A checked passive grab of the key on the root window, as our back-end takes them.
    bool grab(uint32_t keysym, uint16_t modifiers)
    {
        xcb_generic_error_t *error =
            xcb_request_check(m_c, xcb_grab_key_checked(m_c, 0, m_root, modifiers, m_codes.of(keysym),
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }
    void ungrab(uint32_t keysym, uint16_t modifiers)
    {
        xcb_ungrab_key(m_c, m_codes.of(keysym), m_root, modifiers);
        xcb_flush(m_c);
    }
    // The modifiers and lock state of the keyboard now.
    uint16_t state()
    {
        xcb_query_pointer_reply_t *r = xcb_query_pointer_reply(m_c, xcb_query_pointer(m_c, m_root), nullptr);
        const uint16_t mask = r ? r->mask : 0;
        std::free(r);
        return mask;
    }

  private:
    xcb_connection_t *m_c;
    xcb_window_t m_root = 0;
    XKeyCodes m_codes;
};

// A resident window on a private data folder with the given keys in its settings file.
struct Started
{
    QTemporaryDir data;
    ModZorvin ctx;
    std::unique_ptr<FrmSket> sket;
    explicit Started(const QStringList &keys)
    {
        placeCopy(ctx, QStringLiteral("127.0.0.11"), data.path());
        skipFirstRunPrompt(data.path());
        const SettingsFile file(ctx.SettingsPath());
        for (int item = 0; item < keys.size(); ++item)
            file.WriteSetting(QLatin1String(kSectionSettings), HotKeyNames::SettingKey(item), keys[item]);
        sket = std::make_unique<FrmSket>(ctx);
    }
    QString stored(int item) const
    {
        return SettingsFile(ctx.SettingsPath())
            .ReadSetting(QLatin1String(kSectionSettings), HotKeyNames::SettingKey(item));
    }
    FrmMain *captureWindow() const { return sket->windows().find<FrmMain>(WindowKind::Capture); }
};

} // namespace

class tst_HotKeys : public QObject
{
    Q_OBJECT
  public:
    tst_HotKeys(XvfbSession &session, const QString &skipReason)
        : m_session(session), m_skipReason(skipReason)
    {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }
    void keyTextsGiveCodesAndMasks_data();
    void keyTextsGiveCodesAndMasks();
    void captureAndMenuFromAnywhere();
    void keyHeldByAnotherClientIsDroppedAtStart();
    void dialogRestoresTheOldKeyWhenTheNewIsTaken();
    void waylandSessionIsTold();

  private:
    void press(const QString &keys)
    {
        QVERIFY(!m_session.run(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}).isNull());
    }

    XvfbSession &m_session;
    QString m_skipReason;
};

void tst_HotKeys::keyTextsGiveCodesAndMasks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("mask");
    QTest::newRow("ctrl alt F12") << "Ctrl+Alt+F12"
                                  << "F12" << 123 << 3;
    QTest::newRow("bare F5") << "F5"
                             << "F5" << 116 << 0;
    QTest::newRow("all three") << "Ctrl+Alt+Shift+Z"
                               << "Z" << 90 << 7;
    QTest::newRow("named with blank") << "Shift+Page Down"
                                      << "Page Down" << 34 << 4;
    QTest::newRow("arrow") << "Ctrl+↑"
                           << "↑" << 38 << 2;
    QTest::newRow("digit") << "Alt+9"
                           << "9" << 57 << 1;
    QTest::newRow("zero is not offered") << "Ctrl+0"
                                         << "0" << 0 << 2;
    QTest::newRow("F13 is no key") << "Ctrl+F13"
                                   << "F13" << 0 << 2;
    QTest::newRow("small letter") << "Ctrl+a"
                                  << "a" << 0 << 2;
    QTest::newRow("empty") << ""
                           << "" << 0 << 0;
}

void tst_HotKeys::keyTextsGiveCodesAndMasks()
{
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(int, code);
    QFETCH(int, mask);
    QCOMPARE(HotKeyNames::GetstrKey(text), name);
    QCOMPARE(HotKeyNames::VirtualKeyCode(name), code);
    QCOMPARE(HotKeyNames::ModifierMask(text), mask);
    // Every name the dialog offers has a code, and its key text reads back the same.
    const auto keys = HotKeyNames::KeyList();
    QCOMPARE(keys.size(), 26 + 12 + 12 + 9);
    for (const HotKeyNames::KeyListEntry &key : keys) {
        const QString built = HotKeyNames::KeyText(true, false, true, key.name);
        QCOMPARE(HotKeyNames::VirtualKeyCode(HotKeyNames::GetstrKey(built)), key.code);
        QCOMPARE(HotKeyNames::ModifierMask(built), HotKeyNames::kCtrl | HotKeyNames::kShift);
    }
}

void tst_HotKeys::captureAndMenuFromAnywhere()
{
    Started started({QStringLiteral("Ctrl+Alt+M"), QStringLiteral("Ctrl+Shift+F12")});
    FrmSket &sket = *started.sket;
    QVERIFY(sket.Load());
    QVERIFY(sket.hotKeys());
    QCOMPARE(sket.hotKeys()->mclsHotKey().ids(),
             QStringList({QStringLiteral("62410"), QStringLiteral("62411")}));
    FrmMain *window = started.captureWindow();
    QVERIFY(window);
    QSignalSpy captured(&window->capture(), &CaptureEngine::captured);

    press(QStringLiteral("ctrl+shift+F12"));
    QTRY_COMPARE(captured.count(), 1);
    QCOMPARE(captured.at(0).at(0).toInt(), int(CaptDeskTop));

    // With Num Lock on, then Caps Lock too, the key still reaches us.
    OtherClient other;
    press(QStringLiteral("Num_Lock"));
    QTRY_VERIFY(other.state() & kNumLock);
    press(QStringLiteral("ctrl+shift+F12"));
    QTRY_COMPARE(captured.count(), 2);
    press(QStringLiteral("Caps_Lock"));
    QTRY_VERIFY(other.state() & XCB_MOD_MASK_LOCK);
    press(QStringLiteral("ctrl+shift+F12"));
    QTRY_COMPARE(captured.count(), 3);
    press(QStringLiteral("Caps_Lock"));
    press(QStringLiteral("Num_Lock"));
    QTRY_COMPARE(other.state() & (kNumLock | XCB_MOD_MASK_LOCK), 0);

    // The menu key pops the resident menu at the pointer.
    QSignalSpy menuShown(&sket.tray(), &TrayIcon::aboutToShowMenu);
    press(QStringLiteral("ctrl+alt+m"));
    QTRY_VERIFY(sket.tray().menu()->isVisible());
    QCOMPARE(menuShown.count(), 1);
    sket.tray().menu()->hide();

    // While we hold it nobody else gets the key; after the quit it is free again.
    QVERIFY(!other.grab(kF12, kCtrlShift));
    sket.QuitWithoutQuestion();
    QVERIFY(other.grab(kF12, kCtrlShift));
    QVERIFY(other.grab(kF12, kCtrlShift | kNumLock));
}

void tst_HotKeys::keyHeldByAnotherClientIsDroppedAtStart()
{
    OtherClient other;
    QVERIFY(other.grab(kK, kCtrlAlt));
    // Item 1 is a console switch, item 2 is held by the other client, item 3 is free.
    Started started({QString(), QStringLiteral("Ctrl+Alt+F12"), QStringLiteral("Ctrl+Alt+K"),
                     QStringLiteral("Ctrl+Shift+F12")});
    QString message;
    onNextBox([&message](QMessageBox *box) {
        message = box->text();
        box->accept();
    });
    QVERIFY(started.sket->Load());
    QCOMPARE(message, QStringLiteral("以下のﾎｯﾄｷｰの登録に失敗しました。\n"
                                     "既に他のｱｯﾌﾟﾘｹｰｼｮﾝによって設定されている可能性があります。\n"
                                     "他のｷｰを設定して下さい。\n\n"
                                     "ﾃﾞｽｸﾄｯﾌﾟ全体 : Ctrl+Alt+F12\n"
                                     "ﾃﾞｽｸﾄｯﾌﾟ全体･ﾀｽｸﾊﾞｰ領域除く : Ctrl+Alt+K\n"));
    QCOMPARE(started.ctx.settings.KeyCapt(0), QString());
    QCOMPARE(started.ctx.settings.KeyCapt(1), QString());
    QCOMPARE(started.stored(1), QString());
    QCOMPARE(started.stored(2), QString());
    QCOMPARE(started.stored(3), QStringLiteral("Ctrl+Shift+F12"));
    QCOMPARE(started.sket->hotKeys()->mclsHotKey().ids(), QStringList({QStringLiteral("62413")}));
    // The lock variants granted before the refusal were given back.
    QVERIFY(other.grab(kK, kCtrlAlt | kNumLock));
    QVERIFY(other.grab(kK, kCtrlAlt | XCB_MOD_MASK_LOCK));
    started.sket->QuitWithoutQuestion();
}

void tst_HotKeys::dialogRestoresTheOldKeyWhenTheNewIsTaken()
{
    OtherClient other;
    QVERIFY(other.grab(kF11, kCtrlShift));
    Started started({QString(), QStringLiteral("Ctrl+Shift+F12")});
    FrmSket &sket = *started.sket;
    QVERIFY(sket.Load());
    QVERIFY(sket.commands().run(QStringLiteral("mnuKeySet")));
    auto *dialog = sket.windows().find<FrmKeySet>(WindowKind::KeySet);
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->LblKey(1)->text(), QStringLiteral("Ctrl+Shift+F12"));
    QCOMPARE(dialog->CboKey()->currentText(), QStringLiteral("A"));
    QVERIFY(dialog->OptCaptItem(0)->isChecked());

    // Options in the two containers still exclude each other.
    dialog->OptCaptItem(1)->click();
    QVERIFY(!dialog->OptCaptItem(0)->isChecked());
    dialog->ChkCtl()->click();
    dialog->ChkShift()->click();
    // Type-ahead picks the key named as typed: "S" is S, not Space; S again moves on among
    // the keys that start with it.
    QTest::keyClick(dialog->CboKey(), Qt::Key_S);
    QCOMPARE(dialog->CboKey()->currentText(), QStringLiteral("S"));
    QCOMPARE(dialog->TxtHotKey()->text(), QStringLiteral("Ctrl+Shift+S"));
    QTest::keyClick(dialog->CboKey(), Qt::Key_S);
    QCOMPARE(dialog->CboKey()->currentText(), QStringLiteral("Space"));
    dialog->CboKey()->setCurrentText(QStringLiteral("F11"));
    QCOMPARE(dialog->TxtHotKey()->text(), QStringLiteral("Ctrl+Shift+F11"));

    // Taken: said, and the old key is back and works.
    QString message;
    onNextBox([&message](QMessageBox *box) {
        message = box->text();
        box->accept();
    });
    dialog->CmdSet()->click();
    QVERIFY(message.startsWith(QStringLiteral("「Ctrl+Shift+F11」のﾎｯﾄｷｰの登録に失敗しました。")));
    QCOMPARE(dialog->LblKey(1)->text(), QStringLiteral("Ctrl+Shift+F12"));
    QSignalSpy captured(&started.captureWindow()->capture(), &CaptureEngine::captured);
    press(QStringLiteral("ctrl+shift+F12"));
    QTRY_COMPARE(captured.count(), 1);

    // A free key replaces it, and the old one is let go.
    dialog->CboKey()->setCurrentText(QStringLiteral("F10"));
    dialog->CmdSet()->click();
    QCOMPARE(dialog->LblKey(1)->text(), QStringLiteral("Ctrl+Shift+F10"));
    QVERIFY(other.grab(kF12, kCtrlShift));
    QVERIFY(!other.grab(kF10, kCtrlShift));
    press(QStringLiteral("ctrl+shift+F10"));
    QTRY_COMPARE(captured.count(), 2);

    // Released, then one key for two items is refused as well.
    dialog->CmdReset()->click();
    QCOMPARE(dialog->LblKey(1)->text(), QString());
    QVERIFY(other.grab(kF10, kCtrlShift));
    other.ungrab(kF10, kCtrlShift);
    dialog->CmdSet()->click();
    dialog->OptCaptItem(4)->click();
    message.clear();
    onNextBox([&message](QMessageBox *box) {
        message = box->text();
        box->accept();
    });
    dialog->CmdSet()->click();
    QVERIFY(!message.isEmpty());
    QCOMPARE(dialog->LblKey(4)->text(), QString());

    // Closing stores the labels.
    dialog->CmdCls()->click();
    QCOMPARE(started.ctx.settings.KeyCapt(0), QStringLiteral("Ctrl+Shift+F10"));
    QCOMPARE(started.stored(1), QStringLiteral("Ctrl+Shift+F10"));
    QCOMPARE(started.stored(4), QString());

    // A settings file that refuses the write is named when the dialog closes.
    QVERIFY(QFile::setPermissions(started.ctx.SettingsPath(), QFile::ReadOwner | QFile::ReadGroup));
    QVERIFY(sket.commands().run(QStringLiteral("mnuKeySet")));
    dialog = sket.windows().find<FrmKeySet>(WindowKind::KeySet);
    QVERIFY(dialog);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    message.clear();
    onNextBox([&message](QMessageBox *box) {
        message = box->text();
        box->accept();
    });
    dialog->CmdCls()->click();
    QVERIFY2(message.startsWith(QStringLiteral("設定を保存できませんでした。")), qPrintable(message));
    QVERIFY2(message.contains(started.ctx.SettingsPath()), qPrintable(message));
    QVERIFY2(message.contains(HotKeyNames::SettingKey(0) + QStringLiteral(": ")), qPrintable(message));
    QCOMPARE(started.stored(1), QStringLiteral("Ctrl+Shift+F10"));
    sket.QuitWithoutQuestion();
}

void tst_HotKeys::waylandSessionIsTold()
{
    qputenv("WAYLAND_DISPLAY", "wayland-test");
    Started started({QString(), QStringLiteral("Ctrl+Shift+F12")});
    QSignalSpy notices(&started.sket->tray(), &TrayIcon::noticeShown);
    const bool loaded = started.sket->Load();
    qunsetenv("WAYLAND_DISPLAY");
    QVERIFY(loaded);
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices.at(0).at(0).toString(), HotKeys::WaylandNotice());
    QVERIFY(HotKeys::WaylandNotice().contains(QStringLiteral("X11")));
    QVERIFY(HotKeys::WaylandNotice().contains(QStringLiteral("zorvin --capture")));
    // Through XWayland the keys still work for X programs, so they stay registered.
    QCOMPARE(started.sket->hotKeys()->mclsHotKey().ids(), QStringList({QStringLiteral("62411")}));
    started.sket->QuitWithoutQuestion();
}

ZORVIN_XVFB_MAIN(tst_HotKeys, QSize(800, 600), false)
#include "tst_hotkeys.moc"
