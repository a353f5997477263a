// The program's commands: one QAction each, shared by the capture window's toolbar, menu
// bar and pop-up menu and by the tray menu. Each command's enabling rule sits beside it in
// the table; a command whose handler is not set yet (its window registers it when it is
// built) is there and disabled.
#pragma once

#include <QImage>
#include <QKeySequence>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class ModZorvin;
class NetEngine;
class PrintTarget;
class QAction;
class WindowRegistry;

// What goes to the send dialog (the hand-over picture and its tag): kind 0 a picture,
// tagged with its source file or ""; kind 1 a message, its text and the id of the window
// that composed it, tagged with the address a reply goes to or ""; kind 2 files, tagged
// with one path or a folder with "/" followed by NUL-separated names.
struct SendHandOver
{
    SendHandOver(int kind = 0, const QImage &picture = QImage(), const QString &tag = QString(),
                 const QString &text = QString(), int messageId = 0)
        : kind(kind), picture(picture), tag(tag), text(text), messageId(messageId)
    {}
    int kind;
    QImage picture;
    QString tag;
    QString text;
    int messageId;
};

class Commands : public QObject
{
    Q_OBJECT
  public:
    Commands(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, QObject *parent = nullptr);
    ~Commands() override;

    // By menu name ("mnuSave") or toolbar key ("FileSave"); null for an unknown name. A
    // command with a toolbar button carries the button's key as its object name, the key
    // the saved toolbar layout uses; the others carry their menu name.
    QAction *action(const QString &name) const;

    // Adds a command that only a window knows how to name (the capture modes).
    void add(const char *name, const QString &caption, const char *toolbarKey, std::function<void()> handler,
             std::function<bool()> rule);
    // What a command does; null leaves it disabled.
    void setHandler(const QString &name, std::function<void()> handler);
    // What a command does and when it may run.
    void setHandler(const QString &name, std::function<void()> handler, std::function<bool()> rule);
    // The send dialog, opened with what is to be sent. Until it is set, the send commands
    // and the sending of dropped files stay off.
    void setSendDialog(std::function<void(const SendHandOver &)> open);
    // Sending is possible: the network runs and the send dialog is there.
    bool canSend() const;
    void LoadSendAddr(const SendHandOver &handOver);

    // The command has a handler and its rule lets it run now.
    bool allows(const QString &name) const;
    // Runs the command if it allows it; false when it did not run.
    bool run(const QString &name);
    // Applies every command's rule to its action.
    void refresh();
    // The options were saved: windows that show settings take them, then the rules are
    // applied again.
    void applySettings();

    WindowRegistry &windows() const { return m_windows; }
    // Where the print commands print: the default printer unless a test gives a PDF file.
    PrintTarget &printTarget() const { return *m_printTarget; }
    void setPrintTarget(std::unique_ptr<PrintTarget> target);

  signals:
    void settingsChanged();

  private:
    struct Command
    {
        QString name;
        QAction *action;
        std::function<void()> handler;
        std::function<bool()> rule;
    };
    // The key, shown in the menus and after the toolbar tooltip ("保存 (Ctrl+S)").
    void setStandardKey(const char *name, QKeySequence::StandardKey key);
    int indexOf(const QString &name) const;
    bool allows(const Command &command) const;

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    WindowRegistry &m_windows;
    std::vector<Command> m_commands;
    std::function<void(const SendHandOver &)> m_sendDialog;
    std::unique_ptr<PrintTarget> m_printTarget;
};
