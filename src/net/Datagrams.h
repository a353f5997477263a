// The two UDP sockets of the engine: WinsockUSv receives every datagram on the port,
// WinsockUCl sends them (BCastMsgSend). Datagrams from one sender leave in the order
// they were handed over, because each is written to the system before the call returns.
#pragma once

#include "net/NetDiagnostics.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUdpSocket>

class DatagramSeal;
class ModZorvin;
struct Settings;

class Datagrams : public QObject
{
    Q_OBJECT
  public:
    explicit Datagrams(ModZorvin &ctx, QObject *parent = nullptr);
    ~Datagrams() override;

    // Binds the receiving socket to the configured address and port (no sharing, so a
    // port held by another program is an error) and the sending socket to the same
    // address with a free port, so every datagram carries the local address as source.
    [[nodiscard]] bool open(QString *errorText, int *errorNumber);
    void close();
    bool isOpen() const;

    // Completes a presence datagram with the sender's fields and sends it to port
    // 62410 of `destination` ("255.255.255.255" means the configured broadcast address).
    // Returns 0 or a socket error number (SocketFacts); the datagram is simply lost on failure.
    int BCastMsgSend(const QString &datagram, const QString &destination);

    // The text actually sent for a datagram: "captBC", "zorvin" and "cBR..." get the
    // display name appended, "cBX..." the display name in 150 and the group in 50
    // positions; anything else is sent as given.
    static QString complete(const QString &datagram, const QString &name, const QString &hostName,
                            const QString &group);

    // Message datagrams to keyed peers go sealed through `seal` (which outlives this).
    void setSeal(DatagramSeal *seal) { m_seal = seal; }

    NetDiagnostics &diagnostics() { return m_diagnostics; }
    const NetDiagnostics &diagnostics() const { return m_diagnostics; }

  signals:
    // One datagram as received: the sender's dotted IPv4 address and the raw bytes.
    void datagramArrived(const QString &ip, const QByteArray &bytes);

  private:
    void onWinsockUSvReadyRead();

    ModZorvin &m_ctx;
    QUdpSocket WinsockUSv;
    QUdpSocket WinsockUCl;
    NetDiagnostics m_diagnostics;
    DatagramSeal *m_seal = nullptr;
    QByteArray m_readBuffer; // for one datagram as it is read

};
