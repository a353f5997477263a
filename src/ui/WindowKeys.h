// Keys every window of the program answers alike: Esc closes a plain window, a refused
// value is selected for retyping, and a menu's shared or disabled access keys still reach
// every enabled item.
#pragma once

#include <QChar>
#include <QList>
#include <QStringList>

class QAction;
class QComboBox;
class QMenu;
class QWidget;

// Esc closes `window` when neither the focused control nor the window itself had a use for
// it (a dialog's cancel, an open list, an editor). A window with the property
// kKeepsOpenOnEscape set to true is left alone.
void CloseOnEscape(QWidget *window);
inline constexpr char kKeepsOpenOnEscape[] = "keepsOpenOnEscape";

// Gives the control that held a refused value the focus with its text selected, so that
// what is typed next replaces it.
void SelectRefusedValue(QWidget *control);

// Lets the keyboard reach every enabled item of `menu` and of its sub-menus (also those
// added later): a letter held by one enabled item runs it (or opens its sub-menu); a letter
// several enabled items share moves to the next of them on each press, and Enter runs it.
// Disabled and hidden items are skipped.
void InstallMenuKeys(QMenu *menu);

// The item a press of `key` goes to among `actions` from `current` (may be null); null when
// no enabled, visible item has that access key. `only` says whether it is the only one.
QAction *NextAccessKeyItem(const QList<QAction *> &actions, QChar key, const QAction *current, bool *only);

// Type-ahead in a list of key names: the letters typed in quick succession pick the item
// named exactly so ("S" is S, not Space), otherwise the first item starting with them; a
// letter the current item starts with moves on among the items that start with it.
void MatchTypedNames(QComboBox *combo);

// The item `typed` picks among `names` from `current`; -1 when none starts with it.
int TypedNameIndex(const QStringList &names, const QString &typed, int current);
