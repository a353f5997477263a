// The archiver part of NetEngine: the calls into its queue and the start-up check.
#include "net/NetEngine.h"

#include "base/ModZorvin.h"
#include "net/UnlhaLibrary.h"

UnlhaLibrary &NetEngine::unlha() const
{
    return m_archiver->library();
}

ArchiverTicket NetEngine::RunArchiver(const QString &archivePath, const QString &secondPath, bool pack)
{
    return m_archiver->start(archivePath, secondPath, pack);
}

void NetEngine::CheckArchiver()
{
    UnlhaLibrary &library = unlha();
    // The library answers its version from a self-check on the calling thread; one that
    // cannot answer leaves the archiver off.
    if (library.UnlhaGetVersion() == 0)
        return;
    library.UnlhaSetCursorMode(0);
    m_ctx.ArchiverReady = true;
}
