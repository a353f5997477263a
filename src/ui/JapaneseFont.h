// Fonts that hold Latin, kana and kanji alike, so that half-width katakana beside kanji and
// Latin letters are drawn from one font in one size, and font names other copies store
// ("ＭＳ Ｐゴシック") are drawn with the font this system really has for them.
#pragma once

#include <QFont>
#include <QString>

namespace JapaneseFont {

// True when `family` has kana and kanji.
bool coversJapanese(const QString &family);

// The installed Japanese family closest to the style `like` names (gothic or mincho,
// proportional "Ｐ" or fixed); proportional gothic when `like` says nothing. Empty when no
// installed family has Japanese.
QString installedFamily(const QString &like = QString());

// `desktop` (the desktop's UI font) itself when it holds Japanese; otherwise the same size
// in the installed Japanese family.
QFont uiFont(const QFont &desktop);

// The family text set in the font named `name` is drawn with here: the system's match for
// the name when that holds Japanese, else the installed Japanese family of its style.
QString shownFamily(const QString &name);

} // namespace JapaneseFont
