#include "net/SealedSocket.h"

#include "net/RecordPipeline.h"

#include <QTcpSocket>

namespace {

// Plain data opened, or being opened, and not yet read; beyond it records wait in the
// socket, whose own bounded buffer then holds the sender through TCP flow control.
constexpr qint64 kPlainHighWater = 4 * 1024 * 1024;
// Smaller records (the header, replies, the end of a body) are sealed and opened at once on
// this thread when none waits before them: a worker would cost more than it saves.
constexpr qsizetype kInlineBytes = 16 * 1024;
// Buffers kept for records to come: enough for those in flight between the pipeline and the
// socket's buffer at a time, few enough to hold little while a connection idles.
constexpr size_t kSpareBuffers = 16;

} // namespace

SealedSocket::SealedSocket(QTcpSocket *socket, const Identity &own, const QByteArray &peerKey, Role role,
                           std::shared_ptr<WorkerThreads> workers)
    : QIODevice(socket), m_socket(socket), m_handshake(own, peerKey), m_role(role), m_workers(std::move(workers))
{
    open(QIODevice::ReadWrite);
    connect(socket, &QTcpSocket::readyRead, this, &SealedSocket::onSocketData);
}

SealedSocket::~SealedSocket() = default;

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
    // This side's own direction stays whole after the peer's failed: it can still say why.
    m_opening.reset();
    m_plain.clear();
    m_plainAt = 0;
    m_plainBytes = 0;
    emit broken();
}

// True once the records flow; false while the handshake waits or after it failed.
bool SealedSocket::takeHandshake()
{
    const QByteArray waiting = m_socket->peek(TransferHandshake::kOfferBytes);
    if (m_role == Role::Opener && !m_plainAnswer.isEmpty() && !waiting.isEmpty() &&
        m_plainAnswer.startsWith(waiting.first(qMin(waiting.size(), m_plainAnswer.size())))) {
        // Kept as the peer's word; the connection carries nothing after it.
        if (waiting.size() < m_plainAnswer.size())
            return false;
        m_socket->read(m_plainAnswer.size());
        m_tookPlainAnswer = true;
        m_plain.push_back(QByteArray(SealedRecords::kLengthBytes, '\0') + m_plainAnswer +
                          QByteArray(SealedRecords::kTagBytes, '\0'));
        m_plainBytes = m_plainAnswer.size();
        m_plainAt = SealedRecords::kLengthBytes;
        m_plainAnswer.clear();
        emit readyRead();
        return false;
    }
    qsizetype used = 0;
    QByteArray answer;
    const TransferHandshake::Step step = m_role == Role::Acceptor ? m_handshake.takeOffer(waiting, used, answer)
                                                                  : m_handshake.takeAnswer(waiting, used);
    if (step == TransferHandshake::Step::NeedMore)
        return false;
    if (step == TransferHandshake::Step::Failed) {
        fail();
        return false;
    }
    m_socket->read(used);
    const ConnectionKeys::SessionKeys &keys = m_handshake.keys();
    m_sendKey = SealedRecords::RecordKey(keys.transmit);
    m_receiveKey = SealedRecords::RecordKey(keys.receive);
    m_sealing = std::make_unique<RecordPipeline>(m_workers, m_sendKey, RecordPipeline::Work::Seal);
    m_opening = std::make_unique<RecordPipeline>(m_workers, m_receiveKey, RecordPipeline::Work::Open);
    connect(m_sealing.get(), &RecordPipeline::ready, this, &SealedSocket::onSealed);
    connect(m_opening.get(), &RecordPipeline::ready, this, &SealedSocket::onOpened);
    if (!answer.isEmpty())
        m_socket->write(answer);
    m_established = true;
    emit established();
    return !m_broken;
}

void SealedSocket::onSocketData()
{
    if (!m_started || m_broken || m_tookPlainAnswer)
        return;
    if (!m_established && !takeHandshake())
        return;
    const qint64 before = bytesAvailable();
    takeArrived();
    if (!m_broken && bytesAvailable() > before)
        emit readyRead();
}

void SealedSocket::onOpened()
{
    const qint64 before = bytesAvailable();
    takeArrived();
    if (!m_broken && bytesAvailable() > before)
        emit readyRead();
}

void SealedSocket::keepPlain(QByteArray record)
{
    if (record.size() == SealedRecords::kOverhead)
        return;
    if (m_plain.empty())
        m_plainAt = SealedRecords::kLengthBytes;
    m_plainBytes += record.size() - SealedRecords::kOverhead;
    m_plain.push_back(std::move(record));
}

