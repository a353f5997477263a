// The hidden resident window: it owns the engine, the tray icon, the commands and the
// window registry, runs start-up in its fixed order and quits in order (goodbye, address
// book, work folders, windows).
#pragma once

#include "net/EngineHost.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>

class AddressWindows;
class Commands;
class HotKeys;
class FrmAutoCapt;
class ModZorvin;
class NetEngine;
class TrayIcon;
class TrayMenu;
class TransferTip;
class WindowRegistry;

class FrmSket : public QWidget, public EngineHost
{
    Q_OBJECT
  public:
    explicit FrmSket(ModZorvin &ctx, QWidget *parent = nullptr);
    ~FrmSket() override;

    // The load handler. False when start-up failed fatally; the quit is then already under way.
    // While the first-run questions are open it returns true and start-up goes on from
    // their end: the network and the rest come only after they are answered.
    bool Load();
    // Start-up has gone through (StartupDone is 1).
    bool isStarted() const;
    // The command-line options that chose this copy's data folder and network; the
    // start-at-login entry repeats them.
    void setLoginArguments(const QStringList &arguments) { m_loginArguments = arguments; }

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
    // Every window opens, is found and goes through here.
    WindowRegistry &windows() const { return *m_windows; }
    // The actions of the tray menu and the capture window; windows that arrive set the
    // handlers of their commands here.
    Commands &commands() const { return *m_commands; }
    // The six hotkeys and their dialog; null until start-up has made them.
    HotKeys *hotKeys() const { return m_hotKeys.get(); }
    // The resident menu in the tray.
    TrayMenu &trayMenu() const { return *m_trayMenu; }
    // The interval capture; after the options are saved, its ApplyAutoCaptSettings.
    FrmAutoCapt &autoCapt() const { return *m_autoCapt; }

    // A command of the command line ("capture N", "menu", "show"), from this start or
    // handed over by a later one. One that comes during start-up runs once it is done.
    void RunCommand(const QString &command);

    // EngineHost
    int ShowMessageBox(const QString &text, int style) override;

  signals:
    // Emitted once the resident window has unloaded; the program ends then.
    void unloaded();

  private:
    // Everything after the first-run questions. False as Load().
    bool LoadAfterFirstRun();
    void WarnAboutMissingFolders();
    // Reads or makes the key pair; a damaged key file asks the user whether to start afresh.
    void LoadIdentity();
    // Sockets, the first announcement, then sending is allowed. False when start-up ends
    // here (a fatal socket error, or a quit that arrived meanwhile).
    bool StartNetwork();
    void AddTrayIcon();
    // What the engine's events ask of the desktop.
    void onSoundRequested(int mode, const QString &wavePath);
    void onFolderOpenRequested(const QString &path);
    void onLogViewerRequested(const QString &program, const QStringList &arguments, const QString &path);
    void ReportFatalSocketError(const QString &source, int number, const QString &description);
    // The quit question: unopened items, pinned pictures and running transfers; "" when
    // there is nothing to ask about.
    QString QuitQuestion() const;
    // `tellUser`: a failure to save the address book is shown in a box (the quit command);
    // otherwise (SIGTERM, logout) it goes to stderr only.
    void QueryUnload(bool tellUser);
    void Unload();
    void PerformCommand(const QString &command);

    ModZorvin &m_ctx;
    std::unique_ptr<NetEngine> m_engine;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<WindowRegistry> m_windows;
    std::unique_ptr<Commands> m_commands;
    // The address book, the send dialog and the send results.
    std::unique_ptr<AddressWindows> m_addressWindows;
    std::unique_ptr<HotKeys> m_hotKeys;
    std::unique_ptr<TrayMenu> m_trayMenu;
    std::unique_ptr<FrmAutoCapt> m_autoCapt;
    std::unique_ptr<TransferTip> m_transferTip;
    QStringList m_waitingCommands;
    QStringList m_loginArguments;
    // The first-run dialog while start-up waits for it.
    QPointer<QWidget> m_firstRunDialog;
    // Data files kept aside at start, named in one warning once start-up goes on.
    QString m_keptFiles;
    bool m_unloaded = false;
    bool m_loadFailed = false;
};
