#include "options/PasswordWindows.h"

#include "core/WindowRegistry.h"
#include "options/FrmPWCheck.h"
#include "options/FrmSetPW.h"

void RegisterPasswordWindows(ModZorvin &ctx, WindowRegistry &windows)
{
    windows.setFactory(WindowKind::SetPW, [&ctx] { return new FrmSetPW(ctx); });
    windows.setFactory(WindowKind::PWCheck, [&ctx] { return new FrmPWCheck(ctx); });
}
