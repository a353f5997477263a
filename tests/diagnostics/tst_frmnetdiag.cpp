// The diagnostics window under a private X server: reached through the shared command in
// the tray's and the capture window's tool menus, its tables fill from real datagrams,
// and its test send reports an answering engine.
#include "capture/FrmMain.h"
#include "capture/CaptureCommands.h"
#include "ui/Commands.h"
#include "diagnostics/FrmNetDiag.h"
#include "ui/WindowRegistry.h"
#include "net/Identity.h"
#include "support/LoopbackEngine.h"
#include "support/XvfbSession.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
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
        QTemporaryDir dataA;
        QVERIFY(a.loadIdentity(dataA.path()));
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
        auto *note = window->findChild<QLabel *>(QStringLiteral("PeersNote"));
        QVERIFY(address && send && note);
        // Bound sockets read as listening, not as a port someone else holds.
        QVERIFY(window->findChild<QLabel *>(QStringLiteral("Facts"))
                    ->text()
                    .contains(QStringLiteral("UDP %1: 待ち受け中").arg(a.ctx.net.port)));
        // The key's fingerprint, to be read out to a colleague.
        QVERIFY(window->findChild<QLabel *>(QStringLiteral("Facts"))
                    ->text()
                    .endsWith(QStringLiteral("\n鍵の指紋: ") + a.engine.identity().fingerprint()));

        // This copy answers itself: it is named apart, and the table still says nobody else
        // was heard.
        address->setText(QStringLiteral("127.0.0.2"));
        send->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->resultText().contains(QStringLiteral("応答がありました")), 5000);
        window->refresh();
        QVERIFY2(note->text().contains(QStringLiteral("自分 (127.0.0.2): ")), qPrintable(note->text()));
        QVERIFY(note->text().contains(QStringLiteral("ほかのぞるびんからはまだ何も受信していません。")));

        // An address nobody answers on names the likely causes.
        address->setText(QStringLiteral("127.0.0.9"));
        send->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->resultText().contains(QStringLiteral("応答がありませんでした")),
                                 8000);
        for (const char *cause : {"別のﾎﾟｰﾄ番号", "ﾌｧｲｱｰｳｫｰﾙ", "別のｻﾌﾞﾈｯﾄ"})
            QVERIFY2(window->resultText().contains(QString::fromUtf8(cause)), cause);

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
        // Sent, received and refused (forged or replayed) per kind.
        QCOMPARE(counts->columnCount(), 4);
        QCOMPARE(counts->horizontalHeaderItem(3)->text(), QStringLiteral("拒否"));
        QCOMPARE(counts->item(0, 3)->text(), QStringLiteral("0"));
        QTRY_COMPARE(peers->rowCount(), 1);
        QCOMPARE(peers->item(0, 0)->text(), QStringLiteral("127.0.0.3"));
        QVERIFY(!note->text().contains(QStringLiteral("まだ何も")));
        QVERIFY(history->rowCount() >= 4);
        QCOMPARE(history->item(history->rowCount() - 1, 3)->text(), QStringLiteral("captBC"));
        QCOMPARE(history->item(history->rowCount() - 1, 1)->text(), QStringLiteral("送信"));

        const QString folder = qEnvironmentVariable("ZORVIN_SHOTS");
        if (!folder.isEmpty())
            window->grab().save(folder + QStringLiteral("/netdiag.png"));
        // Esc closes it from its tables, where the key has no other use.
        QTest::keyClick(history, Qt::Key_Escape);
        QTRY_VERIFY(!windows.find(WindowKind::NetDiag));
        windows.closeAll(nullptr);
    }

  private:
    QString m_skipReason;
};

ZORVIN_XVFB_MAIN(tst_FrmNetDiag, QSize(1280, 1024), false)
#include "tst_frmnetdiag.moc"
