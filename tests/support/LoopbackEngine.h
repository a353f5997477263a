// One running copy inside a test process: an engine bound to its own loopback address on
// the test's port, whose announcements and goodbyes go to one address of the test's choice
// (loopback has no broadcast), with a host that answers every question with OK.
#pragma once

#include "base/ModZorvin.h"
#include "net/Identity.h"
#include "net/NetEngine.h"
#include "net/PeerKeys.h"
#include "support/RecordingHost.h"
#include "support/TestPort.h"

#include <QDebug>
#include <QDir>

// Opens the engine's sockets; its host name becomes "h" and the last number of its address.
inline bool startOnLoopback(NetEngine &engine, ModZorvin &ctx)
{
    QString text;
    int number = 0;
    if (!engine.OpenSockets(&text, &number)) {
        qWarning() << "OpenSockets" << number << text;
        return false;
    }
    ctx.LocalHostName = "h" + ctx.LocalIp.section('.', 3);
    return true;
}

// Two copies above 2.66 with their sockets open, as after each heard the other's "captPK":
// each pins the other's key under the host name and address the other speaks from.
inline void pinEachOther(NetEngine &a, NetEngine &b)
{
    a.peerKeys().offer(b.context().LocalHostName, b.context().LocalIp, b.identity().publicKey());
    b.peerKeys().offer(a.context().LocalHostName, a.context().LocalIp, a.identity().publicKey());
}

struct LoopbackEngine
{
    // `broadcastTo` empty: the copy's "broadcast" reaches itself only.
    LoopbackEngine(const QString &ip, const QString &name, const QString &group,
                   const QString &broadcastTo = QString())
    {
        ctx.net.bindAddress = QHostAddress(ip);
        ctx.net.broadcastAddress = broadcastTo.isEmpty() ? ip : broadcastTo;
        ctx.net.port = TestPort::port();
        ctx.settings.Name = name;
        ctx.settings.Grp = group;
    }

    bool start() { return startOnLoopback(engine, ctx); }
    // A copy above 2.66: its data folder is `dataDir`, where its key pair is made, so that
    // it announces its key and pins the others'.
    bool loadIdentity(const QString &dataDir)
    {
        ctx.ProgramDir = dataDir + u'/';
        engine.LoadIdentity(true);
        return engine.identity().isReady();
    }

    // Folders of its own under `dir` for transfers: its work folders and the received files.
    void keepFilesIn(const QString &dir)
    {
        ctx.MakeTempFolders(dir + QStringLiteral("/temp"));
        ctx.settings.RecvFileSavePlace = dir + QStringLiteral("/RECVFILE");
        QDir().mkpath(ctx.settings.RecvFileSavePlace);
    }

    ModZorvin ctx;
    RecordingHost host;
    NetEngine engine{ctx, host};
};
