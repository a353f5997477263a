// The capture entries of the resident tray menu: the capture sub-menu and the show/hide
// pair of the capture window, made of the same actions as the capture window's own.
#pragma once

#include <QObject>

class Commands;
class QAction;
class QMenu;

class CaptureTrayMenu : public QObject
{
    Q_OBJECT
  public:
    // Inserts the entries into `menu` before `before`.
    CaptureTrayMenu(QMenu &menu, QAction *before, Commands &commands, QObject *parent = nullptr);

    // Applies the enabling rules and shows one of show/hide; the tray calls it as the
    // menu opens.
    void prepare();

    QAction *showAction() const;
    QAction *hideAction() const;
    QMenu *captureMenu() const { return m_capture; }

  private:
    Commands &m_commands;
    QMenu *m_capture;
};
