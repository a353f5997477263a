// The body of an archive whose one stored entry was packed as a header alone: the header,
// the item's first `dataBytes` bytes read from the item itself, and the end mark. Read
// once, front to back, by the sending connection.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

class StoredArchiveBody : public QIODevice
{
  public:
    StoredArchiveBody(QByteArray header, const QString &item, qint64 dataBytes);
    bool open(OpenMode mode) override;
    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

  private:
    QByteArray m_header;
    qint64 m_headerAt = 0;
    QFile m_item;
    qint64 m_dataLeft;
    bool m_endSent = false;
};
