#include "capture/HotKeys.h"

#include "capture/FrmKeySet.h"
#include "capture/FrmMain.h"
#include "capture/HotKeyNames.h"
#include "capture/clsHotKey.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "base/SettingsFile.h"
#include "base/SettingsTable.h"
#include "ui/ResidentIcon.h"
#include "ui/WindowRegistry.h"
#include "platform/HotKeyPlatform.h"

HotKeys::HotKeys(ModZorvin &ctx, EngineHost &host, WindowRegistry &windows, Commands &commands,
                 ResidentIcon &tray, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_host(host), m_commands(commands), m_tray(tray),
      m_hotKey(std::make_unique<clsHotKey>(HotKeyPlatform::create()))
{
    m_hotKey->setTarget(m_hotKey->platform().hotKeyWindow());
    // The key arrives inside Qt's handling of X events; the menu and the capture (which may
    // ask a question) run once that has returned.
    connect(m_hotKey.get(), &clsHotKey::HotKey, this, &HotKeys::mclsHotKey_HotKey, Qt::QueuedConnection);
    windows.setFactory(WindowKind::KeySet, [this] { return new FrmKeySet(m_ctx, *this); });
    commands.setHandler(QStringLiteral("mnuKeySet"), [&windows] { windows.open(WindowKind::KeySet); });
}

HotKeys::~HotKeys() = default;

bool HotKeys::isSupported() const
{
    return m_hotKey->platform().isSupported();
}

bool HotKeys::SetHotKeyValue(int id, const QString &keyText)
{
    if (keyText.isEmpty())
        return false;
    const int mask = HotKeyNames::ModifierMask(keyText);
    const int code = HotKeyNames::VirtualKeyCode(HotKeyNames::GetstrKey(keyText));
    return m_hotKey->mAddHotKey(QString::number(id), code, mask);
}

void HotKeys::RegisterAll()
{
    const bool wayland = HotKeyPlatform::isWaylandSession();
    // Without any way to take keys, dropping the user's keys would only lose them.
    if (isSupported()) {
        for (int item = 0; item < HotKeyNames::kCount; ++item)
            m_hotKey->mDeleteHotKey(HotKeyNames::IdText(item));
        QString failures;
        for (int item = 0; item < HotKeyNames::kCount; ++item) {
            QString &text = m_ctx.settings.HotKeys[size_t(item)];
            if (text.isEmpty() || SetHotKeyValue(HotKeyNames::kFirstId + item, text))
                continue;
            TellTerminal(QStringLiteral("hotkey %1 (%2): %3")
                             .arg(text, HotKeyNames::IdText(item), m_hotKey->lastError()));
            failures += HotKeyNames::FailureLabel(item) + text + u'\r';
            text.clear();
        }
        if (!failures.isEmpty()) {
            m_host.ShowMessageBox(
                QStringLiteral("以下のﾎｯﾄｷｰの登録に失敗しました。\r"
                               "既に他のｱｯﾌﾟﾘｹｰｼｮﾝによって設定されている可能性があります。\r"
                               "他のｷｰを設定して下さい。\r\r") +
                    failures,
                MsgBox::Exclamation);
        }
        // A file that refuses the write keeps the failed keys: the next start tries them again.
        SaveKeys();
    }
    if (wayland) {
        TellTerminal(WaylandNotice());
        m_tray.ShowNotice(WaylandNotice());
    }
}

void HotKeys::UnregisterAll()
{
    for (int item = 0; item < HotKeyNames::kCount; ++item)
        m_hotKey->mDeleteHotKey(HotKeyNames::IdText(item));
}

QString HotKeys::SaveKeys() const
{
    const SettingsFile file(m_ctx.SettingsPath());
    QString failed;
    for (int item = 0; item < HotKeyNames::kCount; ++item) {
        const SettingRow &row = HotKeyRow(item);
        QString error;
        if (!WriteSettingRow(file, m_ctx.settings, row, &error) && failed.isEmpty())
            failed = QLatin1String(row.key) + QStringLiteral(": ") + error;
    }
    return failed;
}

void HotKeys::mclsHotKey_HotKey(const QString &id, int, int)
{
    const int item = id.toInt() - HotKeyNames::kFirstId;
    if (item == 0) {
        m_tray.TrayPopupMenu();
    } else if (item >= 1 && item < HotKeyNames::kCount) {
        if (FrmMain *window = loadCaptureWindow(m_commands))
            window->CaptHotKey(item - 1);
    }
}

QString HotKeys::WaylandNotice()
{
    return QStringLiteral("Wayland のセッションでは、ほかのアプリケーションを使っている間にホットキーが"
                          "働きません。ホットキーを使うには X11 のセッションでログインして下さい。\r"
                          "Wayland のままでも、デスクトップのキーボードショートカットの設定で"
                          "「zorvin --capture 0」（0～4 はキャプチャの種類）をキーに割り当てると、"
                          "そのキーでキャプチャできます。");
}
