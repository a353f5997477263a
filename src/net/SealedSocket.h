// A sealed transfer connection as a device: it runs the handshake over a connected socket,
// then seals what is written into records and hands on what the peer's records carry once
// they verify. Large records are sealed and opened on worker threads, several at once, and
// go out or come in in their order. The transfer code reads and writes it as it does a plain
// socket; the socket stays the one to watch for closes, errors and what is still queued.
#pragma once

#include "net/SealedStream.h"
#include "net/TransferHandshake.h"

#include <QByteArray>
#include <QIODevice>
#include <deque>
#include <memory>
#include <vector>

class Identity;
class QTcpSocket;
class WorkerThreads;
class RecordPipeline;

class SealedSocket : public QIODevice
{
    Q_OBJECT
  public:
    enum class Role { Opener, Acceptor };
    // `peerKey`: the key pinned for the peer; `workers` seal and open the large records. The
    // device lives as the socket's child.
    SealedSocket(QTcpSocket *socket, const Identity &own, const QByteArray &peerKey, Role role,
                 std::shared_ptr<WorkerThreads> workers);
    ~SealedSocket() override;

    // The opener sends its offer; the acceptor takes the offer waiting in the socket.
    void start();
    bool isEstablished() const { return m_established; }
    bool isBroken() const { return m_broken; }
    // The plain bytes this side writes in all: the record that completes them ends the
    // stream, so the peer can tell a whole transfer from one cut short.
    void setPlainTotal(qint64 bytes) { m_plainTotal = bytes; }
    // The opener takes these exact bytes, plain, in place of the answer and reads them as
    // it reads the peer's records: a receiver that turns a connection away before the
    // handshake says so in the clear. Nothing else plain is taken.
    void acceptPlainAnswer(const QByteArray &bytes) { m_plainAnswer = bytes; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    // What the socket still holds and what waits to be sealed.
    qint64 bytesToWrite() const override;

    // The largest record this side writes.
    static constexpr qint64 kRecordBytes = 256 * 1024;

  signals:
    // The handshake verified; records flow from now on.
    void established();
    // The handshake or a record failed to verify; nothing more is read. After the handshake
    // this side may still write (a refusal); before it, nothing is written.
    void broken();

  protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

  private:
    void onSocketData();
    bool takeHandshake();
    // Frames the records waiting in the socket and opens them while little plain data is
    // unread, and keeps what opened in order.
    void takeArrived();
    void keepPlain(QByteArray record);
    void onOpened();
    void onSealed();
    void fail();
    // A record buffer of `size` bytes, one that served before when the socket is done with it.
    QByteArray takeSpare(qsizetype size);
    void keepSpare(QByteArray buffer);

    QTcpSocket *m_socket;
    TransferHandshake m_handshake;
    Role m_role;
    std::shared_ptr<WorkerThreads> m_workers;
    SealedRecords::RecordKey m_sendKey;
    SealedRecords::RecordKey m_receiveKey;
    std::unique_ptr<RecordPipeline> m_sealing;
    std::unique_ptr<RecordPipeline> m_opening;
    quint64 m_sent = 0;
    quint64 m_received = 0;
    // The record coming in from the socket, filled as its bytes arrive.
    QByteArray m_incoming;
    qsizetype m_incomingAt = 0;
    // Opened records, each with its plain bytes between the length word and the tag; the
    // first is read from m_plainAt on.
    std::deque<QByteArray> m_plain;
    qsizetype m_plainAt = 0;
    qint64 m_plainBytes = 0;
    // Buffers of records that went out or were read, filled again: a transfer allocates
    // none per record once it runs.
    std::vector<QByteArray> m_spare;
    QByteArray m_plainAnswer;
    qint64 m_plainTotal = -1;
    qint64 m_plainWritten = 0;
    bool m_started = false;
    bool m_established = false;
    bool m_broken = false;
    bool m_tookPlainAnswer = false;
    bool m_sentFinal = false;
    bool m_receivedFinal = false;
};
