// The resident menu of the tray icon (mnuFrmTray): every function of the program from the
// shared commands, the list of running send jobs to cancel, and the icon's double-click.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

class Commands;
class ModZorvin;
class QAction;
class QMenu;
class TransferSender;
class TrayIcon;
struct SendJob;

class TrayMenu : public QObject
{
    Q_OBJECT
  public:
    static constexpr int kCancelItems = 30;

    // Fills the tray's menu (before its quit entry), prepares it each time it pops up and
    // answers the icon's double-click.
    TrayMenu(ModZorvin &ctx, TrayIcon &tray, Commands &commands, TransferSender &sender,
             QObject *parent = nullptr);
    ~TrayMenu() override;

    // Applies the enabling rules, shows one of show/hide and fills the cancel list. False
    // while a password window is open: no menu then.
    bool prepare();

    // The setting LDblClick: 1 capture window, 2 new message, 3 options, 4 hotkeys,
    // 5 address book, 6 quit; anything else does nothing.
    void TrayDoubleClickAction(int action);

    // The caption of a running job in the cancel list.
    static QString CancelCaption(const SendJob &job);
    // Cancels the running job shown by cancel item `index` (see cancelItem).
    void CancelItemChosen(int index);

    QMenu *subMenu(const QString &name) const;
    QMenu *cancelMenu() const { return m_cancel; }
    QAction *cancelItem(int index) const { return m_cancelItems.value(index); }
    // The cancel items as filled by the last prepare(): their captions in menu order.
    QStringList cancelCaptions() const;

  private:
    QMenu *addSubMenu(const char *name, const QString &caption, std::initializer_list<const char *> commands);
    void insertCommands(std::initializer_list<const char *> names);
    bool passwordWindowOpen() const;
    void fillCancelList();

    ModZorvin &m_ctx;
    TrayIcon &m_tray;
    Commands &m_commands;
    TransferSender &m_sender;
    QMenu &m_menu;
    QAction *m_before;
    QMenu *m_cancel = nullptr;
    QList<QAction *> m_cancelItems;
    // The slot each filled cancel item showed when the menu opened.
    QList<int> m_cancelSlots;
};
