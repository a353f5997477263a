#include "capture/CaptureCommands.h"

#include "base/ModZorvin.h"
#include "capture/CaptureMath.h"
#include "capture/FrmMain.h"
#include "capture/FrmSelect.h"
#include "pictures/FrmDTopImg.h"
#include "pictures/ModPrint.h"
#include "pictures/ModWall.h"
#include "ui/Commands.h"
#include "ui/ToolbarLayout.h"
#include "ui/WindowRegistry.h"

#include <QStringList>

FrmMain *captureWindow(const Commands &commands)
{
    return commands.windows().find<FrmMain>(WindowKind::Capture);
}

FrmMain *loadCaptureWindow(Commands &commands)
{
    return commands.windows().load<FrmMain>(WindowKind::Capture);
}

void RegisterCaptureCommands(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows)
{
    windows.setFactory(WindowKind::Capture, [&ctx, &engine, &commands, &windows] {
        auto *window = new FrmMain(ctx, engine, commands);
        // Pinned pictures on the always-on-top layer come back above the others.
        FrmSelect::attach(*window, windows, [&windows] { FrmDTopImg::Restack(windows); });
        return window;
    });

    // A command of the capture window does nothing while that window is not loaded, so
    // "always" there means "whenever the window shows the command".
    const auto always = [] { return true; };
    // An empty capture (a click without a drag) leaves HasPicture set and nothing to use.
    const auto picture = [&commands] {
        const FrmMain *window = captureWindow(commands);
        return window && window->HasPicture() && !window->picture().isNull();
    };
    const auto hasPicture = [&commands] {
        const FrmMain *window = captureWindow(commands);
        return window && window->HasPicture();
    };
    const auto onWindow = [&commands](void (FrmMain::*method)()) {
        return [&commands, method] {
            if (FrmMain *window = captureWindow(commands))
                (window->*method)();
        };
    };
    const auto hideWindow = [&commands] {
        if (FrmMain *window = captureWindow(commands))
            window->hide();
    };
    const auto set = [&commands](const char *name, std::function<void()> handler, std::function<bool()> rule) {
        commands.setHandler(QString::fromLatin1(name), std::move(handler), std::move(rule));
    };

    set("mnuOpen", onWindow(&FrmMain::OpenCommand), always);
    set("mnuSave", onWindow(&FrmMain::SaveCommand), picture);
    set("mnuSend", onWindow(&FrmMain::PicTran), [&commands, picture] { return commands.canSend() && picture(); });
    set("mnuFileTran", onWindow(&FrmMain::FileTran), [&commands] { return commands.canSend(); });
    const auto wallpaper = [&ctx, &commands](const char *style) {
        return [&ctx, &commands, style] {
            if (FrmMain *window = captureWindow(commands))
                ModWall::SetWallpaper(ctx, window->picture(), QLatin1String(style), &commands);
        };
    };
    set("mnuWallCenter", wallpaper("0"), picture);
    set("mnuWallTile", wallpaper("1"), picture);
    set(
        "mnuDTopImg",
        [&ctx, &engine, &commands] {
            if (FrmMain *window = captureWindow(commands))
                FrmDTopImg::Pin(ctx, engine, commands, window->picture());
        },
        picture);
    set(
        "mnuPrint",
        [&commands] {
            if (FrmMain *window = captureWindow(commands))
                ModPrint::TellResult(ModPrint::PrintPicture(commands.printTarget(), window->picture()), window);
        },
        picture);
    set(
        "mnuClose",
        [&commands] {
            if (FrmMain *window = captureWindow(commands))
                window->close();
        },
        always);
    set("mnuCut", onWindow(&FrmMain::Cut), picture);
    set("mnuCopy", onWindow(&FrmMain::Copy), picture);
    commands.setHandler(QStringLiteral("mnuPest"), onWindow(&FrmMain::Paste));
    set("mnuClear", onWindow(&FrmMain::Clear), hasPicture);
    set("mnuPaint", onWindow(&FrmMain::OpenPaintProgram),
        [&ctx, picture] { return !ctx.settings.PicEditApp.isEmpty() && picture(); });
    commands.setHandler(QStringLiteral("mnuBackColorSet"), onWindow(&FrmMain::ChooseBackground));
    commands.setHandler(QStringLiteral("mnuBackColorDefault"), onWindow(&FrmMain::DefaultBackground));
    commands.setHandler(QStringLiteral("mnuToolbarEdit"), onWindow(&FrmMain::EditToolbar));
    commands.setHandler(QStringLiteral("mnuHelpContents"), onWindow(&FrmMain::ShowHelp));
    commands.setHandler(QStringLiteral("mnuPHide"), hideWindow);
    commands.setHandler(QStringLiteral("mnuHide"), hideWindow);

    // The capture button at position p captures mode p − 5; a capture loads the window
    // (hidden) when it was closed.
    const QStringList captions = CaptureMath::CaptureModeCaptions();
    for (int mode = 0; mode < captions.size(); ++mode) {
        const ToolButtonDef *button = ToolbarLayout::ButtonAt(mode + ToolbarLayout::kFirstCapturePosition);
        const QByteArray name = QStringLiteral("mnuCaptureItem%1").arg(mode).toLatin1();
        commands.add(
            name.constData(), captions[mode], button->key,
            [&commands, mode] {
                if (FrmMain *window = loadCaptureWindow(commands))
                    window->GetCaptureItem(mode);
            },
            always);
    }
}
