#include "net/StoredArchiveBody.h"

#include <cstring>

StoredArchiveBody::StoredArchiveBody(QByteArray header, const QString &item, qint64 dataBytes)
    : m_header(std::move(header)), m_item(item), m_dataLeft(dataBytes)
{
}

bool StoredArchiveBody::open(OpenMode mode)
{
    if (!m_item.open(QIODevice::ReadOnly)) {
        setErrorString(m_item.errorString());
        return false;
    }
    // Unbuffered: each read goes straight to the parts, with no copy in between.
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

qint64 StoredArchiveBody::readData(char *data, qint64 maxSize)
{
    if (m_headerAt < m_header.size()) {
        const qint64 n = qMin(maxSize, m_header.size() - m_headerAt);
        std::memcpy(data, m_header.constData() + m_headerAt, size_t(n));
        m_headerAt += n;
        return n;
    }
    if (m_dataLeft > 0) {
        const qint64 n = m_item.read(data, qMin(maxSize, m_dataLeft));
        if (n <= 0) {
            // The item shrank or became unreadable since it was packed.
            setErrorString(m_item.errorString());
            return -1;
        }
        m_dataLeft -= n;
        return n;
    }
    if (!m_endSent && maxSize > 0) {
        m_endSent = true;
        data[0] = '\0';
        return 1;
    }
    return -1;
}
