// The send dialog's part of the address book window: the send list "送信先ﾘｽﾄ" filled from
// the window's address list (each row marked sealed, changed key or refused), the face-down,
// lock and receipt boxes, the completion notice, and "送信", which hands the picture, the
// files or the message to the engine.
#pragma once

#include "ui/Commands.h"

#include <QList>
#include <QWidget>

class AddressListView;
class FlipSort;
class NetEngine;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
struct SendRecipient;

class SendPanel : public QWidget
{
    Q_OBJECT
  public:
    // Beside `addresses`, whose selected and shown rows the list buttons take; `parent` is
    // the window, which lays out "送信" (sendButton()) with its own buttons.
    SendPanel(NetEngine &engine, AddressListView &addresses, QWidget *parent);

    QPushButton *sendButton() const { return m_cmdSend; }
    // "" as the address book, else "IMG", "MSG" or "FILETRAN".
    QString sendKind() const { return m_tag; }

    // The address book: nothing to send, every send control off, no notice chosen.
    void clear();
    // Presets for a picture (kind 0), a message (1) or files (2) from the settings, with
    // what is to be sent; gives the window's caption. The send list stays from an earlier
    // send, except that files and messages start afresh (a reply with its addressee).
    QString load(const SendHandOver &handOver);

  protected:
    // The user may have accepted a key or changed the options meanwhile.
    void changeEvent(QEvent *event) override;

  private:
    void buildControls();
    // Every row of the send list shows whether it goes sealed, and is greyed when it
    // would be refused (a changed key, or plain while the user sends only sealed); a note
    // under the list says so while any row is.
    void markSendList();
    void markRow(QTreeWidgetItem *item) const;
    void selectCompletionOption(int option);
    // Appends rows whose state is "avail" to the send list, unless a row of the same name
    // is there already.
    void addToSendList(const QList<int> &storeRows);
    QList<SendRecipient> sendListRows() const;
    void queueTransfers(const QList<SendRecipient> &recipients);
    void sendMessage(const QList<SendRecipient> &recipients);

    void onCmdListAddClicked();
    void onCmdListAddAllClicked();
    void onCmdListDelClicked();
    void onCmdListDelAllClicked();
    void onChkMsgHideClicked();
    void onCmdSendClicked();

    NetEngine &m_engine;
    AddressListView &m_addresses;
    QString m_tag;
    SendHandOver m_handOver;
    bool m_sending = false;

    QPushButton *m_cmdSend = nullptr;
    QTreeWidget *m_sendList = nullptr;
    QLabel *m_refusedNote = nullptr;
    FlipSort *m_sendListSort = nullptr;
    QList<QPushButton *> m_listButtons;
    QCheckBox *m_msgHide = nullptr;
    QCheckBox *m_pwLock = nullptr;
    QCheckBox *m_open = nullptr;
    QGroupBox *m_fraSendMsg = nullptr;
    QButtonGroup *m_options = nullptr;
    QList<QRadioButton *> m_optionButtons;
};
