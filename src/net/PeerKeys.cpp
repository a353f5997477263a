#include "net/PeerKeys.h"

#include "base/AnsiCodec.h"
#include "base/DataFile.h"
#include "net/Identity.h"

#include <QList>
#include <QSaveFile>
#include <algorithm>

namespace {

// A line per pin: host name, address, pinned key, waiting key (or nothing), with tabs
// between. The peer last heard at an address is written after the others there.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
constexpr auto kKeyEncoding = QByteArray::Base64Encoding;

QByteArray keyText(const QByteArray &key)
{
    return key.toBase64(kKeyEncoding);
}

bool keyFrom(const QByteArray &text, QByteArray *key)
{
    if (text.isEmpty()) {
        key->clear();
        return true;
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(text, kKeyEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != Identity::kPublicKeyBytes)
        return false;
    *key = decoded.decoded;
    return true;
}

} // namespace

PeerKeys::PeerKeys(QObject *parent) : QObject(parent) {}

void PeerKeys::load(const QString &path)
{
    m_path = path;
    m_pins.clear();
    m_hostAt.clear();
    m_keepBeside = false;
    m_dirty = false;
    const DataFile::Read read = DataFile::readLimited(path, kMaxFileBytes);
    if (!read.opened)
        return;
    m_keepBeside = !read.whole;
    for (const QByteArray &line : read.bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split('\t');
        Pin pin;
        if (fields.size() == 4) {
            pin.hostName = AnsiCodec::decode(fields[0]);
            pin.address = AnsiCodec::decode(fields[1]);
        }
        if (fields.size() != 4 || pin.hostName.isEmpty() || pin.address.isEmpty() ||
            !keyFrom(fields[2], &pin.pinned) || pin.pinned.isEmpty() || !keyFrom(fields[3], &pin.offered)) {
            m_keepBeside = true;
            continue;
        }
        m_hostAt.insert(pin.address, pin.hostName);
        m_pins.insert(keyOf(pin.hostName, pin.address), pin);
    }
}

bool PeerKeys::save(QString *error)
{
    if (m_keepBeside && DataFile::keepBeside(m_path).isEmpty()) {
        if (error)
            *error = QStringLiteral("読めなかった鍵の登録ファイルを残せません。");
        return false;
    }
    QList<const Pin *> order;
    for (const Pin &pin : std::as_const(m_pins))
        order.append(&pin);
    // Stable file bytes, and the current peer of an address last so that reading it back
    // finds the same one.
    std::sort(order.begin(), order.end(), [this](const Pin *a, const Pin *b) {
        const bool aCurrent = m_hostAt.value(a->address) == a->hostName;
        const bool bCurrent = m_hostAt.value(b->address) == b->hostName;
        return std::tie(a->address, aCurrent, a->hostName) < std::tie(b->address, bCurrent, b->hostName);
    });
    QByteArray bytes;
    for (const Pin *pin : order)
        bytes += AnsiCodec::encode(pin->hostName) + '\t' + AnsiCodec::encode(pin->address) + '\t' +
                 keyText(pin->pinned) + '\t' + keyText(pin->offered) + '\n';
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    m_keepBeside = false;
    m_dirty = false;
    return true;
}

PeerKeys::Trust PeerKeys::offer(const QString &hostName, const QString &ip, const QByteArray &publicKey)
{
    const QString key = keyOf(hostName, ip);
    const bool moved = m_hostAt.value(ip) != hostName;
    m_hostAt.insert(ip, hostName);
    m_dirty = m_dirty || moved;
    auto it = m_pins.find(key);
    if (it == m_pins.end()) {
        // A host name is only what the datagram claims: another name at an address whose key
        // is pinned gets no pin of its own, or anyone could take over that address's trust by
        // announcing itself under a new name. Its key waits for the user like a changed one;
        // a renamed machine that keeps its key is simply pinned under the new name.
        QByteArray trusted;
        bool changeWaits = false;
        for (const Pin &pin : std::as_const(m_pins)) {
            if (pin.address != ip)
                continue;
            if (trusted.isEmpty() || pin.offered.isEmpty())
                trusted = pin.pinned;
            changeWaits = changeWaits || !pin.offered.isEmpty();
        }
        if (!trusted.isEmpty() && trusted != publicKey) {
            m_pins.insert(key, Pin{hostName, ip, trusted, publicKey});
            m_dirty = true;
            if (!changeWaits)
                emit keyChanged(ip, hostName, Identity::fingerprintOf(trusted), Identity::fingerprintOf(publicKey));
            emit trustChanged(ip);
            return Trust::Changed;
        }
        m_pins.insert(key, Pin{hostName, ip, publicKey, QByteArray()});
        m_dirty = true;
        emit keyPinned(ip, hostName);
        emit trustChanged(ip);
        return Trust::Pinned;
    }
    if (it->pinned == publicKey) {
        // The peer is back on the key it was trusted with: nothing waits any more.
        const bool wasChanged = !it->offered.isEmpty();
        it->offered.clear();
        m_dirty = m_dirty || wasChanged;
        if (wasChanged || moved)
            emit trustChanged(ip);
        return Trust::Pinned;
    }
    if (it->offered != publicKey) {
        // One notice while a change waits: a sender that keeps showing other keys (a forger
        // cycling them) only updates the row, whose tip names the latest.
        const bool firstChange = it->offered.isEmpty();
        it->offered = publicKey;
        m_dirty = true;
        if (firstChange)
            emit keyChanged(ip, hostName, Identity::fingerprintOf(it->pinned),
                            Identity::fingerprintOf(publicKey));
        emit trustChanged(ip);
    } else if (moved) {
        emit trustChanged(ip);
    }
    return Trust::Changed;
}

bool PeerKeys::accept(const QString &ip)
{
    auto it = m_pins.find(keyOf(m_hostAt.value(ip), ip));
    if (it == m_pins.end() || it->offered.isEmpty())
        return false;
    it->pinned = std::exchange(it->offered, QByteArray());
    m_dirty = true;
    emit keyPinned(ip, it->hostName);
    emit trustChanged(ip);
    return true;
}

bool PeerKeys::forget(const QString &ip)
{
    const qsizetype before = m_pins.size();
    m_pins.removeIf([&ip](const auto &entry) { return entry.value().address == ip; });
    if (m_pins.size() == before)
        return false;
    m_dirty = true;
    emit trustChanged(ip);
    return true;
}

const PeerKeys::Pin *PeerKeys::current(const QString &ip) const
{
    const auto host = m_hostAt.constFind(ip);
    if (host == m_hostAt.cend())
        return nullptr;
    const auto it = m_pins.constFind(keyOf(*host, ip));
    return it == m_pins.cend() ? nullptr : &*it;
}

PeerKeys::Trust PeerKeys::trustOf(const QString &ip) const
{
    const Pin *pin = current(ip);
    if (!pin)
        return Trust::None;
    return pin->offered.isEmpty() ? Trust::Pinned : Trust::Changed;
}

QByteArray PeerKeys::pinnedKey(const QString &ip) const
{
    const Pin *pin = current(ip);
    return pin ? pin->pinned : QByteArray();
}

QByteArray PeerKeys::offeredKey(const QString &ip) const
{
    const Pin *pin = current(ip);
    return pin ? pin->offered : QByteArray();
}
