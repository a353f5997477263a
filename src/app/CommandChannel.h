// Commands from a second start of the program ("zorvin --capture 2", "--menu", "--show") to
// the copy that runs: a local socket beside the single-instance lock, in the user's runtime
// folder and open to the user only. One line per connection, answered "ok" or "unknown".
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

class CommandChannel : public QObject
{
    Q_OBJECT
  public:
    explicit CommandChannel(const QString &socketPath, QObject *parent = nullptr);
    ~CommandChannel() override;

    // The running copy: takes the socket over (a file left by a copy that died goes; the
    // caller holds the single-instance lock, so no live copy owns it).
    [[nodiscard]] bool listen(QString *error = nullptr);

    enum class Sent { Taken, NoCopy, NotTaken };
    // A second start: hands `command` to the running copy and waits for its answer.
    // NoCopy when nobody listens (none runs, or it has not opened the channel yet);
    // NotTaken when the copy refused the command or did not answer in time.
    static Sent send(const QString &socketPath, const QString &command, int timeoutMs,
                     QString *error = nullptr);

    // "capture N" (N 0-4), "menu", "show".
    static bool isCommand(const QString &command);

  signals:
    // A well-formed command arrived (its sender has been told "ok").
    void commandReceived(const QString &command);

  private:
    void onNewConnection();
    void onReadyRead(QLocalSocket *socket);

    QString m_path;
    QLocalServer *m_server;
};
