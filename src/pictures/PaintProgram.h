// The paint-program command shared by the capture window, the received-image viewer and
// pinned pictures.
#pragma once

#include <functional>

class EngineHost;
class ModZorvin;
class QImage;

// Hands a picture to the paint program (PicEditApp): by the clipboard (`copy`) or as a
// bitmap file in the work folder, as PicEditAppInf says. Failures are told through `host`.
void StartPaintProgram(ModZorvin &ctx, EngineHost &host, const QImage &picture,
                       const std::function<void()> &copy);
