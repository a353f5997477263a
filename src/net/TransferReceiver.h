// The receiving side of picture and file transfers on port 62410: it owns the 256 receive
// slots and their connections and ends them; admission (ReceiveAdmission), the protocol of
// each connection (ReceiveProtocol), delivery of what arrived (ReceivedDelivery) and the
// replies and list lines (ReceiveReports) are parts of their own. Every refusal goes back
// to the sender as an error reply.
#pragma once

#include "net/ReceiveAdmission.h"
#include "net/ReceiveProtocol.h"
#include "net/ReceiveReports.h"
#include "net/ReceiveTable.h"
#include "net/ReceivedDelivery.h"
#include "net/TransferLinks.h"

#include <QObject>
#include <QString>

class ModZorvin;
class EngineEvents;

class TransferReceiver : public QObject, private ReceiveHost
{
    Q_OBJECT
  public:
    TransferReceiver(ModZorvin &ctx, EngineEvents &events, TransferLinks links, QObject *parent = nullptr);
    ~TransferReceiver() override;

    // Listens on ctx.net.bindAddress, port ctx.net.port (WinsockSv element 0).
    [[nodiscard]] bool Listen(QString *errorText, int *errorNumber);
    bool isListening() const { return m_admission.isListening(); }
    void CloseAll();

    // Slot number, or 256 when none is free.
    int AllocRecvSlot(int socketIndex, const QString &ip, quint16 port);
    void FreeRecvSlot(int socketIndex, int slot);
    void CloseRecvSocket(int socketIndex);
    void ReportRecvError(int socketIndex, int code, int archiverResult = 0);
    // Called by a receiver of EngineEvents::imageArrived before it returns: the picture
    // cannot be read, so the sender gets the format error instead of the close that means
    // delivered, and the received list the failure. Outside that hand-over it does nothing.
    void RefuseArrivedImage();

    // "captSP" from ip: cancels the first matching receive from that sender.
    void onStopDatagram(const QString &ip, const QString &datagram);

    const RecvSlot &slot(int i) const { return m_table.slot(i); }
    int slotsInUse() const { return m_table.slotsInUse(); }
    // Connections that hold a slot; those turned away are not counted.
    int openConnections() const { return int(m_table.connections.size()); }
    // Archives being unpacked while they arrive (or finishing that unpack).
    int unpacksOnArrival() const { return m_table.unpacksOnArrival(); }

    // A connection that sends nothing for this long is closed and its slot freed.
    void setIdleTimeout(int ms);
    // A connection whose header is not complete this long after it opened is closed.
    void setHeaderDeadline(int ms) { m_protocol.setHeaderDeadline(ms); }

    // What the running receptions and unpacks may still write.
    const DiskReservations &reservations() const { return m_table.reservations; }
    // The temporary name a file arrives under, beside its final place.
    static QString arrivalName(const QString &itemName, int socketIndex)
    {
        return ReceiveProtocol::arrivalName(itemName, socketIndex);
    }

    // Error code of a picture that arrived whole but cannot be read: the sender is told of
    // a format error (the text of code 2), the received list names the format.
    static constexpr int kUnreadablePicture = ReceiveReports::kUnreadablePicture;
    static QString errorReplyText(int code) { return ReceiveReports::errorReplyText(code); }
    // "9999" + length in characters (4 digits) + text, in the code page.
    static QByteArray errorReply(int code) { return ReceiveReports::errorReply(code); }

  private:
    // ReceiveHost
    void refuse(int socketIndex, int code, int archiverResult) override;
    void endReception(int socketIndex, bool abort) override;
    void delivered(int socketIndex, int slot) override;
    void bodyComplete(int socketIndex, int slot) override;
    void connectionClosed(int socketIndex) override;
    void connectionIdle(int socketIndex) override;

    ModZorvin &m_ctx;
    TransferLinks m_links;
    ReceiveTable m_table;
    ReceiveReports m_reports;
    ReceiveProtocol m_protocol;
    ReceivedDelivery m_delivery;
    ReceiveAdmission m_admission;
};