void SealedSocket::takeArrived()
{
    if (!m_opening || m_broken)
        return;
    QByteArray record;
    bool ok = false;
    while (m_opening->take(record, ok)) {
        if (!ok) {
            fail();
            return;
        }
        keepPlain(std::move(record));
    }
    while (m_opening->pending() < m_opening->depth() &&
           m_plainBytes + m_opening->pendingBytes() < kPlainHighWater) {
        const qint64 waiting = m_socket->bytesAvailable();
        if (m_incoming.isEmpty()) {
            // Bytes after the end are not part of what the peer sealed.
            if (m_receivedFinal) {
                if (waiting > 0)
                    fail();
                return;
            }
            char word[SealedRecords::kLengthBytes];
            if (waiting < SealedRecords::kLengthBytes || m_socket->peek(word, sizeof word) != sizeof word)
                return;
            const qsizetype size = SealedRecords::recordBytes(QByteArrayView(word, sizeof word), m_receivedFinal);
            if (size == 0) {
                fail();
                return;
            }
            m_incoming = takeSpare(size);
            m_incomingAt = 0;
        }
        // What has come of the record goes into it at once: the socket's buffer, which is
        // bounded, is emptied, and reads on from the system.
        const qint64 got = m_socket->read(m_incoming.data() + m_incomingAt, m_incoming.size() - m_incomingAt);
        if (got < 0) {
            fail();
            return;
        }
        m_incomingAt += got;
        if (m_incomingAt < m_incoming.size())
            return;
        record = std::move(m_incoming);
        m_incoming = QByteArray();
        const quint64 number = m_received++;
        if (record.size() > kInlineBytes || m_opening->pending() > 0) {
            m_opening->submit(number, m_receivedFinal, std::move(record));
            continue;
        }
        if (!m_receiveKey.open(number, record)) {
            fail();
            return;
        }
        keepPlain(std::move(record));
    }
}

QByteArray SealedSocket::takeSpare(qsizetype size)
{
    for (size_t i = 0; i < m_spare.size(); ++i) {
        // One the socket still holds is shared; filling it would copy it first.
        if (m_spare[i].isDetached() && m_spare[i].capacity() >= size) {
            QByteArray buffer = std::move(m_spare[i]);
            m_spare[i] = std::move(m_spare.back());
            m_spare.pop_back();
            buffer.resize(size);
            return buffer;
        }
    }
    return QByteArray(size, Qt::Uninitialized);
}

void SealedSocket::keepSpare(QByteArray buffer)
{
    if (m_spare.size() < kSpareBuffers && buffer.capacity() > kInlineBytes)
        m_spare.push_back(std::move(buffer));
}

qint64 SealedSocket::bytesAvailable() const
{
    return m_plainBytes + QIODevice::bytesAvailable();
}

qint64 SealedSocket::bytesToWrite() const
{
    return m_socket->bytesToWrite() + (m_sealing ? m_sealing->pendingBytes() : 0);
}

qint64 SealedSocket::readData(char *data, qint64 maxSize)
{
    if (m_broken)
        return -1;
    qint64 done = 0;
    while (done < maxSize && !m_plain.empty()) {
        const QByteArray &front = m_plain.front();
        const qsizetype end = front.size() - SealedRecords::kTagBytes;
        const qint64 n = qMin<qint64>(maxSize - done, end - m_plainAt);
        memcpy(data + done, front.constData() + m_plainAt, size_t(n));
        done += n;
        m_plainAt += n;
        m_plainBytes -= n;
        if (m_plainAt >= end) {
            keepSpare(std::move(m_plain.front()));
            m_plain.pop_front();
            m_plainAt = SealedRecords::kLengthBytes;
        }
    }
    // Room was made: more records are opened.
    if (done > 0)
        takeArrived();
    return done;
}

void SealedSocket::onSealed()
{
    if (!m_sealing)
        return;
    QByteArray record;
    bool ok = false;
    while (m_sealing->take(record, ok)) {
        // The socket keeps the buffer itself until it is sent.
        m_socket->write(record);
        keepSpare(std::move(record));
    }
}

qint64 SealedSocket::writeData(const char *data, qint64 size)
{
    // Nothing goes out before the handshake verified, nor after the end.
    if (!m_established || !m_sealing || m_sentFinal)
        return -1;
    qint64 done = 0;
    while (done < size) {
        const qint64 n = qMin(kRecordBytes, size - done);
        const bool final = m_plainTotal >= 0 && m_plainWritten + n >= m_plainTotal;
        QByteArray record = takeSpare(n + SealedRecords::kOverhead);
        memcpy(record.data() + SealedRecords::kLengthBytes, data + done, size_t(n));
        const quint64 number = m_sent++;
        if (n > kInlineBytes || m_sealing->pending() > 0) {
            m_sealing->submit(number, final, std::move(record));
        } else {
            m_sendKey.seal(number, final, record);
            m_socket->write(record);
        }
        done += n;
        m_plainWritten += n;
        m_sentFinal = final;
        if (final)
            break;
    }
    return done;
}
