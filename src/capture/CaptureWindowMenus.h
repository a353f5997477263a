// The capture window's menu bar and pop-up menu: their groups of the shared commands, the
// enabling of the groups, and the pop-up's list of running send jobs to cancel.
#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>

#include <initializer_list>

class Commands;
class NetEngine;
class QMainWindow;
class QMenu;

class CaptureWindowMenus : public QObject
{
    Q_OBJECT
  public:
    // Builds the menu bar of `window` and its pop-up (a child of the window).
    CaptureWindowMenus(QMainWindow &window, Commands &commands, NetEngine &engine);

    QMenu *popup() const { return m_popup; }
    // Applies the enabling rules to the commands and the sub-menus.
    void refresh();
    // The running send jobs as the cancel list shows them (slot order, at most 30), and the
    // cancel of the job with that caption.
    QStringList RunningJobCaptions() const;
    void CancelJob(const QString &caption);
    // Applies the enabling rules to the pop-up menu and builds its cancel list.
    void preparePopup();

  private:
    void buildMenus(QMainWindow &window);
    void buildPopup(QMainWindow &window);
    QMenu *addMenu(QMainWindow &window, QMenu *menu, const QString &name, const QString &caption);
    void addCommands(QMenu *menu, std::initializer_list<const char *> names);
    void updateSubMenus();

    Commands &m_commands;
    NetEngine &m_engine;
    QHash<QString, QMenu *> m_menus;
    QMenu *m_popup = nullptr;
    QMenu *m_popupCancel = nullptr;
};
