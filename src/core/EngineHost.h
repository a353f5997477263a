// The one way the headless engine reaches windows: questions, notices and arrivals.
// The GUI implements it with real windows; tests implement it to record and answer.
#pragma once

#include "core/ArrivedImage.h"
#include "core/ReceivedMessage.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

class EngineHost
{
  public:
    virtual ~EngineHost() = default;

    // A message box with the platform's numeric style (16 error, 32 question,
    // 48 warning, 64 information; 1 OK/Cancel, 4 Yes/No, 5 Retry/Cancel; 256 second
    // button default). Returns the button: 1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No.
    virtual int ShowMessageBox(const QString &text, int style) = 0;

    // One line of the send-result list: kind "I" picture, "F" file, "M" message;
    // result 0 success ("成功"), 1 failure ("失敗"), 2 opened ("開封").
    virtual void AddSendResult(const QString &name, const QString &kind, int result, const QString &info)
    {
        Q_UNUSED(name)
        Q_UNUSED(kind)
        Q_UNUSED(result)
        Q_UNUSED(info)
    }

    // One line of the received list: result 0 success, 1 failure.
    virtual void AddRecvInfo(const QString &name, int result, const QString &info)
    {
        Q_UNUSED(name)
        Q_UNUSED(result)
        Q_UNUSED(info)
    }

    // A received picture for a new viewer. The file may be deleted as soon as this
    // returns, so the viewer loads the picture before returning.
    virtual void ImageArrived(const ArrivedImage &image) { Q_UNUSED(image) }

    // An arrival sound: mode 1 the system beep, 2 the wave file played asynchronously.
    virtual void PlaySound(int mode, const QString &wavePath)
    {
        Q_UNUSED(mode)
        Q_UNUSED(wavePath)
    }

    // Shows a folder in the desktop's file manager.
    virtual void OpenFolder(const QString &path) { Q_UNUSED(path) }

    // A message arrived: a new received message window shows it, plays the arrival sound
    // and flashes. The engine logs it and sends the receipt after this returns.
    virtual void MessageArrived(const ReceivedMessage &message) { Q_UNUSED(message) }

    // The message-log command: start `program` with `arguments` (the log path is the
    // last of them); when `program` is empty or cannot be started, open `path` with the
    // desktop's default viewer. Failures are not shown.
    virtual void OpenLogViewer(const QString &program, const QStringList &arguments, const QString &path)
    {
        Q_UNUSED(program)
        Q_UNUSED(arguments)
        Q_UNUSED(path)
    }

    // A message from the send dialog is going out: close the compose window with this id
    // when it asked to be closed, then the received window it answered (its link id).
    virtual void CloseMessageWindowsAfterSend(int messageId) { Q_UNUSED(messageId) }

    // Presence changed a peer (the arguments of UpdatePeer), before the store is updated,
    // so that an open address book window can apply the same change to its views.
    virtual void PeerUpdated(const QString &name, const QString &ip, const QString &state,
                             const QString &version, const QString &group)
    {
        Q_UNUSED(name)
        Q_UNUSED(ip)
        Q_UNUSED(state)
        Q_UNUSED(version)
        Q_UNUSED(group)
    }
};

// Button numbers and style flags of ShowMessageBox.
namespace MsgBox {
inline constexpr int IdOk = 1, IdCancel = 2, IdRetry = 4, IdYes = 6, IdNo = 7;
inline constexpr int OkOnly = 0, OkCancel = 1, YesNo = 4, RetryCancel = 5;
inline constexpr int Critical = 16, Question = 32, Exclamation = 48, Information = 64;
inline constexpr int DefaultButton2 = 256;
} // namespace MsgBox
