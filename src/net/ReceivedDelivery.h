// What becomes of a body that arrived whole: an archive is unpacked (or finishes its unpack
// on arrival), a file is placed in the received-files folder (copied on a worker when that
// lies on another file system), a picture is handed to the windows; the received list and
// the sound and folder settings learn of a delivered file.
#pragma once

#include "net/ReceiveTable.h"

#include <QHash>
#include <QObject>
#include <QString>

class ArchiverQueue;
class EngineEvents;
class FileMove;
class ModZorvin;
class ReceiveReports;

class ReceivedDelivery : public QObject
{
    Q_OBJECT
  public:
    ReceivedDelivery(ModZorvin &ctx, EngineEvents &events, ReceiveTable &table, ReceiveReports &reports,
                     ReceiveHost &host, ArchiverQueue *archiver, QObject *parent = nullptr);

    // Everything arrived and the body's file is closed.
    void bodyComplete(int socketIndex, int slot);
    void onArrivingUnpacked(int socketIndex, int result);
    // The reception ends before delivery: a waiting archive goes, a running unpack is
    // stopped (its files go when it ends), a copy into the receive folder stops and takes
    // its partial copy with it.
    void stop(int socketIndex, int slot);
    // Program end: the stopped unpacks are waited for and their files deleted.
    void closeAll();

    // See TransferReceiver::RefuseArrivedImage.
    void refuseArrivedImage();

  private:
    // The files of a running unpack command. A transfer may end before its unpack is done
    // (hang-up, stop request, quit); the unpack is then stopped and its files deleted.
    struct Unpacking
    {
        QString archive;
        QString item;
    };

    void finishUnpacked(int socketIndex, int slot);
    void finish(int socketIndex, int slot, const QString &path);
    void placeFile(int socketIndex, int slot, const QString &path);
    void onFilePlaced(int socketIndex, bool ok, const QString &error);
    void fileDelivered(const RecvSlot &s, const QString &fileName, const QString &folder);
    // False when the windows refused the picture (RefuseArrivedImage).
    bool imageArrived(const QString &path, const RecvSlot &s, const QString &displayName);
    void startUnpacking(int slot, bool retry);
    void unpackingEnded(int slot, int result, bool counted);
    void onArchiverFinished(int id, int result);
    void removeUnpackOutput(const Unpacking &files);

    ModZorvin &m_ctx;
    EngineEvents &m_events;
    ReceiveTable &m_table;
    ReceiveReports &m_reports;
    ReceiveHost &m_host;
    ArchiverQueue *m_archiver;
    // By archiver command id.
    QHash<int, Unpacking> m_unpacking;
    // Files being copied into the receive folder, by socket; children of this object.
    QHash<int, FileMove *> m_moves;
    // While imageArrived is being emitted, and whether a receiver refused the picture.
    bool m_handingOver = false;
    bool m_pictureRefused = false;
};
