// Two running copies in one test process: a sender engine and a receiver with the
// receiving side's windows (viewer and received list), each on its own 127.0.0.x and
// private folders, as the resident window wires them.
#pragma once

#include "net/AddressEntry.h"
#include "pictures/SendJobs.h"
#include "capture/CaptureCommands.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"
#include "password/PasswordWindows.h"
#include "receive/ReceiveWindows.h"
#include "support/LoopbackEngine.h"
#include "support/PlaceCopy.h"
#include "support/RecordingHost.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

struct SendingCopy
{
    explicit SendingCopy(const QString &ip)
    {
        placeCopy(ctx, ip, tmp.path());
        ctx.settings.Name = QStringLiteral("sender");
    }
    bool start() { return startOnLoopback(engine, ctx); }
    int send(const QImage &picture, const QString &to, const QString &source = QString(),
             SendChoices choices = {})
    {
        return SendJobs(engine).SendPicture(picture, source, {{QStringLiteral("recv"), to}}, choices);
    }

    QTemporaryDir tmp;
    ModZorvin ctx;
    RecordingHost host;
    NetEngine engine{ctx, host};
};

struct ReceivingCopy
{
    explicit ReceivingCopy(const QString &ip)
    {
        placeCopy(ctx, ip, tmp.path());
        ctx.ImageLibLevel = 2;
        ctx.settings.RecvFileSavePlace = tmp.path() + QStringLiteral("/RECVFILE");
        QDir().mkpath(ctx.settings.RecvFileSavePlace);
        engine = std::make_unique<NetEngine>(ctx, host);
        windows = std::make_unique<WindowRegistry>();
        commands = std::make_unique<Commands>(ctx, *engine, *windows);
        RegisterCaptureCommands(ctx, *engine, *commands, *windows);
        RegisterPasswordWindows(ctx, *windows);
        receive = std::make_unique<ReceiveWindows>(ctx, *engine, *windows, *commands,
                                                   [this](QWidget *, bool on) { flashes << on; });
    }
    ~ReceivingCopy()
    {
        // Windows first: they use the rest until they go.
        windows.reset();
        receive.reset();
        commands.reset();
        engine.reset();
    }
    bool start() { return startOnLoopback(*engine, ctx); }
    QString address() const { return ctx.net.bindAddress.toString(); }
    QString recvFile(const QString &name) const { return ctx.settings.RecvFileSavePlace + u'/' + name; }

    QTemporaryDir tmp;
    ModZorvin ctx;
    RecordingHost host;
    std::unique_ptr<NetEngine> engine;
    std::unique_ptr<WindowRegistry> windows;
    std::unique_ptr<Commands> commands;
    std::unique_ptr<ReceiveWindows> receive;
    QList<bool> flashes;
};
