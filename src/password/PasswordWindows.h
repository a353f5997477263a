// The two password dialogs as single windows of the registry.
#pragma once

#include <QLatin1String>

class ModZorvin;
class WindowRegistry;

namespace WindowKind {
inline constexpr QLatin1String SetPW("FrmSetPW");
inline constexpr QLatin1String PWCheck("FrmPWCheck");
} // namespace WindowKind

void RegisterPasswordWindows(ModZorvin &ctx, WindowRegistry &windows);
