#include "capture/CaptureNotice.h"

#include "capture/CaptureArrival.h"
#include "capture/CaptureMath.h"
#include "capture/FrmMain.h"
#include "pictures/ImageFiles.h"
#include "ui/ResidentIcon.h"
#include "ui/WindowRegistry.h"

#include <QDir>

CaptureNotice::CaptureNotice(WindowRegistry &windows, ResidentIcon &tray, QObject *parent)
    : QObject(parent), m_tray(tray)
{
    connect(&windows, &WindowRegistry::windowAdded, this,
            [this](const QString &kind, const QString &, QWidget *w) {
                if (kind == WindowKind::Capture)
                    watch(qobject_cast<FrmMain *>(w));
            });
    watch(windows.find<FrmMain>(WindowKind::Capture));
}

void CaptureNotice::watch(FrmMain *window)
{
    if (!window || window == m_window)
        return;
    // The saves of a window that went never report here.
    m_window = window;
    m_saveInCapture.reset();
    m_waitingForSave.clear();
    const QPointer<FrmMain> source(window);
    connect(&window->captureArrival(), &CaptureArrival::followUpsDone, this,
            [this, source](const CaptureFollowUps &done) {
                if (source == m_window)
                    onFollowUpsDone(done);
            });
    connect(&window->imageFiles(), &ImageFiles::autoSaveFinished, this, [this, source](const QString &path) {
        if (source == m_window)
            onAutoSaveFinished(path);
    });
}

void CaptureNotice::onAutoSaveFinished(const QString &path)
{
    if (m_waitingForSave.isEmpty()) {
        m_saveInCapture = path;
        return;
    }
    tell(m_waitingForSave.takeFirst(), path);
}

void CaptureNotice::onFollowUpsDone(const CaptureFollowUps &done)
{
    const std::optional<QString> saved = std::exchange(m_saveInCapture, std::nullopt);
    if (done.savePending)
        m_waitingForSave.append(done);
    else
        tell(done, saved);
}

void CaptureNotice::tell(const CaptureFollowUps &done, const std::optional<QString> &saved)
{
    // A capture in the shown window speaks for itself; the interval capture stays silent.
    if (done.quiet || done.windowShown)
        return;
    m_tray.ShowNotice(NoticeText(done, saved));
}

QString CaptureNotice::NoticeText(const CaptureFollowUps &done, const std::optional<QString> &saved)
{
    QStringList lines{CaptureMath::CaptureStatus(done.size.width(), done.size.height())};
    if (done.copied)
        lines << QStringLiteral("ｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰしました。");
    if (saved && saved->isEmpty())
        lines << QStringLiteral("保存出来ませんでした。");
    else if (saved)
        lines << QStringLiteral("保存しました：") + QDir::toNativeSeparators(*saved);
    if (done.sentTo > 0)
        lines << QStringLiteral("%1人に自動転送しています。").arg(done.sentTo);
    return lines.join(QLatin1Char('\n'));
}
