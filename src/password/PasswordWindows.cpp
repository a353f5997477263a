#include "password/PasswordWindows.h"

#include "ui/WindowRegistry.h"
#include "password/FrmPWCheck.h"
#include "password/FrmSetPW.h"

void RegisterPasswordWindows(ModZorvin &ctx, WindowRegistry &windows)
{
    windows.setFactory(WindowKind::SetPW, [&ctx] { return new FrmSetPW(ctx); });
    windows.setFactory(WindowKind::PWCheck, [&ctx] { return new FrmPWCheck(ctx); });
}
