// The resident window's start-up as it meets a quit: a quit that arrives while start-up
// waits (its warning box is up) ends it there, with nothing opened or announced after it.
#include "core/FrmSket.h"
#include "core/ModZorvin.h"
#include "core/SettingsFile.h"

#include "support/XvfbSession.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs `act` on the next message box that opens, while start-up waits for it.
void onNextBox(std::function<void(QMessageBox *)> act)
{
    QTimer::singleShot(10, qApp, [act] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                act(box);
                return;
            }
        }
        onNextBox(act);
    });
}

} // namespace

class tst_FrmSket : public QObject
{
    Q_OBJECT
  public:
    tst_FrmSket(XvfbSession &, const QString &skipReason) : m_skipReason(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }
    void quitWhileStartupWaitsEndsStartup();

  private:
    QString m_skipReason;
};

void tst_FrmSket::quitWhileStartupWaitsEndsStartup()
{
    QTemporaryDir data;
    ModZorvin ctx;
    ctx.ProgramDir = data.path() + QLatin1Char('/');
    ctx.net.bindAddress = QHostAddress(QStringLiteral("127.0.0.12"));
    ctx.net.broadcastAddress = QStringLiteral("127.0.0.12");
    ctx.MakeTempFolders(data.path() + QStringLiteral("/tmp/"));
    // A received-files folder that does not exist: start-up stops at its warning.
    QFile ini(ctx.SettingsPath());
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[ZorvinSetting]\r\nRecvFileSavePlace=" + QFile::encodeName(data.path()) + "/missing\r\n");
    ini.close();

    FrmSket sket(ctx);
    QSignalSpy unloaded(&sket, &FrmSket::unloaded);
    QString warning;
    onNextBox([&](QMessageBox *box) {
        warning = box->text();
        sket.QuitWithoutQuestion(); // as SIGTERM does
    });
    QVERIFY(!sket.Load());

    QVERIFY(warning.contains(QStringLiteral("受信ファイルの保存先：")));
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(ctx.StartupDone, uint8_t(StartupQuitting));
    QVERIFY(!ctx.NetworkReady);
    // The version stamp marks a finished start-up only.
    QCOMPARE(SettingsFile(ctx.SettingsPath()).ReadSetting(QStringLiteral("Zorvin"), QStringLiteral("Major")),
             QString());
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
}

ZORVIN_XVFB_MAIN(tst_FrmSket, QSize(800, 600), false)
#include "tst_frmsket.moc"
