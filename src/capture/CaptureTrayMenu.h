// The capture entries of the resident tray menu: the capture sub-menu and the show/hide
// pair of the capture window, so that a user reaches the capture window from the tray.
#pragma once

#include <QObject>

#include <functional>

class FrmMain;
class QAction;
class QMenu;
class TrayIcon;

class CaptureTrayMenu : public QObject
{
    Q_OBJECT
  public:
    // `captureWindow` gives the capture window, loading it again when it was closed;
    // `loadedWindow` gives it only when it is loaded (null otherwise).
    CaptureTrayMenu(QMenu &menu, QAction *before, std::function<FrmMain *()> captureWindow,
                    std::function<FrmMain *()> loadedWindow, QObject *parent = nullptr);

    // Applies the visibility and enabling rules; the tray calls it as the menu opens.
    void prepare();

    QAction *showAction() const { return m_show; }
    QAction *hideAction() const { return m_hide; }
    QMenu *captureMenu() const { return m_capture; }

  private:
    std::function<FrmMain *()> m_captureWindow;
    std::function<FrmMain *()> m_loadedWindow;
    QMenu *m_capture;
    QAction *m_clear;
    QAction *m_show;
    QAction *m_hide;
};
