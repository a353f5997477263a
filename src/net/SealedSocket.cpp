#include "net/SealedSocket.h"

#include "net/SealedStream.h"

#include <QTcpSocket>

namespace {

// Plain data opened but not yet read; beyond it records wait in the socket, whose own
// bounded buffer then holds the sender through TCP flow control.
constexpr qsizetype kPlainHighWater = 2 * 1024 * 1024;
constexpr int kStreamHeaderBytes = 24;

} // namespace

SealedSocket::SealedSocket(QTcpSocket *socket, const Identity &own, const QByteArray &peerKey, Role role)
    : QIODevice(socket), m_socket(socket), m_handshake(own, peerKey), m_role(role)
{
    open(QIODevice::ReadWrite);
    connect(socket, &QTcpSocket::readyRead, this, &SealedSocket::onSocketData);
}

SealedSocket::~SealedSocket() = default;

qint64 SealedSocket::wireOverhead(qint64 plain)
{
    const qint64 records = qMax<qint64>(1, (plain + kRecordBytes - 1) / kRecordBytes);
    return kStreamHeaderBytes + records * SealedWriter::kOverhead;
}

void SealedSocket::start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_role == Role::Opener) {
        const QByteArray offer = m_handshake.offer();
        if (offer.isEmpty()) {
            fail();
            return;
        }
        m_socket->write(offer);
    }
    onSocketData();
}

void SealedSocket::fail()
{
    if (m_broken)
        return;
    m_broken = true;
    m_writer.reset();
    m_reader.reset();
    m_plain.clear();
    m_plainAt = 0;
    emit broken();
}

void SealedSocket::onSocketData()
{
    if (!m_started || m_broken)
        return;
    if (!m_established) {
        const QByteArray waiting = m_socket->peek(TransferHandshake::kOfferBytes);
        qsizetype used = 0;
        QByteArray answer;
        const TransferHandshake::Step step = m_role == Role::Acceptor
                                                 ? m_handshake.takeOffer(waiting, used, answer)
                                                 : m_handshake.takeAnswer(waiting, used);
        if (step == TransferHandshake::Step::NeedMore)
            return;
        if (step == TransferHandshake::Step::Failed) {
            fail();
            return;
        }
        m_socket->read(used);
        m_writer = std::make_unique<SealedWriter>(m_handshake.keys());
        m_reader = std::make_unique<SealedReader>(m_handshake.keys());
        m_socket->write(answer + m_writer->start());
        m_established = true;
        emit established();
        if (m_broken)
            return;
    }
    const qint64 before = bytesAvailable();
    takeArrived();
    if (!m_broken && bytesAvailable() > before)
        emit readyRead();
}

void SealedSocket::takeArrived()
{
    if (!m_reader)
        return;
    QByteArray record;
    while (!m_broken && m_plain.size() - m_plainAt < kPlainHighWater) {
        SealedReader::Status status = m_reader->next(record);
        if (status == SealedReader::Status::NeedMore) {
            const qint64 waiting = m_socket->bytesAvailable();
            const qint64 wanted = m_reader->wanted();
            if (waiting <= 0 || wanted <= 0)
                return;
            m_reader->feed(m_socket->read(qMin(waiting, wanted)));
            continue;
        }
        if (status == SealedReader::Status::Broken) {
            fail();
            return;
        }
        if (m_plainAt > 0 && m_plainAt >= m_plain.size() / 2) {
            m_plain.remove(0, m_plainAt);
            m_plainAt = 0;
        }
        m_plain += record;
    }
}

qint64 SealedSocket::bytesAvailable() const
{
    return (m_plain.size() - m_plainAt) + QIODevice::bytesAvailable();
}

qint64 SealedSocket::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

qint64 SealedSocket::readData(char *data, qint64 maxSize)
{
    if (m_broken)
        return -1;
    takeArrived();
    const qint64 n = qMin<qint64>(maxSize, m_plain.size() - m_plainAt);
    if (n <= 0)
        return 0;
    memcpy(data, m_plain.constData() + m_plainAt, size_t(n));
    m_plainAt += n;
    return n;
}

qint64 SealedSocket::writeData(const char *data, qint64 size)
{
    // Nothing goes out before the handshake verified, nor after a failure.
    if (!m_established || m_broken || !m_writer)
        return -1;
    qint64 done = 0;
    while (done < size) {
        const qint64 n = qMin(kRecordBytes, size - done);
        const bool final = m_plainTotal >= 0 && m_plainWritten + n >= m_plainTotal;
        const QByteArray record = m_writer->seal(QByteArrayView(data + done, n), final);
        if (record.isEmpty())
            return done > 0 ? done : -1;
        m_socket->write(record);
        done += n;
        m_plainWritten += n;
    }
    return done;
}
