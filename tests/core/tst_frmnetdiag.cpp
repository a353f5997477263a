// The diagnostics window under a private X server: reached through the shared command in
// the tray's and the capture window's tool menus, its tables fill from real datagrams,
// and its test send reports an answering engine.
#include "capture/FrmMain.h"
#include "capture/CaptureCommands.h"
#include "ui/Commands.h"
#include "diagnostics/FrmNetDiag.h"
#include "ui/WindowRegistry.h"
#include "support/LoopbackEngine.h"
#include "support/XvfbSession.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

class tst_FrmNetDiag : public QObject
{
    Q_OBJECT
  public:
    tst_FrmNetDiag(XvfbSession &, const QString &skipReason) : m_skipReason(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }

    void commandOpensOneWindowThatShowsDatagramsAndTheTestSend()
    {
        LoopbackEngine a("127.0.0.2", "alice", "g");
        LoopbackEngine b("127.0.0.3", "bob", "g");
        QVERIFY(a.start());
        QVERIFY(b.start());
        WindowRegistry windows;
        Commands commands{a.ctx, a.engine, windows};
        RegisterCaptureCommands(a.ctx, a.engine, commands, windows);
        RegisterNetDiagWindow(a.engine, windows);
        QAction *action = commands.action(QStringLiteral("mnuNetDiag"));
        QVERIFY(action);
        QCOMPARE(action->text(), QStringLiteral("ﾈｯﾄﾜｰｸ診断(&D)"));
        QVERIFY(action->isEnabled());

        // The capture window's tool menu carries the same action.
        windows.open(WindowKind::Capture);
        auto *capture = windows.find<FrmMain>(WindowKind::Capture);
        QVERIFY(capture);
        auto *tool = capture->findChild<QAction *>(QStringLiteral("mnuTool"));
        QVERIFY(tool && tool->menu());
        QVERIFY(tool->menu()->actions().contains(action));

        action->trigger();
        action->trigger();
        auto *window = windows.find<FrmNetDiag>(WindowKind::NetDiag);
        QVERIFY(window);
        QCOMPARE(windows.windows(WindowKind::NetDiag).size(), 1);
        QTRY_VERIFY(window->isVisible());

        auto *address = window->findChild<QLineEdit *>();
        auto *send = window->findChild<QPushButton *>();
        QVERIFY(address && send);
        address->setText(QStringLiteral("127.0.0.3"));
        send->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->resultText().contains(QStringLiteral("応答がありました")), 5000);

        // The tables follow within the refresh period: b answered with three kinds.
        const QList<QTableWidget *> tables = window->findChildren<QTableWidget *>();
        QCOMPARE(tables.size(), 3);
        QTableWidget *counts = tables[0];
        QTableWidget *peers = tables[1];
        QTableWidget *history = tables[2];
        QTRY_VERIFY(counts->rowCount() >= 4);
        QTRY_COMPARE(peers->rowCount(), 1);
        QCOMPARE(peers->item(0, 0)->text(), QStringLiteral("127.0.0.3"));
        QVERIFY(history->rowCount() >= 4);
        QCOMPARE(history->item(history->rowCount() - 1, 3)->text(), QStringLiteral("captBC"));
        QCOMPARE(history->item(history->rowCount() - 1, 1)->text(), QStringLiteral("送信"));

        const QString folder = qEnvironmentVariable("ZORVIN_SHOTS");
        if (!folder.isEmpty())
            window->grab().save(folder + QStringLiteral("/netdiag.png"));
        windows.closeAll(nullptr);
    }

  private:
    QString m_skipReason;
};

ZORVIN_XVFB_MAIN(tst_FrmNetDiag, QSize(1280, 1024), false)
#include "tst_frmnetdiag.moc"
