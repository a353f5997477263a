#include "net/FileMove.h"

#include "net/NetLog.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr qint64 kPieceBytes = 1024 * 1024;

// The whole copy on the worker; empty when it worked.
QString copyWhole(const QString &from, const QString &to, const std::atomic<bool> &stop)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return from + QStringLiteral(": ") + in.errorString();
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        return to + QStringLiteral(": ") + out.errorString();
    QByteArray piece;
    while (!in.atEnd()) {
        if (stop.load()) {
            out.cancelWriting();
            return QStringLiteral("stopped");
        }
        piece = in.read(kPieceBytes);
        if (piece.isEmpty() && in.error() != QFileDevice::NoError)
            return from + QStringLiteral(": ") + in.errorString();
        if (out.write(piece) != piece.size())
            return to + QStringLiteral(": ") + out.errorString();
    }
    if (!out.commit())
        return to + QStringLiteral(": ") + out.errorString();
    // The mode and time the file had, as a rename keeps them.
    QFile done(to);
    done.setPermissions(in.permissions());
    if (done.open(QIODevice::Append))
        done.setFileTime(QFileInfo(from).lastModified(), QFileDevice::FileModificationTime);
    return QString();
}

} // namespace

FileMove::FileMove(const QString &from, const QString &to, QObject *parent)
    : QObject(parent), m_from(from), m_to(to)
{}

FileMove::~FileMove()
{
    if (!m_thread.joinable())
        return;
    m_stop.store(true);
    m_thread.join();
}

void FileMove::start()
{
    qCDebug(lcNet) << "copying" << m_from << "to" << m_to << "on a worker";
    m_thread = std::thread([this] {
        const QString error = copyWhole(m_from, m_to, m_stop);
        const bool ok = error.isEmpty();
        if (ok)
            QFile::remove(m_from);
        // Posted to this object: dropped when it is deleted before the event loop gets it.
        QMetaObject::invokeMethod(
            this,
            [this, ok, error] {
                qCDebug(lcNet) << "copy to" << m_to << (ok ? "done" : "failed:") << error;
                emit finished(ok, error);
            },
            Qt::QueuedConnection);
    });
}
