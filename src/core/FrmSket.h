// The hidden resident window: it owns the engine, the tray icon and the process context,
// runs start-up in its fixed order and quits in order (goodbye, address book, work folders).
#pragma once

#include "core/EngineHost.h"

#include "capture/FrmMain.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class CaptureTrayMenu;
class ModZorvin;
class NetEngine;
class TrayIcon;

class FrmSket : public QWidget, public EngineHost
{
    Q_OBJECT
  public:
    explicit FrmSket(ModZorvin &ctx, QWidget *parent = nullptr);
    ~FrmSket() override;

    // The load handler. False when start-up failed fatally; the quit is then already under way.
    bool Load();

    // The quit command: asks about unopened items first. Also reached from the tray.
    void mnuEnd();
    // Quits in order without the question (fatal start-up, SIGTERM, logout).
    void QuitWithoutQuestion();
    bool isUnloaded() const { return m_unloaded; }

    // on: the window's task entry flashes and the tray icon blinks; off: both stop.
    void FlashAndBlink(QWidget *window, bool on);

    ModZorvin &context() const { return m_ctx; }
    NetEngine &engine() const { return *m_engine; }
    TrayIcon &tray() const { return *m_tray; }

    // The capture window, loaded again (hidden) when it was closed.
    FrmMain *captureWindow();
    // The capture window only while it is loaded.
    FrmMain *loadedCaptureWindow() const { return m_frmMain; }
    // What the capture window's commands reach beyond it (send dialog, message window,
    // options...); set as those windows arrive, kept for every later load.
    void setCaptureDoors(const FrmMainDoors &doors);

    // EngineHost
    int ShowMessageBox(const QString &text, int style) override;

  signals:
    // Emitted once the resident window has unloaded; the program ends then.
    void unloaded();

  private:
    // What the engine's events ask of the desktop.
    void onSoundRequested(int mode, const QString &wavePath);
    void onFolderOpenRequested(const QString &path);
    void onLogViewerRequested(const QString &program, const QStringList &arguments, const QString &path);
    void ReportFatalSocketError(const QString &source, int number, const QString &description);
    QString UnopenedItemsQuestion() const;
    void QueryUnload();
    void Unload();
    void onTrayDoubleClicked();

    ModZorvin &m_ctx;
    std::unique_ptr<NetEngine> m_engine;
    std::unique_ptr<TrayIcon> m_tray;
    QPointer<FrmMain> m_frmMain;
    FrmMainDoors m_captureDoors;
    CaptureTrayMenu *m_captureTray = nullptr;
    bool m_unloaded = false;
};
