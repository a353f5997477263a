// A sealed transfer connection as a device: it runs the handshake over a connected socket,
// then seals what is written into records and hands on what the peer's records carry once
// they verify. The transfer code reads and writes it as it does a plain socket; the socket
// stays the one to watch for closes, errors and what is still queued.
#pragma once

#include "net/TransferHandshake.h"

#include <QByteArray>
#include <QIODevice>
#include <memory>

class Identity;
class QTcpSocket;
class SealedReader;
class SealedWriter;

class SealedSocket : public QIODevice
{
    Q_OBJECT
  public:
    enum class Role { Opener, Acceptor };
    // `peerKey`: the key pinned for the peer. The device lives as the socket's child.
    SealedSocket(QTcpSocket *socket, const Identity &own, const QByteArray &peerKey, Role role);
    ~SealedSocket() override;

    // The opener sends its offer; the acceptor takes the offer waiting in the socket.
    void start();
    bool isEstablished() const { return m_established; }
    bool isBroken() const { return m_broken; }
    // The plain bytes this side writes in all: the record that completes them ends the
    // stream, so the peer can tell a whole transfer from one cut short.
    void setPlainTotal(qint64 bytes) { m_plainTotal = bytes; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;

    // Plain bytes a sealed transfer of `plain` bytes puts on the wire beyond them.
    static qint64 wireOverhead(qint64 plain);
    // The largest record this side writes.
    static constexpr qint64 kRecordBytes = 256 * 1024;

  signals:
    // The handshake verified; records flow from now on.
    void established();
    // The handshake or a record failed to verify; nothing more is read or written.
    void broken();

  protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

  private:
    void onSocketData();
    // Opens records waiting in the socket while little plain data is unread.
    void takeArrived();
    void fail();

    QTcpSocket *m_socket;
    TransferHandshake m_handshake;
    Role m_role;
    std::unique_ptr<SealedWriter> m_writer;
    std::unique_ptr<SealedReader> m_reader;
    QByteArray m_plain;
    qsizetype m_plainAt = 0;
    qint64 m_plainTotal = -1;
    qint64 m_plainWritten = 0;
    bool m_started = false;
    bool m_established = false;
    bool m_broken = false;
};
