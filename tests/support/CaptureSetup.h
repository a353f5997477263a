// What a GUI test of the capture side needs: a private data folder and Qt settings, one
// engine on the test port, the window registry and the command table that makes the
// capture window (with its selection hooks) as the program does.
#pragma once

#include "capture/CaptureCommands.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"
#include "support/RecordingHost.h"
#include "support/TestPort.h"

#include <QTemporaryDir>

#include <memory>

class CaptureSetup
{
  public:
    CaptureSetup()
    {
        qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
        ctx.ProgramDir = dir.path() + u'/';
        ctx.MakeTempFolders(dir.filePath(QStringLiteral("tmp")) + u'/');
        ctx.net.port = TestPort::port();
        engine = std::make_unique<NetEngine>(ctx, host);
        windows = std::make_unique<WindowRegistry>();
        commands = std::make_unique<Commands>(ctx, *engine, *windows);
        RegisterCaptureCommands(ctx, *engine, *commands, *windows);
    }
    ~CaptureSetup()
    {
        // Windows first: they use the commands and the engine until they go.
        windows.reset();
        commands.reset();
        engine.reset();
    }

    QTemporaryDir dir;
    ModZorvin ctx;
    RecordingHost host;
    std::unique_ptr<NetEngine> engine;
    std::unique_ptr<WindowRegistry> windows;
    std::unique_ptr<Commands> commands;
};
