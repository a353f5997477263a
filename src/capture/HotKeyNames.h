// The hotkeys' ids, setting keys and labels, and the key texts they are stored as
// ("Ctrl+Shift+F5"): modifier names, key names and the virtual-key codes behind them.
#pragma once

#include <QList>
#include <QString>

namespace HotKeyNames {

// Item n (0 the menu, 1..5 capture modes 0..4) has the id kFirstId + n.
inline constexpr int kFirstId = 62410;
inline constexpr int kCount = 6;

// Modifier mask bits of a key text.
inline constexpr int kAlt = 1;
inline constexpr int kCtrl = 2;
inline constexpr int kShift = 4;

// The id as text ("62411"), the name the hotkey is registered under.
QString IdText(int item);
// "KeyMenu", "KeyCapt0".."KeyCapt4".
QString SettingKey(int item);
// The item's label in the failure list ("ﾃﾞｽｸﾄｯﾌﾟ全体 : ").
QString FailureLabel(int item);
// The item's caption in the hotkey dialog ("ﾃﾞｽｸﾄｯﾌﾟ全体").
QString Caption(int item);

// The key name: what follows the last "+", or the whole text without one.
QString GetstrKey(const QString &keyText);
// "Ctrl" anywhere gives kCtrl, "Alt" adds kAlt, "Shift" adds kShift.
int ModifierMask(const QString &keyText);
// The virtual-key code of a key name; 0 for a name the table lacks.
int VirtualKeyCode(const QString &keyName);
// The key text of a choice: "Ctrl+", "Alt+", "Shift+" as ticked, then the key name.
QString KeyText(bool ctrl, bool alt, bool shift, const QString &keyName);

struct KeyListEntry
{
    QString name;
    int code;
};
// The keys the dialog offers, in its order: A-Z, F1-F12, the named keys, 1-9.
QList<KeyListEntry> KeyList();

} // namespace HotKeyNames
