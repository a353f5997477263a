#include "net/ArchiverQueue.h"

#include "lzh/LzhErrors.h"
#include "net/NetLog.h"
#include "net/UnlhaLibrary.h"

#include <QStorageInfo>
#include <limits>

namespace {

// The library writes a short result text there; nobody reads it.
constexpr int kOutputChars = 400;

} // namespace

qint64 unpackRoom(const QStorageInfo &storage, qint64 keepFreeBytes)
{
    if (!storage.isValid() || storage.bytesAvailable() < 0)
        return -1;
    return qMax<qint64>(0, storage.bytesAvailable() - keepFreeBytes);
}

ArchiverQueue::ArchiverQueue(QObject *parent) : QObject(parent), m_library(std::make_unique<UnlhaLibrary>()) {}

ArchiverQueue::~ArchiverQueue()
{
    // The result the worker posts back is dropped with this object.
    waitForRunning();
}

QString ArchiverQueue::ArchiverCommandLine(const QString &archivePath, const QString &secondPath, bool pack,
                                           const QString &entry)
{
    const QString command =
        pack ? QStringLiteral("a -n -+0 -gm ") : QStringLiteral("x -n -+0 -c1 -y -gf0 -gm ");
    QString line = command + u'"' + archivePath + u'"' + u' ' + u'"' + secondPath + u'"';
    if (!pack && !entry.isEmpty())
        line += u' ' + (u'"' + entry + u'"');
    return line;
}

ArchiverTicket ArchiverQueue::start(const QString &archivePath, const QString &secondPath, bool pack,
                                    const UnpackChoice &choice)
{
    return launch(archivePath, secondPath, pack, choice, false);
}

ArchiverTicket ArchiverQueue::startPackForSending(const QString &archivePath, const QString &file)
{
    return launch(archivePath, file, true, {}, true);
}

ArchiverTicket ArchiverQueue::launch(const QString &archivePath, const QString &secondPath, bool pack,
                                     const UnpackChoice &choice, bool headerOnlyWhenStored)
{
    if (m_runningId != 0)
        return {0, UnlhaLibrary::kBusy};
    // The command line quotes each path and has no escape; a Linux path may hold a double
    // quote, and would then name other files. Such a path is refused, never misread.
    if (archivePath.contains(u'"') || secondPath.contains(u'"') || choice.entry.contains(u'"'))
        return {0, lzh::ErrUnbalancedQuote};
    m_lastId = m_lastId == std::numeric_limits<int>::max() ? 1 : m_lastId + 1;
    const int id = m_runningId = m_lastId;
    m_cancel.store(false);
    m_inputRead.store(0);
    const QString line = ArchiverCommandLine(archivePath, secondPath, pack, choice.entry);
    const qint64 keepFree = pack ? -1 : choice.keepFreeBytes;
    UnlhaLibrary *library = m_library.get();
    // The previous command's thread has posted its result already: it ends at once.
    if (m_worker.joinable())
        m_worker.join();
    m_worker = std::thread([this, library, line, id, secondPath, keepFree, headerOnlyWhenStored] {
        UnlhaLimits limits;
        limits.cancel = &m_cancel;
        limits.headerOnlyWhenStored = headerOnlyWhenStored;
        limits.inputRead = &m_inputRead;
        // Measured here, right before the unpack: the free space may have changed since the
        // command was queued, and the query may be slow on a network folder.
        if (keepFree >= 0) {
            if (const qint64 room = unpackRoom(QStorageInfo(secondPath), keepFree); room >= 0)
                limits.maxTotalBytes = quint64(room);
        }
        QByteArray output(kOutputChars, '\0');
        const int result = library->Unlha(0, line, output.data(), kOutputChars, limits);
        QMetaObject::invokeMethod(
            this, [this, id, result] { onWorkerDone(id, result); }, Qt::QueuedConnection);
    });
    return {id, 0};
}

void ArchiverQueue::cancel(int id)
{
    if (id != 0 && id == m_runningId)
        m_cancel.store(true);
}

void ArchiverQueue::waitForRunning()
{
    cancel(m_runningId);
    if (m_worker.joinable())
        m_worker.join();
}

void ArchiverQueue::onWorkerDone(int id, int result)
{
    if (result != 0)
        qCDebug(lcNet) << "archiver command" << id << "ended with" << result << lzh::describe(result);
    if (id == m_runningId)
        m_runningId = 0;
    emit finished(id, result);
}
