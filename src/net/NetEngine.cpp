#include "net/NetEngine.h"

#include "core/EngineHost.h"
#include "core/ModZorvin.h"

#include <QDir>

namespace {

void deleteFilesIn(const QString &folder)
{
    QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
}

} // namespace

NetEngine::NetEngine(ModZorvin &ctx, EngineHost &host, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_host(host)
{
}

NetEngine::~NetEngine() = default;

void NetEngine::EmptyWorkFolders()
{
    deleteFilesIn(m_ctx.SendTempDir);
    deleteFilesIn(m_ctx.RecvTempDir);
    deleteFilesIn(m_ctx.WorkDir);
}

void NetEngine::RemoveWorkFolders()
{
    EmptyWorkFolders();
    QDir().rmdir(m_ctx.SendTempDir);
    QDir().rmdir(m_ctx.RecvTempDir);
    QDir().rmdir(m_ctx.WorkDir);
    QDir().rmdir(m_ctx.TempPath);
}
