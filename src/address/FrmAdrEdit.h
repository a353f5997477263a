// The address book window, which is also the send dialog: the address list with its
// group tree (AddressListView), the search, the add, change and delete commands with the
// list's pop-up menu, and, as the send dialog, the send panel (SendPanel) beside the list.
// There is one such window; each opening sets its use.
#pragma once

#include "ui/Commands.h"

#include <QTimer>
#include <QWidget>

class AddressListView;
class AddressStore;
class LveAdrViewModel;
class ModZorvin;
class NetEngine;
class QMenu;
class QPushButton;
class SendPanel;
class WindowRegistry;

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
    QString sendKind() const;

    AddressListView &listView() const { return *m_listView; }
    // The list's rows over the store; the add and modify dialogs write through these.
    LveAdrViewModel &listModel() const;
    AddressStore &store() const;
    NetEngine &engine() const { return m_engine; }
    // The search timer `Timer1` (10 s, off when no search was made in the last 10 s).
    QTimer &timer1() { return m_timer1; }

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void buildControls();
    void buildPopup();
    void WriteWindowLayout();
    void centreOnScreen(int widthTwips);
    void showRaised();

    void onCmdSerchClicked();
    void onCmdAddAdrClicked();
    void onCmdAdrModClicked();
    void onCmdDelAdrClicked();
    void onPopUpRequested(const QPoint &globalPosition);
    void onMnuPAdrViewOkiTriggered();
    void onMnuPAdrViewAutoTranPicTriggered();

    NetEngine &m_engine;
    ModZorvin &m_ctx;
    WindowRegistry &m_windows;
    QTimer m_timer1;

    AddressListView *m_listView = nullptr;
    SendPanel *m_sendPanel = nullptr;
    QPushButton *m_cmdAdd = nullptr;
    QPushButton *m_cmdMod = nullptr;
    QPushButton *m_cmdDel = nullptr;
    QPushButton *m_cmdSerch = nullptr;
    QPushButton *m_cmdClose = nullptr;
    QMenu *m_popup = nullptr;
    QAction *m_mnuOki = nullptr;
    QAction *m_mnuAutoTran = nullptr;
    QAction *m_mnuMod = nullptr;
    QAction *m_mnuDel = nullptr;
    // Enabled on a row whose peer showed a changed key.
    QAction *m_mnuAcceptKey = nullptr;
    QAction *m_mnuForgetKey = nullptr;
};
