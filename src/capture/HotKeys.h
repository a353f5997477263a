// The resident window's six hotkeys: the menu and the five capture modes. Registers the
// configured keys at start (dropping and reporting those the system refuses), turns a
// pressed hotkey into the tray menu or a capture, and makes the hotkey dialog, which
// edits them.
#pragma once

#include <QLatin1String>
#include <QObject>
#include <QString>

#include <memory>

class clsHotKey;
class Commands;
class EngineHost;
class ModZorvin;
class ResidentIcon;
class WindowRegistry;

namespace WindowKind {
inline constexpr QLatin1String KeySet("FrmKeySet");
} // namespace WindowKind

class HotKeys : public QObject
{
    Q_OBJECT
  public:
    // Makes the hotkey object on the platform's hotkey window, registers the hotkey dialog
    // with `windows` and sets the handler of "mnuKeySet".
    HotKeys(ModZorvin &ctx, EngineHost &host, WindowRegistry &windows, Commands &commands, ResidentIcon &tray,
            QObject *parent = nullptr);
    ~HotKeys() override;

    clsHotKey &mclsHotKey() const { return *m_hotKey; }
    // False where the platform has no global hotkeys (the dialog then only explains).
    bool isSupported() const;

    // Registers the key text for the id (62410 + item). False for an empty text, a key the
    // table lacks, or a key the system refuses.
    bool SetHotKeyValue(int id, const QString &keyText);

    // The start-up registration of all six: the refused ones are listed in one message and
    // their texts are dropped; the six texts are written back to the settings file. Where
    // the platform takes no keys the texts stay as they are. On a Wayland session the
    // program says once where hotkeys work and what to use instead.
    void RegisterAll();
    // The quit: every key is given back.
    void UnregisterAll();
    // Writes the six key texts of the settings to the settings file.
    // Writes the six keys; the first refused as "key: reason", or empty when all were written.
    QString SaveKeys() const;

    // A hotkey was pressed: "62410" pops the menu, "62411".."62415" capture modes 0..4.
    void mclsHotKey_HotKey(const QString &id, int modifierMask, int virtualKey);

    // What the start-up says on a Wayland session.
    static QString WaylandNotice();

  private:
    ModZorvin &m_ctx;
    EngineHost &m_host;
    Commands &m_commands;
    ResidentIcon &m_tray;
    std::unique_ptr<clsHotKey> m_hotKey;
};
