#include "password/PasswordWindows.h"

#include "ui/WindowRegistry.h"
#include "password/FrmPWCheck.h"
#include "password/FrmSetPW.h"

#include <memory>

void RegisterPasswordWindows(ModZorvin &ctx, WindowRegistry &windows)
{
    windows.setFactory(WindowKind::SetPW, [&ctx] { return new FrmSetPW(ctx); });
    // The note about a missing password comes once per run, whichever item asks.
    windows.setFactory(WindowKind::PWCheck, [&ctx, noteShown = std::make_shared<bool>(false)] {
        return new FrmPWCheck(ctx, noteShown);
    });
}
