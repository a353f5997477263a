// The engine's archiver (RunArchiver): one command of the LZH library at a time on a
// worker thread of its own, its result reported on the engine's thread, so packing and
// unpacking never hold up sockets and timers. Nobody waits for it: a caller keeps the
// command's id and carries on when finished(id, result) arrives.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class QStorageInfo;
class UnlhaLibrary;

// The answer to a request: started (id above 0, finished(id, result) follows), or refused
// at once with `result`: UnlhaLibrary::kBusy while another command runs, or the error
// number of a path the command line cannot carry.
struct ArchiverTicket
{
    int id = 0;
    int result = 0;

    bool started() const { return id > 0; }
};

// What an unpack may write: one entry (by its bare name; empty: every entry), and the
// free space it must leave on the destination's file system. The declared sizes of the
// entries to write are checked against the free space less `keepFreeBytes` on the worker,
// right before the unpack and before a byte is written (lzh::ErrOutputLimit when they do
// not fit); negative: no check. Packing ignores both.
struct UnpackChoice
{
    QString entry;
    qint64 keepFreeBytes = -1;
};

// What an unpack may write on the file system of `storage`, leaving `keepFreeBytes` free;
// negative when its free space is unknown.
qint64 unpackRoom(const QStorageInfo &storage, qint64 keepFreeBytes);

class ArchiverQueue : public QObject
{
    Q_OBJECT
  public:
    explicit ArchiverQueue(QObject *parent = nullptr);
    // Stops a running command and waits for it to end: its worker uses the library, which
    // dies with this object.
    ~ArchiverQueue() override;

    // Packs `secondPath` into `archivePath` (pack) or unpacks `archivePath` into the folder
    // `secondPath`, which ends with "/", as `choice` says.
    ArchiverTicket start(const QString &archivePath, const QString &secondPath, bool pack,
                         const UnpackChoice &choice = {});
    // Packs `file` into `archivePath` for a transfer, with the same command line: when the
    // file goes stored into a new archive, only the entry's header is written, and the
    // sender streams the file behind it (lzh::storedBehind() tells which).
    ArchiverTicket startPackForSending(const QString &archivePath, const QString &file);

    // From start() until the command's finished has been emitted; start() answers busy.
    bool isBusy() const { return m_runningId != 0; }
    // The command running now (0 when none) and, for a pack, the bytes of its file read so
    // far (a pack that ends up stored reads the file twice).
    int runningId() const { return m_runningId; }
    quint64 packInputRead() const { return m_inputRead.load(std::memory_order_relaxed); }

    // Asks command `id`, when it runs, to stop: it ends with lzh::ErrCancelled within one
    // block of output (unpack) or one piece of input (pack), having removed what it wrote.
    void cancel(int id);

    // Stops the running command, then blocks until it has ended, which takes no longer than
    // one block or piece (quit, before the work folders go). Its finished still comes
    // through the event loop, if that runs again.
    void waitForRunning();

    // The exact command line a command hands to the library; an unpack of one entry names
    // it after the folder, as LHA archivers take it.
    static QString ArchiverCommandLine(const QString &archivePath, const QString &secondPath, bool pack,
                                       const QString &entry = QString());

    UnlhaLibrary &library() const { return *m_library; }

  signals:
    // Command `id` ended: 0 success, any other value an error number (src/lzh/LzhErrors.h).
    // Emitted once the archiver is free again, so a receiver may start the next command.
    void finished(int id, int result);

  private:
    ArchiverTicket launch(const QString &archivePath, const QString &secondPath, bool pack,
                          const UnpackChoice &choice, bool headerOnlyWhenStored);
    void onWorkerDone(int id, int result);

    std::unique_ptr<UnlhaLibrary> m_library;
    // The running command's thread; joined by the next command or by waitForRunning. A
    // standard thread, so that the thread sanitizer sees its start and end.
    std::thread m_worker;
    int m_runningId = 0;
    int m_lastId = 0;
    // Raised to stop the running command; lowered when the next command starts.
    std::atomic<bool> m_cancel{false};
    std::atomic<uint64_t> m_inputRead{0};
};
