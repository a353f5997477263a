// The archiver calls of the engine: the two command lines and the start-up check.
#include "net/NetEngine.h"

#include "lzh/LzhErrors.h"

#include "core/ModZorvin.h"
#include "net/UnlhaLibrary.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

QString NetEngine::ArchiverCommandLine(const QString &archivePath, const QString &secondPath, bool pack)
{
    const QString command =
        pack ? QStringLiteral("a -n -+0 -gm ") : QStringLiteral("x -n -+0 -c1 -y -gf0 -gm ");
    return command + u'"' + archivePath + u'"' + u' ' + u'"' + secondPath + u'"';
}

UnlhaLibrary &NetEngine::unlha()
{
    if (!m_unlha)
        m_unlha = std::make_unique<UnlhaLibrary>();
    return *m_unlha;
}

int NetEngine::RunArchiver(const QString &archivePath, const QString &secondPath, bool pack)
{
    UnlhaLibrary &library = unlha();
    // A call from a timer or socket event while another call waits below.
    if (m_archiverRunning || library.isBusy())
        return UnlhaLibrary::kBusy;
    // The command line quotes each path and has no escape; a Linux path may hold a double
    // quote, and would then name other files. Such a path is refused, never misread.
    if (archivePath.contains(u'"') || secondPath.contains(u'"'))
        return lzh::ErrUnbalancedQuote;
    m_archiverRunning = true;
    const QString line = ArchiverCommandLine(archivePath, secondPath, pack);
    QByteArray output(400, '\0');
    int result = UnlhaLibrary::kBusy;
    // Packing 100 MB takes seconds: the work runs on a worker thread while this thread
    // keeps serving timers and sockets in a local loop, as the other waits of the engine do.
    std::unique_ptr<QThread> worker(QThread::create(
        [&library, &line, &output, &result] { result = library.Unlha(0, line, output.data(), 400); }));
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    m_archiverRunning = false;
    return result;
}

void NetEngine::CheckArchiver()
{
    UnlhaLibrary &library = unlha();
    // The wait is bounded: a library that never answers leaves the archiver off.
    for (int tries = 0; library.UnlhaGetVersion() == 0 && tries < 100; ++tries)
        QCoreApplication::processEvents();
    if (library.UnlhaGetVersion() == 0)
        return;
    library.UnlhaSetCursorMode(0);
    m_ctx.ArchiverReady = true;
}
