// The address book window, which is also the send dialog: peers by group, the search, the
// add, change and delete commands, and (as the send dialog) the send list with its options
// and "送信". Its address list is a view of the address store, never a copy.
#pragma once

#include "ui/Commands.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>

class AddressBookModel;
class AddressStore;
class FlipSort;
class LveAdrViewModel;
class ModZorvin;
class NetEngine;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QMenu;
class QPushButton;
class QRadioButton;
class QSortFilterProxyModel;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class WindowRegistry;
struct SendRecipient;

class FrmAdrEdit : public QWidget
{
    Q_OBJECT
  public:
    // Built hidden from the address store as it is now (the window's load).
    FrmAdrEdit(NetEngine &engine, WindowRegistry &windows, QWidget *parent = nullptr);
    ~FrmAdrEdit() override;

    // The address book: send controls off, centred, shown.
    void LoadmnuEditAddr();
    // The send dialog for a picture (kind 0), a message (1) or files (2), with what is to
    // be sent; the options come from the settings. Files start with an empty send list.
    void LoadSendAddr(const SendHandOver &handOver);

    // The window's tag: "" as the address book, else "IMG", "MSG" or "FILETRAN".
    QString sendKind() const { return m_tag; }

    // The list's rows over the store; the add and modify dialogs write through these.
    LveAdrViewModel &listModel() const { return *m_list; }
    AddressStore &store() const;
    NetEngine &engine() const { return m_engine; }
    // The search timer `Timer1` (10 s, off when no search was made in the last 10 s).
    QTimer &timer1() { return m_timer1; }

    // The list's rows as the view shows them (sorted or not), as store rows.
    QList<int> visibleStoreRows() const;
    // The selected list rows, in the view's order, as store rows.
    QList<int> selectedStoreRows() const;

  protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void buildControls();
    QWidget *buildSendPanel();
    void buildPopup();
    void ReadWindowLayout();
    void WriteWindowLayout();
    void centreOnScreen(int widthTwips);
    void showRaised();
    void buildTree();
    void addGroupNode(const QString &group);
    void onStoreRowsChanged(int first, int last);
    void setSendPanelShown(bool shown);
    void selectCompletionOption(int option);

    void onTreeSelectionChanged();
    void onChkAvailOnlyClicked(bool checked);
    void onCmdSerchClicked();
    void onCmdAddAdrClicked();
    void onCmdAdrModClicked();
    void onCmdDelAdrClicked();
    void onPopUpRequested(const QPoint &position);
    void onMnuPAdrViewOkiTriggered();
    void onMnuPAdrViewAutoTranPicTriggered();
    void onCmdListAddClicked();
    void onCmdListAddAllClicked();
    void onCmdListDelClicked();
    void onCmdListDelAllClicked();
    void onChkMsgHideClicked();
    void onCmdSendClicked();

    // Appends rows whose state is "avail" to the send list, unless a row of the same name
    // is there already.
    void addToSendList(const QList<int> &storeRows);
    QList<SendRecipient> sendListRows() const;
    int selectedStoreRow() const;
    void queueTransfers(const QList<SendRecipient> &recipients);
    void sendMessage(const QList<SendRecipient> &recipients);

    NetEngine &m_engine;
    ModZorvin &m_ctx;
    WindowRegistry &m_windows;
    AddressBookModel *m_model;
    LveAdrViewModel *m_list;
    QSortFilterProxyModel *m_sorted;
    QString m_tag;
    SendHandOver m_handOver;
    QTimer m_timer1;
    // Texts of the tree's nodes without children: "お気に入り" and every group node.
    QSet<QString> m_leafTexts;
    QIcon m_groupIcon;
    // A press on the node that is selected already: its click selects it again.
    QTreeWidgetItem *m_reclicked = nullptr;
    bool m_sending = false;

    QTreeWidget *m_tree = nullptr;
    QTreeWidgetItem *m_root = nullptr;
    QTableView *m_view = nullptr;
    QCheckBox *m_availOnly = nullptr;
    QPushButton *m_cmdAdd = nullptr;
    QPushButton *m_cmdMod = nullptr;
    QPushButton *m_cmdDel = nullptr;
    QPushButton *m_cmdSerch = nullptr;
    QWidget *m_sendPanel = nullptr;
    QTreeWidget *m_sendList = nullptr;
    FlipSort *m_sendListSort = nullptr;
    QList<QPushButton *> m_listButtons;
    QCheckBox *m_msgHide = nullptr;
    QCheckBox *m_pwLock = nullptr;
    QCheckBox *m_open = nullptr;
    QGroupBox *m_fraSendMsg = nullptr;
    QButtonGroup *m_options = nullptr;
    QList<QRadioButton *> m_optionButtons;
    QPushButton *m_cmdSend = nullptr;
    QPushButton *m_cmdClose = nullptr;
    QMenu *m_popup = nullptr;
    QAction *m_mnuOki = nullptr;
    QAction *m_mnuAutoTran = nullptr;
    QAction *m_mnuMod = nullptr;
    QAction *m_mnuDel = nullptr;
    // Enabled on a row whose peer showed a changed key.
    QAction *m_mnuAcceptKey = nullptr;
};
