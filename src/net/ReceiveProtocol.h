// The protocol of one receiving connection: the transfer header (checked, then the body's
// file opened and its room held), the body written as it arrives (or unpacked on its way
// in) until the declared size is complete, and the error reply that refuses a transfer.
// What becomes of a complete body is ReceivedDelivery's.
#pragma once

#include "net/ReceiveTable.h"

#include <QObject>
#include <QString>

class ArchiverQueue;
class ModZorvin;
class ReceiveReports;
class TransferSealing;

class ReceiveProtocol : public QObject
{
    Q_OBJECT
  public:
    ReceiveProtocol(ModZorvin &ctx, ReceiveTable &table, ReceiveReports &reports, ReceiveHost &host,
                    ArchiverQueue *archiver, QObject *parent = nullptr);

    // Serves an admitted connection: its idle watch and header deadline start.
    void open(int socketIndex, QTcpSocket *socket, const QString &ip, qint64 openedMs);
    // Closes a connection (CloseRecvSocket); closing after everything arrived is how the
    // sender learns of success.
    void close(int socketIndex);
    void read(int socketIndex);
    // ReportRecvError: the sender gets the error reply for `code`, the received list its line.
    void refuse(int socketIndex, int code, int archiverResult);
    // Lets go of the body's file, and deletes it when `removeFile`.
    void dropOutput(int socketIndex, bool removeFile);
    // Whether a reception ends short of its body: it is then listed as cut off or cancelled.
    bool endsShort(int socketIndex) const;

    void setIdleTimeout(int ms) { m_idleMs = ms; }
    void setHeaderDeadline(int ms) { m_headerDeadlineMs = ms; }
    // Who may send sealed; null: a sealed opening is refused.
    void setSealing(const TransferSealing *sealing) { m_sealing = sealing; }

    // The temporary name a file arrives under, beside its final place.
    static QString arrivalName(const QString &itemName, int socketIndex);

  signals:
    // An unpack on arrival ended with `result` (lzh::Ok or an error code).
    void arrivingUnpacked(int socketIndex, int result);

  private:
    // Tells a sealed opening from a plain one; false until the connection can be read on.
    bool chooseStream(int socketIndex);
    // False when the header refused the transfer or is not complete yet.
    bool startBody(int socketIndex, int slot);
    void readBody(int socketIndex, int slot);

    ModZorvin &m_ctx;
    ReceiveTable &m_table;
    ReceiveReports &m_reports;
    ReceiveHost &m_host;
    ArchiverQueue *m_archiver;
    const TransferSealing *m_sealing = nullptr;
    int m_idleMs = 120000;
    int m_headerDeadlineMs = kHeaderDeadlineMs;
};
