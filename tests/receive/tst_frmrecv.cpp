// The received list under a real X server: rows from a real engine's file transfer before
// the window was ever shown, open / copy / move / trash over a selection that mixes failure
// and success rows with their failure lists, names that would leave the receive folder,
// the overwrite question, the pop-up only over a success row, and RecvInfMin.
#include "receive/FrmRecv.h"
#include "receive/ReceiveSetup.h"
#include "receive/ReceivedFiles.h"
#include "support/NextMessageBox.h"
#include "support/XvfbSession.h"
#include "ui/TransferRows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Answers the folder dialog that the next command opens with `folder`.
void chooseFolderNext(QObject *context, const QString &folder)
{
    QTimer::singleShot(0, context, [folder] {
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        // An empty name chooses the folder shown.
        dialog->setDirectory(folder);
        dialog->selectFile(QString());
        static_cast<QDialog *>(dialog)->accept();
    });
}

} // namespace

class TstFrmRecv : public QObject
{
    Q_OBJECT
  public:
    TstFrmRecv(XvfbSession &, const QString &skipReason) : m_skip(skipReason) {}

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void namesOutsideTheFolderAreRefused();
    void rowsFromTheEngineComeBeforeTheWindowIsShown();
    void runningReceptionsShowOnlyInAnOpenWindow();
    void mixedSelectionGivesTheFailureListsOfOpenCopyMoveAndTrash();
    void copyAsksBeforeOverwriting();
    void popupOnlyOverASelectedSuccessRow();
    void recvInfMinKeepsTheWindowMinimised();

  private:
    FrmRecv *list();
    // Runs `command` and returns its failure list and the text of its box, if one came.
    QStringList run(FrmRecv &window, const std::function<void()> &command, QString *boxText);
    QString folder() const { return m_receiver->ctx.settings.RecvFileSavePlace; }

    QString m_skip;
    std::unique_ptr<ReceivingCopy> m_receiver;
};

void TstFrmRecv::initTestCase()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
}

void TstFrmRecv::init()
{
    m_receiver = std::make_unique<ReceivingCopy>(QStringLiteral("127.0.0.4"));
}

void TstFrmRecv::cleanup()
{
    m_receiver.reset();
}

FrmRecv *TstFrmRecv::list()
{
    return m_receiver->windows->find<FrmRecv>(WindowKind::Recv);
}

QStringList TstFrmRecv::run(FrmRecv &window, const std::function<void()> &command, QString *boxText)
{
    QSignalSpy handled(&window, &FrmRecv::filesHandled);
    boxText->clear();
    // The failure box (if any) is modal: read and close it while the command waits in it.
    bool boxSeen = false;
    onNextBox([&](QMessageBox *box) {
        *boxText = box->text();
        boxSeen = true;
        box->accept();
    });
    command();
    if (handled.isEmpty() && !handled.wait(10000))
        return {QStringLiteral("<no end>")};
    const QStringList failed = handled.first().at(1).toStringList();
    if (!failed.isEmpty() && !QTest::qWaitFor([&boxSeen] { return boxSeen; }, 5000))
        return {QStringLiteral("<no box>")};
    return failed;
}

void TstFrmRecv::namesOutsideTheFolderAreRefused()
{
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("in"));
    QDir().mkpath(home);
    QVERIFY(writeFile(dir.filePath(QStringLiteral("secret")), "x"));
    QVERIFY(writeFile(home + QStringLiteral("/plain.txt"), "x"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("secret")), home + QStringLiteral("/link")));
    QCOMPARE(ReceivedFiles::PathInFolder(home, QStringLiteral("plain.txt")),
             home + QStringLiteral("/plain.txt"));
    QCOMPARE(ReceivedFiles::PathInFolder(home, QStringLiteral("new.txt")), home + QStringLiteral("/new.txt"));
    for (const QString &bad :
         {QStringLiteral("../secret"), QStringLiteral(".."), QStringLiteral("."), QString(),
          QStringLiteral("/etc/passwd"), QStringLiteral("link"), QStringLiteral("a\0b")})
        QVERIFY2(ReceivedFiles::PathInFolder(home, bad).isEmpty(), qPrintable(bad));
    QVERIFY(ReceivedFiles::IsInFolder(home, home + QStringLiteral("/plain.txt")));
    QVERIFY(!ReceivedFiles::IsInFolder(home, dir.filePath(QStringLiteral("secret"))));
}

