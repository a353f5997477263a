// The resident icon's tip while transfers run: how many sends and receptions there are
// and how far they have got in all, from the engine's progress reports.
#pragma once

#include "net/TransferProgress.h"

#include <QHash>
#include <QObject>

class EngineEvents;
class TrayIcon;

class TransferTip : public QObject
{
    Q_OBJECT
  public:
    TransferTip(EngineEvents &events, TrayIcon &tray, QObject *parent = nullptr);

    // "送信中 2 件  受信中 1 件  (45%)"; "" when nothing runs.
    static QString text(int sends, int receptions, qint64 done, qint64 total);

  private:
    void onProgress(const TransferProgress &progress);

    struct Share
    {
        bool sending;
        qint64 done;
        qint64 total;
    };
    TrayIcon &m_tray;
    QHash<qint64, Share> m_running;
};
