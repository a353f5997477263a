// Window geometry is given in twips (the settings file keeps column widths in them too);
// the screen has 15 twips to the pixel.
#pragma once

#include <cmath>

inline constexpr int kTwipsPerPixel = 15;

inline int twipsToPixels(double twips)
{
    return int(std::lround(twips / kTwipsPerPixel));
}

inline int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}
