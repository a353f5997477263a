// What the engine tells the windows: arrivals, results, sounds and presence changes.
// Each engine owns one; the resident window (and tests) connect to it, so the engine
// never calls into a window and several engines can run in one process.
#pragma once

#include "net/ArrivedImage.h"
#include "net/ReceivedMessage.h"
#include "net/TransferProgress.h"

#include <QObject>
#include <QString>
#include <QStringList>

class EngineEvents : public QObject
{
    Q_OBJECT
  public:
    using QObject::QObject;

  signals:
    // One line of the send-result list: kind "I" picture, "F" file, "M" message;
    // result 0 success ("成功"), 1 failure ("失敗"), 2 opened ("開封").
    void sendResultAdded(const QString &name, const QString &kind, int result, const QString &info);
    // One line of the received list: result 0 success, 1 failure.
    void recvInfoAdded(const QString &name, int result, const QString &info);
    // How far a running send or reception has got: when it starts, at most every
    // ProgressPace::kProgressIntervalMs while it runs, and once with state Ended when it
    // ends. Packing before the first byte is its own state.
    void transferProgress(const TransferProgress &progress);
    // A received picture for a new viewer. The file may be deleted as soon as the signal
    // returns, so a receiver connected directly loads the picture before returning; one
    // that cannot read it calls TransferReceiver::RefuseArrivedImage before returning, and
    // the sender is answered with an error instead of the close that means delivered.
    void imageArrived(const ArrivedImage &image);
    // A message arrived: a new received message window shows it, plays the arrival sound
    // and flashes. The engine logs it and sends the receipt after the signal returns. A
    // sender's retry of a message already received is answered again but not signalled.
    void messageArrived(const ReceivedMessage &message);
    // An arrival sound: mode 1 the system beep, 2 the wave file played asynchronously.
    void soundRequested(int mode, const QString &wavePath);
    // Show a folder in the desktop's file manager.
    void folderOpenRequested(const QString &path);
    // The message-log command: start `program` with `arguments` (the log path is the last
    // of them); when `program` is empty or cannot be started, open `path` with the
    // desktop's default viewer. Failures are not shown.
    void logViewerRequested(const QString &program, const QStringList &arguments, const QString &path);
    // The message log could not be written (`error` says why). Once per run of failures:
    // the next one after a record was written again.
    void msgLogWriteFailed(const QString &path, const QString &error);
    // The peers' pinned keys could not be written; once per run of failures.
    void peerKeysWriteFailed(const QString &path, const QString &error);
    // A message from the send dialog is going out: the compose window with this id closes
    // when it asked to, then the received window it answered (its link id).
    void messageSending(int messageId);
    // Presence is about to change a peer (the arguments of UpdatePeer), before the store
    // is updated.
    void peerUpdating(const QString &name, const QString &ip, const QString &state, const QString &version,
                      const QString &group);
};
