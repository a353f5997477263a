// The listening socket of the receiving side and who it lets in: each accepted connection
// gets a number and a receive slot, unless there is none for it or its address holds its
// share already (SlotAdmission); then it is answered with the resource error and closed.
#pragma once

#include "net/ReceiveTable.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

// How long the listener rests after accepting failed (out of file descriptors): the
// connection waits in the backlog meanwhile instead of failing again at once.
inline constexpr int kAcceptPauseMs = 200;

class ReceiveAdmission : public QObject
{
    Q_OBJECT
  public:
    ReceiveAdmission(ReceiveTable &table, ReceiveHost &host, QObject *parent = nullptr);

    [[nodiscard]] bool listen(const QHostAddress &address, quint16 port, QString *errorText, int *errorNumber);
    bool isListening() const { return m_server.isListening(); }
    QHostAddress serverAddress() const { return m_server.serverAddress(); }
    void close();
    // A connection turned away that takes nothing at all is dropped after this long.
    void setIdleTimeout(int ms) { m_idleMs = ms; }

  signals:
    // A connection got slot `slot` under the number `socketIndex`; the socket is the
    // receiver's to serve from now on.
    void admitted(int socketIndex, QTcpSocket *socket, const QString &ip, qint64 openedMs);

  private:
    void onNewConnection();
    void onAcceptError();
    bool admit(const QString &ip);
    void turnAway(QTcpSocket *socket);

    ReceiveTable &m_table;
    ReceiveHost &m_host;
    // A child, so that a test can watch its signals.
    QTcpServer m_server;
    QTimer m_acceptPause;
    int m_socketCounter = 0;
    int m_idleMs = 120000;
};
