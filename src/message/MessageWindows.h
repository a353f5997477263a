// The message windows in the program: new compose, reply and forward windows, a received
// window for every arriving message, the "ﾒｯｾｰｼﾞ送信(&M)" command, and the closing of
// windows once their message has gone out.
#pragma once

#include "net/ReceivedMessage.h"
#include "message/FrmMsg.h"

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QLatin1String>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class Commands;
class ModZorvin;
class NetEngine;
class QWidget;
class WindowRegistry;
struct ReceivedMessage;

namespace WindowKind {
// Windows of many, keyed by their two-digit id: "07" for a compose, reply or forward
// window, "R07" for a received message.
inline constexpr QLatin1String Msg("FrmMsg");
} // namespace WindowKind

class MessageWindows : public QObject
{
    Q_OBJECT
  public:
    // Flashes a window and blinks the tray icon (on), or stops both.
    using FlashAndBlink = std::function<void(QWidget *, bool)>;

    // Sets the handler of "mnuMsgSend" and shows every message `engine` receives.
    MessageWindows(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, Commands &commands,
                   FlashAndBlink flashAndBlink, QObject *parent = nullptr);

    // A new, empty compose window, shown.
    FrmMsg *LoadSendMsg();
    // A reply to or a forward of a received window's message, shown.
    FrmMsg *OpenReply(const FrmMsg &received);
    FrmMsg *OpenForward(const FrmMsg &received);

    // Every open message window, in the order they were opened.
    QList<FrmMsg *> messageWindows() const;
    // Received messages still waiting for their turn to open their window.
    int pendingShows() const { return int(m_toShow.size()); }

    // Received windows open at once, from one sender and in all; the messages beyond them
    // wait in the unread list.
    static constexpr int kReceivedPerSender = 20;
    static constexpr int kReceivedInAll = 100;
    // A received window for `message` now, whatever is open (the unread list's "開く").
    FrmMsg *OpenReceived(const ReceivedMessage &message);

    // Closes the first received window marked "CLS" whose message id is `linkId`: the one a
    // reply or forward that has just gone out answered.
    void CloseLinked(const QString &linkId);

    ModZorvin &context() const { return m_ctx; }
    NetEngine &engine() const { return m_engine; }
    WindowRegistry &windows() const { return m_windows; }
    Commands &commands() const { return m_commands; }
    void flashAndBlink(QWidget *window, bool on) const { m_flashAndBlink(window, on); }

    // The picture made by `make` for `key`, made once and shared by every message window.
    QIcon sharedIcon(const QString &key, const std::function<QIcon()> &make);

    // Where the toolbar's open and save dialogs start: the folder of the last file, shared by
    // every message window; the data folder at first.
    QString lastOpenFolder() const;
    QString lastSaveFolder() const;
    void setLastOpenFolder(const QString &folder) { m_lastOpenFolder = folder; }
    void setLastSaveFolder(const QString &folder) { m_lastSaveFolder = folder; }

  signals:
    // A received window is on screen, its sound played and its flashing started.
    void receivedShown(FrmMsg *window);

  private:
    void onMessageArrived(const ReceivedMessage &message);
    void onMessageSending(int messageId);
    void showNextReceived();
    // True when another received window from `sender` may open now.
    bool roomFor(const QString &sender) const;
    void addUnread(const ReceivedMessage &message);
    void playArrivalSound();
    FrmMsg *addWindow(FrmMsg *window);
    // A new compose, reply or forward window with the next message id, shown.
    FrmMsg *openNew(FrmMsg::Use use, const std::function<void(FrmMsg &, int)> &prepare);

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    WindowRegistry &m_windows;
    Commands &m_commands;
    FlashAndBlink m_flashAndBlink;
    // Arrivals get their window one per turn of the event loop, after the datagram handler
    // has sent the receipt: a burst of messages keeps the loop and the receipts moving.
    QList<ReceivedMessage> m_toShow;
    QTimer m_showTimer;
    QElapsedTimer m_lastSound;
    QHash<QString, QIcon> m_icons;
    QString m_lastOpenFolder;
    QString m_lastSaveFolder;
};
