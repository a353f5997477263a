#include "app/CommandChannel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTimer>

namespace {

// A command is one short line; anything longer is not ours.
constexpr qint64 kMaxLine = 64;
// A connection that says nothing is dropped after this long.
constexpr int kIdleMs = 5000;

} // namespace

CommandChannel::CommandChannel(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &CommandChannel::onNewConnection);
}

CommandChannel::~CommandChannel() = default;

bool CommandChannel::listen(QString *error)
{
    QLocalServer::removeServer(m_path);
    if (m_server->listen(m_path))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

bool CommandChannel::isCommand(const QString &command)
{
    static const QRegularExpression pattern(QStringLiteral("^(capture [0-4]|menu|show)$"));
    return pattern.match(command).hasMatch();
}

void CommandChannel::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        QTimer::singleShot(kIdleMs, socket, &QLocalSocket::abort);
        if (socket->canReadLine())
            onReadyRead(socket);
    }
}

void CommandChannel::onReadyRead(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxLine)
            socket->abort();
        return;
    }
    const QString command = QString::fromUtf8(socket->readLine(kMaxLine + 1)).trimmed();
    const bool known = isCommand(command);
    socket->write(known ? "ok\n" : "unknown\n");
    socket->disconnectFromServer();
    if (known)
        emit commandReceived(command);
}

CommandChannel::Sent CommandChannel::send(const QString &socketPath, const QString &command, int timeoutMs,
                                          QString *error)
{
    // The second start has nothing else to do meanwhile: it waits on the socket directly.
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs)) {
        if (error)
            *error = socket.errorString();
        return Sent::NoCopy;
    }
    socket.write(command.toUtf8() + '\n');
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(timeoutMs))
        answer += socket.readAll();
    if (answer.trimmed() == "ok")
        return Sent::Taken;
    if (error)
        *error = answer.isEmpty() ? QStringLiteral("no answer from the running copy")
                                  : QStringLiteral("the running copy did not take the command");
    return Sent::NotTaken;
}
