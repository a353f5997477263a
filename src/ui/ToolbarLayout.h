// The capture window's toolbar buttons: their fixed positions, keys and tooltips, and
// the user's arrangement of them kept in the user's Qt settings.
#pragma once

#include <QString>
#include <QStringList>

#include <span>

struct ToolButtonDef
{
    // Position in the default order, separators counted. The enabling rules and the
    // capture modes (position − 5) go by this number, wherever the user moved the button.
    int position;
    const char *key; // empty for a separator
    const char *tooltip;

    bool isSeparator() const { return key[0] == '\0'; }
};

namespace ToolbarLayout {

// The separator's entry in a layout.
inline constexpr char kSeparator[] = "-";
// Where the arrangement is kept: QSettings(kOrganization, kApplication), key kKey.
inline constexpr char kOrganization[] = "Velmora";
inline constexpr char kApplication[] = "Zorvin";
inline constexpr char kKey[] = "ToolBar";
// The first capture button; the capture mode is position − kFirstCapturePosition.
inline constexpr int kFirstCapturePosition = 5;

// The 27 positions in their default order.
std::span<const ToolButtonDef> Buttons();
// The button with that key, or null.
const ToolButtonDef *ButtonByKey(const QString &key);
const ToolButtonDef *ButtonAt(int position);

// A layout is the list of keys as shown, kSeparator for a separator.
QStringList DefaultLayout();
// Drops unknown and repeated keys; an empty result gives the default layout.
QStringList Sanitized(const QStringList &layout);

QStringList Load();
void Save(const QStringList &layout);

} // namespace ToolbarLayout
