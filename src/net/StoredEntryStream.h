// Unpacks a packed transfer body while it arrives when the archive holds one stored
// (-lh0-) entry and nothing else: the entry's data goes straight into the output file and
// its CRC is checked at the end, so the archive is neither written nor copied again.
// Any other archive is passed through unchanged for the archiver to unpack afterwards.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QIODevice;

class StoredEntryStream
{
  public:
    enum class Mode { Undecided, Streaming, PassThrough };

    // `bodySize`: the archive's length from the transfer header; `itemName`: the name the
    // entry must have (the transfer header's item name).
    StoredEntryStream(qint64 bodySize, const QString &itemName);

    // Takes the next bytes of the body and writes to `out` what belongs there: the entry's
    // data while streaming, the archive unchanged when passing through (the first bytes
    // are held until the first header has been read). False when writing failed.
    bool feed(const QByteArray &bytes, QIODevice &out);

    Mode mode() const { return m_mode; }
    // After the last byte while streaming: 0 when the data matched the header's CRC and
    // size and the archive ended right after it, else an lzh error number.
    int finish() const;
    // The entry's modification time (seconds since 1970, UTC).
    qint64 modified() const { return m_mtime; }

  private:
    bool decide(QIODevice &out);
    bool take(const char *data, qint64 size, QIODevice &out);

    qint64 m_bodySize;
    QString m_itemName;
    Mode m_mode = Mode::Undecided;
    QByteArray m_lead;     // the first bytes while undecided
    qint64 m_dataLeft = 0; // entry bytes still to come while streaming
    qint64 m_dataSize = 0;
    qint64 m_tailBytes = 0;  // bytes seen after the data: the end mark
    bool m_tailIsEnd = true; // each of them was the end mark (0)
    quint16 m_crc = 0;
    quint16 m_expectedCrc = 0;
    qint64 m_mtime = 0;
};
