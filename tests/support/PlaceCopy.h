// Where a copy under test lives: its address on the test port (broadcasts reach only
// itself) and its data and work folders inside a folder of the test's own.
#pragma once

#include "base/ModZorvin.h"
#include "support/TestPort.h"

#include <QHostAddress>
#include <QString>

inline void placeCopy(ModZorvin &ctx, const QString &ip, const QString &folder)
{
    ctx.net.bindAddress = QHostAddress(ip);
    ctx.net.broadcastAddress = ip;
    ctx.net.port = TestPort::port();
    ctx.ProgramDir = folder + u'/';
    ctx.MakeTempFolders(folder + QStringLiteral("/temp/"));
}
