#include "pictures/SendJobs.h"

#include "net/AddressStore.h"
#include "pictures/ImageFiles.h"
#include "base/ModZorvin.h"
#include "net/EngineEvents.h"
#include "net/NetEngine.h"
#include "net/TransferSender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <algorithm>

namespace {

// A source name this long never goes instead of the bitmap.
constexpr int kSourceNameLimit = 60;

QString outOfResources()
{
    return QString::fromUtf8(kProductName) + QStringLiteral("のリソース不足");
}

// Pictures from these files lose nothing when the file itself goes.
bool sentAsIs(const QString &name)
{
    const QString upper = name.toUpper();
    return upper.endsWith(QLatin1String("JPG")) || upper.endsWith(QLatin1String("GIF")) ||
           upper.endsWith(QLatin1String("ICO"));
}

bool sourceGoesInstead(const QString &sourceFile, qint64 bitmapSize)
{
    const QFileInfo source(sourceFile);
    if (sourceFile.isEmpty() || source.fileName().size() >= kSourceNameLimit || !source.isFile())
        return false;
    return sentAsIs(source.fileName()) || bitmapSize >= source.size();
}

} // namespace

SendJobs::SendJobs(NetEngine &engine) : m_engine(engine), m_ctx(engine.context()) {}

QStringList SendJobs::FilesOfTag(const QString &tag)
{
    if (tag.isEmpty())
        return {};
    const QStringList pieces = tag.split(QChar(u'\0'));
    if (pieces.size() == 1)
        return pieces;
    const QDir folder(pieces.front());
    QStringList paths;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        if (!pieces[i].isEmpty())
            paths << folder.filePath(pieces[i]);
    }
    return paths;
}

QString SendJobs::nextStem()
{
    return QStringLiteral("CAPT") + m_ctx.LocalIpHex + QString::number(m_engine.sender().NextJobNumber());
}

void SendJobs::report(const QString &name, QChar kind, const QString &info)
{
    emit m_engine.events().sendResultAdded(name, QString(kind), 1, info);
}

bool SendJobs::queue(const SendRecipient &to, QChar kind, const QString &path, const QString &archiveName,
                     const SendChoices &choices)
{
    const QFileInfo item(path);
    SendRequest request;
    request.destination = to.address;
    request.resultName = to.name;
    request.kind = kind;
    request.folder = item.path();
    request.itemName = item.fileName();
    request.archiveName = archiveName;
    request.notice = choices.notice;
    request.faceDown = choices.faceDown;
    request.passwordLock = choices.passwordLock;
    request.openReceipt = choices.openReceipt;
    return m_engine.QueueSendJob(request) >= 0;
}

int SendJobs::SendPicture(const QImage &picture, const QString &sourceFile,
                          const QList<SendRecipient> &recipients, const SendChoices &choices)
{
    return queuePicture(picture, sourceFile, recipients, choices, Origin::SendDialog);
}

int SendJobs::AutoTranCapture(const QImage &picture)
{
    QList<SendRecipient> targets;
    for (const AddressEntry &entry : m_engine.addresses().rows()) {
        if (entry.isAvail() && entry.isAutoTransferTarget())
            targets.append({entry.EntryName, entry.EntryAddress});
    }
    return queuePicture(picture, QString(), targets, SendChoices{}, Origin::AutoTransfer);
}

int SendJobs::queuePicture(const QImage &picture, const QString &sourceFile,
                           const QList<SendRecipient> &recipients, const SendChoices &choices, Origin origin)
{
    if (recipients.isEmpty())
        return 0;
    const bool automatic = origin == Origin::AutoTransfer;
    QDir().mkpath(m_ctx.SendTempDir);
    const QString stem = nextStem();
    const QString bitmap = QDir(m_ctx.SendTempDir).filePath(stem + QStringLiteral(".BMP"));
    QString error;
    if (!ImageFiles::WritePicture(picture, bitmap, 0, 0, &error)) {
        for (const SendRecipient &to : recipients)
            report(to.name, QLatin1Char('I'),
                   QStringLiteral("ZorvinSt=001 %1 C=0 ")
                           .arg(automatic ? QLatin1String("FrmMain") : QLatin1String("FrmAdrEdit")) +
                       error);
        return 0;
    }
    QString item = bitmap;
    if (sourceGoesInstead(sourceFile, QFileInfo(bitmap).size())) {
        QFile::remove(bitmap);
        item = sourceFile;
    }
    // A job may end while the next is queued; the bitmap stays until all are, and goes
    // with the last job (or now, when none got a slot).
    TransferSender &sender = m_engine.sender();
    sender.holdSharedFile(item);
    int queued = 0;
    for (const SendRecipient &to : recipients) {
        if (queue(to, QLatin1Char('I'), item, stem + QStringLiteral(".LZH"), choices)) {
            ++queued;
            continue;
        }
        // The automatic transfer gives up; the send dialog reports every recipient.
        if (automatic) {
            report(to.name, QLatin1Char('I'), outOfResources());
            break;
        }
        report(to.name, QLatin1Char('I'), outOfResources() + u' ');
    }
    sender.releaseSharedFile(item);
    return queued;
}

int SendJobs::SendFiles(const QStringList &paths, const QList<SendRecipient> &recipients,
                        const SendChoices &choices)
{
    int queued = 0;
    for (auto path = paths.crbegin(); path != paths.crend(); ++path) {
        const QString archiveName = nextStem() + QStringLiteral(".LZH");
        for (const SendRecipient &to : recipients) {
            if (queue(to, QLatin1Char('F'), *path, archiveName, choices))
                ++queued;
            else
                report(to.name, QLatin1Char('F'), outOfResources() + u' ' + *path);
        }
    }
    return queued;
}