void TstFrmRecv::rowsFromTheEngineComeBeforeTheWindowIsShown()
{
    SendingCopy sender(QStringLiteral("127.0.0.2"));
    QVERIFY(sender.start());
    QVERIFY(m_receiver->start());
    QVERIFY(!list());
    const QString file = sender.tmp.path() + QStringLiteral("/report.txt");
    QVERIFY(writeFile(file, "quarterly"));
    QCOMPARE(SendJobs(sender.engine).SendFiles({file}, {{QStringLiteral("r"), m_receiver->address()}}), 1);
    QTRY_VERIFY_WITH_TIMEOUT(list() && list()->list()->topLevelItemCount() == 1, 20000);
    const QTreeWidgetItem *row = list()->list()->topLevelItem(0);
    QCOMPARE(row->text(1), QStringLiteral("IPｱﾄﾞﾚｽ 127.0.0.2"));
    QCOMPARE(row->text(2), QStringLiteral("成功"));
    QCOMPARE(row->text(3), QStringLiteral("report.txt"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(row->text(0))
                .hasMatch());
    QCOMPARE(readAll(m_receiver->recvFile(QStringLiteral("report.txt"))), QByteArray("quarterly"));
    QVERIFY(QTest::qWaitForWindowExposed(list()));
    QCOMPARE(list()->windowTitle(), QStringLiteral("ぞるびん　- 受信 -"));

    // Closing drops the rows; the next report starts a fresh window.
    list()->close();
    QTRY_VERIFY(!list());
    m_receiver->receive->AddRecvInfo(QStringLiteral("x"), 1, QStringLiteral("err"));
    QCOMPARE(list()->list()->topLevelItemCount(), 1);
}

void TstFrmRecv::runningReceptionsShowOnlyInAnOpenWindow()
{
    SendingCopy sender(QStringLiteral("127.0.0.2"));
    QVERIFY(sender.start());
    QVERIFY(m_receiver->start());
    // A reception's reports never open the list; its line does.
    QList<bool> windowAtReport;
    connect(&m_receiver->engine->events(), &EngineEvents::transferProgress, this,
            [&](const TransferProgress &) { windowAtReport << (list() != nullptr); });
    const QString file = sender.tmp.path() + QStringLiteral("/big.bin");
    QVERIFY(writeFile(file, QByteArray(32 << 20, 'b')));
    QCOMPARE(SendJobs(sender.engine).SendFiles({file}, {{QStringLiteral("r"), m_receiver->address()}}), 1);
    QTRY_VERIFY_WITH_TIMEOUT(list() && list()->list()->topLevelItemCount() == 1, 20000);
    QVERIFY(windowAtReport.size() >= 2);
    QCOMPARE(windowAtReport.first(), false);
    QCOMPARE(list()->runningRows()->runningCount(), 0);

    // In the open window a reception is a row above the lines until it ends.
    FrmRecv &window = *list();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect whole = window.list()->geometry();
    TransferProgress p;
    p.sending = false;
    p.id = 3;
    p.name = QStringLiteral("alice (h2)");
    p.item = QStringLiteral("photo.jpg");
    p.total = 3 << 20;
    p.done = 1 << 20;
    p.bytesPerSecond = 1 << 19;
    window.ShowProgress(p);
    TransferRows &rows = *window.runningRows();
    QCOMPARE(rows.runningCount(), 1);
    QVERIFY(rows.isVisible());
    QVERIFY(rows.geometry().bottom() < window.list()->geometry().top());
    QCOMPARE(window.list()->geometry().bottom(), whole.bottom());
    const QTreeWidgetItem *row = rows.topLevelItem(0);
    QCOMPARE(row->text(rows.column(TransferRows::State)), QStringLiteral("受信中"));
    QCOMPARE(row->text(rows.column(TransferRows::Bytes)), QStringLiteral("1.0 MB / 3.0 MB"));
    QCOMPARE(row->text(rows.column(TransferRows::Speed)), QStringLiteral("512.0 KB/s"));
    QCOMPARE(row->text(rows.column(TransferRows::TimeLeft)), QStringLiteral("0:04"));
    p.done = 2 << 20;
    window.ShowProgress(p);
    QCOMPARE(rows.runningCount(), 1);
    QCOMPARE(row->text(rows.column(TransferRows::TimeLeft)), QStringLiteral("0:02"));
    p.state = TransferProgress::State::Ended;
    window.ShowProgress(p);
    QCOMPARE(rows.runningCount(), 0);
    QVERIFY(!rows.isVisible());
    QCOMPARE(window.list()->geometry(), whole);
    QCOMPARE(TransferRows::timeText(3725), QStringLiteral("1:02:05"));
}

void TstFrmRecv::mixedSelectionGivesTheFailureListsOfOpenCopyMoveAndTrash()
{
    // One file type has a default application (a script that leaves a mark), one has none.
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    QVERIFY2(!data.isEmpty() && !config.isEmpty(), "run through run-isolated.sh");
    const QString marks = m_receiver->tmp.path() + QStringLiteral("/opened");
    QDir().mkpath(data + QStringLiteral("/applications"));
    QVERIFY(writeFile(data + QStringLiteral("/applications/zorvin-test-open.desktop"),
                      QStringLiteral("[Desktop Entry]\nType=Application\nName=Mark\nExec=touch %1\n"
                                     "MimeType=text/plain;\n")
                          .arg(marks)
                          .toUtf8()));
    QVERIFY(writeFile(config + QStringLiteral("/mimeapps.list"),
                      "[Default Applications]\ntext/plain=zorvin-test-open.desktop\n"));

    QVERIFY(writeFile(m_receiver->recvFile(QStringLiteral("notes.txt")), "notes"));
    QVERIFY(writeFile(m_receiver->recvFile(QStringLiteral("blob.zzq")), QByteArray(64, '\x01')));
    m_receiver->receive->AddRecvInfo(QStringLiteral("a"), 0, QStringLiteral("notes.txt"));
    m_receiver->receive->AddRecvInfo(QStringLiteral("b"), 1, QStringLiteral("転送エラー"));
    m_receiver->receive->AddRecvInfo(QStringLiteral("c"), 0, QStringLiteral("blob.zzq"));
    m_receiver->receive->AddRecvInfo(QStringLiteral("d"), 0, QStringLiteral("../escape.txt"));
    FrmRecv *window = list();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->list()->selectAll();

    QString box;
    QCOMPARE(run(
                 *window, [window] { window->OpenFiles(); }, &box),
             (QStringList{QStringLiteral("転送エラー"), QStringLiteral("blob.zzq"),
                          QStringLiteral("../escape.txt")}));
    QCOMPARE(box, QStringLiteral("以下のファイルを開けません。\n\n転送エラー , blob.zzq , ../escape.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marks), 10000);

    // Copy tries the failure row as a file name and lists it because no such file exists.
    const QString target = m_receiver->tmp.path() + QStringLiteral("/target");
    QDir().mkpath(target);
    chooseFolderNext(window, target);
    QCOMPARE(run(
                 *window, [window] { window->FileCtl(0); }, &box),
             (QStringList{QStringLiteral("転送エラー"), QStringLiteral("../escape.txt")}));
    QCOMPARE(box, QStringLiteral("以下のファイルのコピーに失敗しました。\n\n転送エラー , ../escape.txt"));
    QCOMPARE(readAll(target + QStringLiteral("/notes.txt")), QByteArray("notes"));
    QCOMPARE(readAll(target + QStringLiteral("/blob.zzq")), QByteArray(64, '\x01'));
    QVERIFY(QFile::exists(m_receiver->recvFile(QStringLiteral("notes.txt"))));

    // Move, only the text file's row selected with the failure row; the row stays.
    const QString moved = m_receiver->tmp.path() + QStringLiteral("/moved/");
    QDir().mkpath(moved);
    window->list()->clearSelection();
    window->list()->topLevelItem(0)->setSelected(true);
    window->list()->topLevelItem(1)->setSelected(true);
    chooseFolderNext(window, moved);
    QCOMPARE(run(
                 *window, [window] { window->FileCtl(1); }, &box),
             QStringList{QStringLiteral("転送エラー")});
    QCOMPARE(box, QStringLiteral("以下のファイルの移動に失敗しました。\n\n転送エラー"));
    QCOMPARE(readAll(moved + QStringLiteral("notes.txt")), QByteArray("notes"));
    QVERIFY(!QFile::exists(m_receiver->recvFile(QStringLiteral("notes.txt"))));
    QCOMPARE(window->list()->topLevelItemCount(), 4);

    // Trash: after the question; the moved file is missing now and fails too.
    window->list()->selectAll();
    QSignalSpy handled(window, &FrmRecv::filesHandled);
    onNextBox([&box](QMessageBox *question) {
        QCOMPARE(question->text(), QStringLiteral("選択されたファイルをごみ箱に移してもよろしいですか？"));
        question->button(QMessageBox::Yes)->click();
        onNextBox([&box](QMessageBox *failure) {
            box = failure->text();
            failure->accept();
        });
    });
    window->DeleteFiles();
    QCOMPARE(handled.size(), 1);
    QCOMPARE(handled.first().at(1).toStringList(),
             (QStringList{QStringLiteral("notes.txt"), QStringLiteral("転送エラー"),
                          QStringLiteral("../escape.txt")}));
    QCOMPARE(box, QStringLiteral(
                      "以下のファイルの削除に失敗しました。\n\nnotes.txt , 転送エラー , ../escape.txt"));
    QVERIFY(!QFile::exists(m_receiver->recvFile(QStringLiteral("blob.zzq"))));
    const QString trash = data + QStringLiteral("/Trash/");
    QCOMPARE(readAll(trash + QStringLiteral("files/blob.zzq")), QByteArray(64, '\x01'));
    QVERIFY(readAll(trash + QStringLiteral("info/blob.zzq.trashinfo")).contains("Path="));
}

void TstFrmRecv::copyAsksBeforeOverwriting()
{
    QVERIFY(writeFile(m_receiver->recvFile(QStringLiteral("a.bin")), "new"));
    m_receiver->receive->AddRecvInfo(QStringLiteral("a"), 0, QStringLiteral("a.bin"));
    FrmRecv *window = list();
    window->list()->selectAll();
    const QString target = m_receiver->tmp.path() + QStringLiteral("/t");
    QDir().mkpath(target);
    QVERIFY(writeFile(target + QStringLiteral("/a.bin"), "old"));

    for (const auto &[button, expected] :
         {std::pair{QMessageBox::No, QByteArray("old")}, std::pair{QMessageBox::Yes, QByteArray("new")}}) {
        chooseFolderNext(window, target);
        QString question;
        QTimer::singleShot(0, window, [&question, button = button] {
            onNextBox([&question, button](QMessageBox *box) {
                question = box->text();
                box->button(button)->click();
            });
        });
        QSignalSpy handled(window, &FrmRecv::filesHandled);
        window->FileCtl(0);
        QVERIFY(handled.size() == 1 || handled.wait(10000));
        QCOMPARE(handled.first().at(1).toStringList(), QStringList());
        QCOMPARE(question, QStringLiteral("「a.bin」は既に存在します。\n上書きしますか？"));
        QCOMPARE(readAll(target + QStringLiteral("/a.bin")), expected);
    }
}

void TstFrmRecv::popupOnlyOverASelectedSuccessRow()
{
    m_receiver->receive->AddRecvInfo(QStringLiteral("a"), 1, QStringLiteral("failed one"));
    m_receiver->receive->AddRecvInfo(QStringLiteral("b"), 0, QStringLiteral("good.txt"));
    FrmRecv *window = list();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTreeWidget *view = window->list();
    const auto rightClickOn = [view](int row) {
        const QPoint at = view->visualItemRect(view->topLevelItem(row)).center();
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
    };
    view->clearSelection();
    view->topLevelItem(0)->setSelected(true);
    rightClickOn(0);
    QTest::qWait(50);
    QVERIFY(!window->popupMenu()->isVisible());

    view->topLevelItem(1)->setSelected(true);
    rightClickOn(1);
    QTRY_VERIFY(window->popupMenu()->isVisible());
    QCOMPARE(window->popupMenu()->actions().first()->data().toString(), QStringLiteral("good.txt"));
    window->popupMenu()->hide();
}

void TstFrmRecv::recvInfMinKeepsTheWindowMinimised()
{
    m_receiver->ctx.settings.RecvInfMin = 1;
    m_receiver->receive->AddRecvInfo(QStringLiteral("a"), 1, QStringLiteral("one"));
    FrmRecv *window = list();
    QTRY_VERIFY(window->isMinimized());
    window->showNormal();
    QTRY_VERIFY(!window->isMinimized());
    m_receiver->receive->AddRecvInfo(QStringLiteral("a"), 1, QStringLiteral("two"));
    QTRY_VERIFY(window->isMinimized());
    QCOMPARE(window->list()->topLevelItemCount(), 2);
}

ZORVIN_XVFB_MAIN(TstFrmRecv, QSize(1280, 800), true)
#include "tst_frmrecv.moc"
