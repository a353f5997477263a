#include "app/TransferTip.h"

#include "app/TrayIcon.h"
#include "net/EngineEvents.h"

TransferTip::TransferTip(EngineEvents &events, TrayIcon &tray, QObject *parent)
    : QObject(parent), m_tray(tray)
{
    connect(&events, &EngineEvents::transferProgress, this, &TransferTip::onProgress);
}

QString TransferTip::text(int sends, int receptions, qint64 done, qint64 total)
{
    if (sends == 0 && receptions == 0)
        return QString();
    QStringList parts;
    if (sends > 0)
        parts << QStringLiteral("送信中 %1 件").arg(sends);
    if (receptions > 0)
        parts << QStringLiteral("受信中 %1 件").arg(receptions);
    const int percent = total > 0 ? int(qBound(qint64(0), done * 100 / total, qint64(100))) : 0;
    return parts.join(QStringLiteral("  ")) + QStringLiteral("  (%1%)").arg(percent);
}

void TransferTip::onProgress(const TransferProgress &progress)
{
    const qint64 key = progress.key();
    if (progress.state == TransferProgress::State::Ended)
        m_running.remove(key);
    else
        m_running.insert(key, {progress.sending, progress.done, progress.total});
    int sends = 0, receptions = 0;
    qint64 done = 0, total = 0;
    for (const Share &share : std::as_const(m_running)) {
        (share.sending ? sends : receptions)++;
        done += share.done;
        total += share.total;
    }
    m_tray.setTipDetail(text(sends, receptions, done, total));
}
