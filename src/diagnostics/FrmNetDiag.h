// The network diagnostics window: addresses, the sockets' bind state, datagram counts, the
// peers last heard, the last datagrams and the test send. Refreshed every second while open.
#pragma once

#include "ui/WindowRegistry.h"

#include <QLatin1String>
#include <QTimer>
#include <QWidget>

class NetEngine;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class WindowRegistry;

class FrmNetDiag : public QWidget
{
    Q_OBJECT
  public:
    explicit FrmNetDiag(NetEngine &engine, QWidget *parent = nullptr);

    void refresh();
    QString resultText() const;

  protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

  private:
    void onTestSendClicked();
    void onEngineTestSendFinished(const QString &ip, bool answered);

    NetEngine &m_engine;
    QTimer m_refresh;
    QLabel *m_facts;
    QTableWidget *m_counts;
    QTableWidget *m_peers;
    // This copy's own address, and whether any other copy has been heard.
    QLabel *m_peersNote;
    QTableWidget *m_history;
    QLineEdit *m_testAddress;
    QPushButton *m_testSend;
    QLabel *m_testResult;
};

// The registry makes the diagnostics window ("ﾈｯﾄﾜｰｸ診断(&D)" opens it) for this engine.
void RegisterNetDiagWindow(NetEngine &engine, WindowRegistry &windows);
