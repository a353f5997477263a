#include "net/ReceiveReports.h"

#include "base/AnsiCodec.h"
#include "base/Protocol.h"
#include "net/EngineEvents.h"

namespace {

QString product()
{
    return QString::fromUtf8(kProductName);
}

QString kindText(const RecvSlot &s)
{
    return s.header.isFile() ? QStringLiteral("ファイル") : QStringLiteral("画像");
}

QString cancelledText()
{
    return QStringLiteral("送信側でキャンセルされました。 ");
}

} // namespace

ReceiveReports::ReceiveReports(EngineEvents &events, std::function<QString(const QString &ip)> peerName,
                               QObject *parent)
    : QObject(parent), m_events(events), m_peerName(std::move(peerName))
{
    m_clock.start();
    m_cutGrace.setSingleShot(true);
    connect(&m_cutGrace, &QTimer::timeout, this, [this] { listDueCutLines(false); });
}

QString ReceiveReports::errorReplyText(int code)
{
    switch (code) {
    case 1:
        return product() + QStringLiteral("のプロトコルバージョン不一致。");
    case 2:
    case kUnreadablePicture:
        return QStringLiteral("転送中にデーターエラー (不正フォーマット) が発生しました。");
    case 3:
        return QStringLiteral("相手側「") + product() + QStringLiteral("」で内部矛盾が発生しました。");
    case 4:
        return QStringLiteral("相手側「") + product() + QStringLiteral("」で UNLHA のエラーが発生しました。");
    case 100:
        return QStringLiteral("相手側「") + product() +
               QStringLiteral("」でファイル保存中にエラーが発生しました。");
    case 254:
        return QStringLiteral("相手側「") + product() + QStringLiteral("」の リソースが不足しています。");
    case 255:
        return QStringLiteral("相手側に ") + QStringLiteral("UNLHA32.DLL") +
               QStringLiteral(" がインストールされてません。");
    }
    return QString();
}

QByteArray ReceiveReports::errorReply(int code)
{
    const QString text = errorReplyText(code);
    // The length counts characters, not the bytes of the code page.
    return AnsiCodec::encode(QStringLiteral("9999%1").arg(text.size(), 4, 10, QLatin1Char('0')) + text);
}

QString ReceiveReports::failureDetail(int code, int state, int archiverResult)
{
    switch (code) {
    case 1:
        return product() + QStringLiteral("プロトコルバージョン不一致。");
    case 2:
        return QStringLiteral("不正データ受信。");
    case 3:
        return QStringLiteral("内部ステータス不正｡  Stat=%1 Event = recv()").arg(state);
    case 4:
        return QStringLiteral("UNLHA32 ERR C=%1").arg(archiverResult);
    case 100:
        return QStringLiteral("ファイルを保存できません。");
    case kUnreadablePicture:
        return QStringLiteral("未サポートのファイル形式です。");
    }
    return QString();
}

QString ReceiveReports::displayNameOf(const QString &ip) const
{
    return m_peerName ? m_peerName(ip) : QString();
}

QString ReceiveReports::senderName(const RecvSlot &s) const
{
    const QString who = displayNameOf(s.senderIp);
    return who.isEmpty() ? QStringLiteral("IPｱﾄﾞﾚｽ ") + s.senderIp : who;
}

void ReceiveReports::addFailureLine(const RecvSlot &s, const QString &detail)
{
    emit m_events.recvInfoAdded(senderName(s), 1,
                                kindText(s) + QStringLiteral("受信中にエラーが発生しました。") + detail);
}

void ReceiveReports::addCancelLine(const RecvSlot &s)
{
    emit m_events.recvInfoAdded(senderName(s), 1, cancelledText() + s.header.itemName);
}

void ReceiveReports::progress(int slot, RecvSlot &s, TransferProgress::State state, qint64 speed)
{
    s.progressShown = true;
    TransferProgress p;
    p.sending = false;
    p.id = slot;
    p.state = state;
    p.name = senderName(s);
    p.kind = QString(s.header.kind);
    p.item = s.header.itemName;
    p.done = s.received;
    p.total = s.header.size;
    p.bytesPerSecond = speed;
    emit m_events.transferProgress(p);
}

void ReceiveReports::holdCutLine(const RecvSlot &s)
{
    m_cutLines.append(
        {s.senderIp, s.header.archiveName, senderName(s), kindText(s), s.header.itemName, m_clock.elapsed() + kCutLineGraceMs});
    if (!m_cutGrace.isActive())
        m_cutGrace.start(kCutLineGraceMs);
}

void ReceiveReports::listDueCutLines(bool all)
{
    const qint64 now = m_clock.elapsed();
    while (!m_cutLines.isEmpty() && (all || m_cutLines.first().dueMs <= now)) {
        const CutLine line = m_cutLines.takeFirst();
        emit m_events.recvInfoAdded(line.who, 1,
                                    line.kindText + QStringLiteral("受信中にエラーが発生しました。") +
                                        QStringLiteral("転送中に切断されました。 ") + line.item);
    }
    if (!m_cutLines.isEmpty())
        m_cutGrace.start(int(qMax<qint64>(1, m_cutLines.first().dueMs - now)));
}

bool ReceiveReports::stopMatches(const QString &ip, const QString &archive, const QString &from,
                                 const QString &name)
{
    return from == ip && (archive.isEmpty() || name.isEmpty() || name == archive);
}

bool ReceiveReports::claimCutLine(const QString &ip, const QString &archive)
{
    for (qsizetype i = 0; i < m_cutLines.size(); ++i) {
        if (!stopMatches(ip, archive, m_cutLines[i].ip, m_cutLines[i].archive))
            continue;
        const CutLine line = m_cutLines.takeAt(i);
        emit m_events.recvInfoAdded(line.who, 1, cancelledText() + line.item);
        return true;
    }
    return false;
}
