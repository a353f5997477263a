// What a reception tells the sender and the windows: the error replies and their texts,
// the lines of the received list (failures, cancels, hang-ups held back for a stop request
// that may follow) and the progress of running receptions.
#pragma once

#include "net/ReceiveTable.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class EngineEvents;

// A hang-up in the middle of a body waits this long for the sender's stop request, which
// may come after it, before it is listed as a cut-off transfer rather than a cancel.
inline constexpr int kCutLineGraceMs = 1000;

class ReceiveReports : public QObject
{
    Q_OBJECT
  public:
    // Error code of a picture that arrived whole but cannot be read: the sender is told of
    // a format error (the text of code 2), the received list names the format.
    static constexpr int kUnreadablePicture = 5;
    // Error code of a connection turned away or given up for want of a receive slot.
    static constexpr int kNoRoom = 254;

    ReceiveReports(EngineEvents &events, std::function<QString(const QString &ip)> peerName,
                   QObject *parent = nullptr);

    static QString errorReplyText(int code);
    // "9999" + length in characters (4 digits) + text, in the code page.
    static QByteArray errorReply(int code);
    // The received list's detail for a refusal with `code` ("" for none).
    static QString failureDetail(int code, int state, int archiverResult);

    QString displayNameOf(const QString &ip) const;
    QString senderName(const RecvSlot &s) const;
    void addFailureLine(const RecvSlot &s, const QString &detail);
    // "送信側でキャンセルされました。" with the item, for the sender of `s`.
    void addCancelLine(const RecvSlot &s);
    void progress(int slot, RecvSlot &s, TransferProgress::State state, qint64 speed = 0);

    // A body cut short by a hang-up: listed as cut off unless a stop request claims it in time.
    void holdCutLine(const RecvSlot &s);
    void listDueCutLines(bool all);
    // A stop request from `ip` for `archive` ("" for any) finds a held hang-up: it is listed
    // as a cancel instead. False when none is held.
    bool claimCutLine(const QString &ip, const QString &archive);
    static bool stopMatches(const QString &ip, const QString &archive, const QString &from, const QString &name);

  private:
    EngineEvents &m_events;
    std::function<QString(const QString &ip)> m_peerName;
    struct CutLine
    {
        QString ip;
        QString archive;
        QString who;
        QString kindText;
        QString item;
        qint64 dueMs;
    };
    QList<CutLine> m_cutLines;
    QTimer m_cutGrace;
    QElapsedTimer m_clock;
};
