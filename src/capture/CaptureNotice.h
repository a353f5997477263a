// Tells the user what a capture did when the capture window stays hidden (a capture from
// the tray menu or a hotkey): its size and its follow-ups, as a short notice at the tray
// icon (or in the stand-in window). Without it such a capture leaves no trace on screen.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

struct CaptureFollowUps;
class FrmMain;
class ResidentIcon;
class WindowRegistry;

class CaptureNotice : public QObject
{
    Q_OBJECT
  public:
    // Follows the capture window of `windows`, also the ones loaded again after a close.
    CaptureNotice(WindowRegistry &windows, ResidentIcon &tray, QObject *parent = nullptr);

    // The notice: the size as the status bar words it, then one line per follow-up that
    // ran. `saved` is the automatic save's file, "" when it failed, nullopt when there was
    // none.
    static QString NoticeText(const CaptureFollowUps &done, const std::optional<QString> &saved);

  private:
    void watch(FrmMain *window);
    void onFollowUpsDone(const CaptureFollowUps &done);
    void onAutoSaveFinished(const QString &path);
    void tell(const CaptureFollowUps &done, const std::optional<QString> &saved);

    ResidentIcon &m_tray;
    QPointer<FrmMain> m_window;
    // A save that ended within the capture itself (every type but a packed archive).
    std::optional<QString> m_saveInCapture;
    // Captures whose save ends later, oldest first.
    QList<CaptureFollowUps> m_waitingForSave;
};
