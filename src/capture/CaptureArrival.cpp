#include "capture/CaptureArrival.h"

#include "pictures/SendJobs.h"
#include "base/ModZorvin.h"
#include "capture/CaptureEngine.h"
#include "capture/CaptureMath.h"
#include "capture/FrmMain.h"
#include "pictures/ImageFiles.h"

#include <QPointer>

CaptureArrival::CaptureArrival(FrmMain &window, CaptureEngine &capture, ModZorvin &ctx, NetEngine &engine)
    : QObject(&window), m_window(window), m_ctx(ctx), m_engine(engine)
{
    connect(&capture, &CaptureEngine::pictureStateChanged, this,
            [this](bool hasPicture) { m_window.setHasPicture(hasPicture); });
    connect(&capture, &CaptureEngine::hideWindow, this, [this] { m_window.hide(); });
    connect(&capture, &CaptureEngine::restoreWindow, this, [this] {
        m_window.show();
        m_window.activateWindow();
    });
    connect(&capture, &CaptureEngine::commandsChanged, this, [this] { m_window.SetToolbar(); });
    connect(&capture, &CaptureEngine::statusNotice, this,
            [this](const QString &text) { m_window.setStatusNotice(text); });
    connect(&capture, &CaptureEngine::failureNotice, this,
            [this](const QString &reason) { m_window.notice(reason); });
    connect(&capture, &CaptureEngine::pictureTaken, this, &CaptureArrival::onPictureTaken);
}

CaptureWindowFacts CaptureArrival::factsOf(const FrmMain &window)
{
    CaptureWindowFacts facts;
    facts.visible = window.isVisible();
    facts.hasPicture = window.HasPicture();
    // Only a shown window is hidden for a capture; asking a hidden one for its id would
    // create its native window before its first show.
    if (facts.visible) {
        facts.frameCentre = window.frameGeometry().center();
        facts.id = window.winId();
    }
    return facts;
}

void CaptureArrival::onPictureTaken(const CapturedPicture &shot)
{
    const QImage &bitmap = shot.picture;
    m_window.ClearPicDraw(false);
    m_window.setHasPicture(false);
    m_window.setPicture(bitmap, QString());
    m_window.setHasPicture(true);
    m_window.SetToolbar();
    if (shot.showWindow) {
        m_window.show();
        m_window.activateWindow();
    }
    m_window.setStatusText(1, CaptureMath::CaptureStatus(bitmap.width(), bitmap.height()));
    if (m_window.isVisible())
        m_window.activateWindow();

    // The follow-ups in order. Only a failed save lets events in, through its notice; a
    // quit arriving then closes the window without deleting it, and they finish on it.
    const QPointer<CaptureArrival> alive(this);
    const Settings &settings = m_ctx.settings;
    CaptureFollowUps done;
    done.mode = shot.mode;
    done.size = bitmap.size();
    done.quiet = shot.quiet;
    done.copied = settings.CaptAutoClip == 1 && !bitmap.isNull();
    if (settings.CaptAutoClip == 1)
        m_window.Copy();
    const int savesBefore = m_window.imageFiles().pendingAutoSaves();
    autoSaveCapture(bitmap);
    if (!alive)
        return;
    done.savePending = m_window.imageFiles().pendingAutoSaves() > savesBefore;
    done.sentTo = autoTranCapture(bitmap);
    done.windowShown = m_window.isVisible();
    emit followUpsDone(done);
}

void CaptureArrival::autoSaveCapture(const QImage &picture)
{
    // A failed window capture leaves an empty picture; there is nothing to save.
    if (picture.isNull())
        return;
    m_window.imageFiles().AutoSaveCapture(picture);
}

int CaptureArrival::autoTranCapture(const QImage &picture)
{
    if (m_ctx.settings.CaptAutoTran != 1 || picture.isNull())
        return 0;
    const int queued = SendJobs(m_engine).AutoTranCapture(picture);
    if (queued > 0)
        m_window.setStatusText(2, QStringLiteral("自動転送中"));
    return queued;
}
