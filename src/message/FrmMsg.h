// One message window in one of its four uses: a new message, a reply, a forward, or a
// received message shown at once, face down or locked behind the password.
#pragma once

#include "ui/QuitGuard.h"

#include <QString>
#include <QWidget>

class MessageWindows;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolBar;
struct ReceivedMessage;

class FrmMsg : public QWidget, public QuitGuard
{
    Q_OBJECT
  public:
    enum class Use { Compose, Reply, Forward, Received };

    FrmMsg(MessageWindows &owner, Use use, QWidget *parent = nullptr);

    // Fill a new window before it is shown. Compose, reply and forward windows take `id`
    // from the message counter; a reply or forward takes the text of `received`.
    void prepareCompose(int id);
    void prepareReply(const FrmMsg &received, int id);
    void prepareForward(const FrmMsg &received, int id);
    void prepareReceived(const ReceivedMessage &message);

    // Takes the message font from the settings for the text box.
    void ApplyMessageFont();

    Use use() const { return m_use; }
    // The key the registry knows the window by.
    QString registryKey() const;
    // The message as it goes on the wire (line breaks CR LF); a received message as it came.
    QString messageText() const;
    // Replaces the text, cut to the message limit unless it was received.
    void setMessageText(const QString &text);

    int LblMsgID() const { return m_msgId; } // -1 in a received window
    const QString &LblRcvID() const { return m_rcvId; }
    const QString &LblLinkID() const { return m_linkId; }
    const QString &LblSt() const { return m_st; }
    const QString &LblSt0() const { return m_st0; }
    const QString &LblFrom() const { return m_from; }
    const QString &LblDate() const { return m_date; }
    const QString &LblTime() const { return m_time; }
    // The sender's address in received and reply windows.
    const QString &tag() const { return m_tag; }
    // Received and not opened yet.
    bool isFaceDown() const { return m_faceDown; }
    bool isLocked() const { return m_locked; }
    // Still flashing (received windows only).
    bool isFlashing() const { return m_flashing; }

    // A reply or forward that has gone out no longer closes the window it answered.
    QString takeLinkId();
    // Flashing and blinking from the arrival.
    void startFlashing();

    Concern quitConcern() const override { return m_faceDown ? UnopenedMessage : None; }

  protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void buildControls();
    QPushButton *addButton(const char *name, const QString &caption, void (FrmMsg::*clicked)());
    void layoutControls();
    void centreOnScreen();
    void setShown(std::initializer_list<QWidget *> widgets, bool shown);
    bool warnIfEmpty();
    void showError(int number, const QString &description);
    void stopFlashing();
    void openMessage();

    void onTxtMsgChanged();
    void onCmdMsgSendClicked();
    void onCmdMsgDSendClicked();
    void onCmdMsgRplClicked();
    void onCmdMsgTranClicked();
    void onCmdOpenClicked();
    void onCmdClearClicked();
    void onCmdMsgCanClicked();
    void onFileOpenTriggered();
    void onFileSaveTriggered();
    void onPrintTriggered();
    void onPosSaveTriggered();

    MessageWindows &m_owner;
    const Use m_use;

    QToolBar *m_toolbar = nullptr;
    QAction *m_fileOpen = nullptr;
    QAction *m_fileSave = nullptr;
    QAction *m_print = nullptr;
    QAction *m_posSave = nullptr;
    QPlainTextEdit *m_txtMsg = nullptr;
    QLineEdit *m_txtHideMsg = nullptr;
    QLineEdit *m_txtHideFrom = nullptr;
    QLineEdit *m_txtHideTime = nullptr;
    QLabel *m_image = nullptr;
    QCheckBox *m_chkInclude = nullptr;
    QPushButton *m_cmdMsgSend = nullptr;
    QPushButton *m_cmdMsgDSend = nullptr;
    QPushButton *m_cmdMsgRpl = nullptr;
    QPushButton *m_cmdMsgTran = nullptr;
    QPushButton *m_cmdOpen = nullptr;
    QPushButton *m_cmdClear = nullptr;
    QPushButton *m_cmdMsgCan = nullptr;

    // The text as set, kept exactly (the editor shows its own line breaks) until the user
    // edits it.
    QString m_text;
    bool m_edited = false;
    bool m_settingText = false;

    int m_msgId = -1;
    QString m_rcvId;
    QString m_linkId;
    QString m_st;
    QString m_st0;
    QString m_from;
    QString m_date;
    QString m_time;
    QString m_tag;
    bool m_faceDown = false;
    bool m_locked = false;
    bool m_flashing = false;
    bool m_checkingPassword = false;
    int m_paintCount = 0;
    int m_minimumHeight = 0;
};
