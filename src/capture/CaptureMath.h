// The arithmetic of the capture commands, kept apart from the screen so that it can be
// checked directly: delay ticks, the dragged area, the status texts.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace CaptureMath {

// Interval of the capture delay timer; the delay is counted in these ticks.
inline constexpr int kDelayTickMs = 500;
// The overlay start timer of the area capture.
inline constexpr int kOverlayStartMs = 100;

// The leading number of a text as a decimal value ("1.5s" reads 1.5, "abc" reads 0),
// the way a settings value typed by hand is taken.
double LeadingNumber(const QString &text);

// CaptWaitTicks for an IntTimer text: the seconds times two, rounded half to even and
// held in 16 bits. "0" gives 0 (the capture fires on the first tick), "3" gives 6.
int16_t WaitTicksFor(const QString &intTimer);

// One tick of the delay timer: takes the count and decrements it; true when the value
// taken was below 2, i.e. the capture fires on this tick.
bool TakeDelayTick(int16_t &waitTicks);

// The area of a drag from (x1, y1) to (x2, y2), whichever way it went, with the right
// and bottom edges exclusive.
QRect SelectionRect(int16_t x1, int16_t y1, int16_t x2, int16_t y2);

// Status bar panel 1: "640*480 ｷｬﾌﾟﾁｬ" after a capture, "640*480 ﾋﾟｸﾁｬｰﾌｧｲﾙ" after
// opening, dropping or pasting.
QString CaptureStatus(int width, int height);

// The menu captions of capture modes 0 to 4, as the capture window and the tray show them.
QStringList CaptureModeCaptions();
QString PictureFileStatus(int width, int height);

} // namespace CaptureMath
