// A packed transfer body on its way in. An archive of one entry under the item's name
// (stored, -lh5-, -lh6- or -lh7-) and nothing else is unpacked while it arrives (a packed one
// on a worker thread of its own), so the archive is neither written nor read again; any other archive
// passes through unchanged for the archiver to unpack once it is complete.
#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

class QIODevice;

class ArrivingArchive : public QObject
{
    Q_OBJECT
  public:
    enum class Mode { Undecided, Unpacking, PassThrough };

    // `bodySize`: the archive's length from the transfer header; `itemName`: the name the
    // entry must have (the transfer header's item name); `outputPath`: the file the body
    // goes to (the file of the device given to feed(), existing and empty), which holds
    // the unpacked data instead when it is unpacked on arrival;
    // `mayUnpack`: asked with the size a packed entry declares, before a byte of it is
    // written, whether that may be written (it holds the room when it says yes); none: any.
    using RoomCheck = std::function<bool(qint64 declaredBytes)>;
    ArrivingArchive(qint64 bodySize, const QString &itemName, const QString &outputPath,
                    RoomCheck mayUnpack = {}, QObject *parent = nullptr);
    // Stops a running unpack and waits for its worker, which ends within one block of
    // output. The output file stays; what to do with it is the caller's business.
    ~ArrivingArchive() override;

    // Takes the next bytes of the body: passing through, they go to `out` unchanged (the
    // first bytes are held until the first header has been read); unpacking, a stored
    // entry's data goes to `out`, a packed entry's bytes to the worker, which writes the
    // output file itself. False when they cannot be saved: a
    // write failed, the output cannot be opened, or `mayUnpack` refused the entry.
    bool feed(const QByteArray &bytes, QIODevice &out);
    // While unpacking: enough bytes wait for the worker; feed no more until roomAvailable.
    bool full() const;
    // While unpacking, after the last byte of the body: the unpack finishes with what it has.
    void endOfBody();

    Mode mode() const { return m_mode; }
    QString outputPath() const { return m_outputPath; }
    // The entry's modification time (seconds since 1970, UTC).
    qint64 modified() const { return m_mtime; }

  signals:
    // The worker took bytes from a full queue: feeding may go on.
    void roomAvailable();
    // The unpack ended: 0 when the data matched the header's CRC and size and the archive
    // ended with the end mark right after it, else an lzh error number; lzh::ErrOutputWrite
    // when the output could not be written. Comes before endOfBody() when the data is
    // found bad early; never comes for an unpack stopped by destruction.
    void unpacked(int result);

  private:
    class Worker;
    bool decide(QIODevice &out);
    bool takeStored(const char *data, qint64 size, QIODevice &out);

    qint64 m_bodySize;
    QString m_itemName;
    QString m_outputPath;
    RoomCheck m_mayUnpack;
    Mode m_mode = Mode::Undecided;
    QByteArray m_lead; // the first bytes while undecided
    qint64 m_mtime = 0;
    // A packed entry is unpacked by the worker; a stored one is copied here.
    std::unique_ptr<Worker> m_worker;
    qint64 m_storedLeft = 0; // stored bytes still to come
    qint64 m_tailBytes = 0;  // bytes seen after the stored data: the end mark
    bool m_tailIsEnd = true; // each of them was the end mark (0)
    quint16 m_storedCrc = 0;
    quint16 m_expectedCrc = 0;
};
