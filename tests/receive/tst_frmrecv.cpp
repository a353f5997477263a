// The received list under a real X server: rows from a real engine's file transfer before
// the window was ever shown, open / copy / move / trash over a selection that mixes failure
// and success rows with their failure lists, rows that follow their moved and trashed files,
// names that would leave the receive folder, the overwrite question, the pop-up only over a
// success row, RecvInfMin, selection that never scrolls sideways, and the home trash: made
// owner-only when missing, across file systems, and a failure that writes nowhere else.
#include "receive/FrmRecv.h"
#include "receive/HomeTrash.h"
#include "receive/ReceiveSetup.h"
#include "receive/ReceivedFiles.h"
#include "support/FileBytes.h"
#include "support/NextMessageBox.h"
#include "support/WindowShot.h"
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
#include <QStorageInfo>
#include <QHeaderView>
#include <QScrollBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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
    void selectingARowNeverScrollsSideways();
    void homeTrashIsMadeOwnerOnlyAndNamesNeverClash();
    void trashOnAnotherFileSystemGetsACopy();
    void trashThatCannotBeMadeLeavesTheFileAndWritesNothingElsewhere();

  private:
    FrmRecv *list();
    // Runs `command` and returns its failure list and the text of its box, if one came.
    QStringList run(FrmRecv &window, const std::function<void()> &command, QString *boxText);
    // "削除(&D)" on the selection, answering Yes; its failure list and the texts of the
    // question and of the failure box, once the worker has ended.
    QStringList trash(FrmRecv &window, QString *question, QString *boxText);
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

QStringList TstFrmRecv::trash(FrmRecv &window, QString *question, QString *boxText)
{
    QSignalSpy handled(&window, &FrmRecv::filesHandled);
    question->clear();
    boxText->clear();
    // The failure box comes only when something failed: its watch ends with the command.
    auto ended = std::make_shared<bool>(false);
    onNextBox([question, boxText, ended](QMessageBox *asked) {
        *question = asked->text();
        asked->button(QMessageBox::Yes)->click();
        onNextBoxUnless(ended, [boxText](QMessageBox *failure) {
            *boxText = failure->text();
            failure->accept();
        });
    });
    window.DeleteFiles();
    const bool done = !handled.isEmpty() || handled.wait(20000);
    *ended = true;
    if (!done)
        return {QStringLiteral("<no end>")};
    const QStringList failed = handled.first().at(1).toStringList();
    if (!failed.isEmpty() && !QTest::qWaitFor([boxText] { return !boxText->isEmpty(); }, 5000))
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
    QCOMPARE(fileBytesOrEmpty(m_receiver->recvFile(QStringLiteral("report.txt"))), QByteArray("quarterly"));
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
    QCOMPARE(fileBytesOrEmpty(target + QStringLiteral("/notes.txt")), QByteArray("notes"));
    QCOMPARE(fileBytesOrEmpty(target + QStringLiteral("/blob.zzq")), QByteArray(64, '\x01'));
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
    QCOMPARE(fileBytesOrEmpty(moved + QStringLiteral("notes.txt")), QByteArray("notes"));
    QVERIFY(!QFile::exists(m_receiver->recvFile(QStringLiteral("notes.txt"))));
    QCOMPARE(window->list()->topLevelItemCount(), 4);
    // The row follows its file: it names the new place and opens there.
    QTreeWidgetItem *notesRow = window->list()->topLevelItem(0);
    QCOMPARE(notesRow->text(3), QStringLiteral("notes.txt（%1 へ移動）").arg(QDir::cleanPath(moved)));
    QCOMPARE(window->filePath(notesRow), moved + QStringLiteral("notes.txt"));
    QFile::remove(marks);
    window->list()->clearSelection();
    notesRow->setSelected(true);
    QSignalSpy opened(window, &FrmRecv::filesHandled);
    window->OpenFiles();
    QVERIFY(opened.size() == 1 || opened.wait(10000));
    QCOMPARE(opened.first().at(1).toStringList(), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marks), 10000);

    // Trash: after the question, on a worker; the moved file goes from where it is now, and
    // the rows of trashed files say so.
    window->list()->selectAll();
    QString question;
    QCOMPARE(trash(*window, &question, &box),
             (QStringList{QStringLiteral("転送エラー"), QStringLiteral("../escape.txt")}));
    QCOMPARE(question, QStringLiteral("選択されたファイルをごみ箱に移してもよろしいですか？"));
    QCOMPARE(box, QStringLiteral("以下のファイルの削除に失敗しました。\n\n転送エラー , ../escape.txt"));
    QVERIFY(!QFile::exists(m_receiver->recvFile(QStringLiteral("blob.zzq"))));
    QVERIFY(!QFile::exists(moved + QStringLiteral("notes.txt")));
    const QString trash = data + QStringLiteral("/Trash/");
    QCOMPARE(fileBytesOrEmpty(trash + QStringLiteral("files/blob.zzq")), QByteArray(64, '\x01'));
    QCOMPARE(fileBytesOrEmpty(trash + QStringLiteral("files/notes.txt")), QByteArray("notes"));
    QVERIFY(fileBytesOrEmpty(trash + QStringLiteral("info/blob.zzq.trashinfo"))
                .startsWith("[Trash Info]\nPath=" + QFile::encodeName(m_receiver->recvFile("blob.zzq")) + '\n'));
    QCOMPARE(notesRow->text(3), QStringLiteral("notes.txt（ごみ箱へ移動）"));
    QCOMPARE(window->list()->topLevelItem(2)->text(3), QStringLiteral("blob.zzq（ごみ箱へ移動）"));
    QCOMPARE(window->filePath(notesRow), QString());
    QCOMPARE(window->list()->topLevelItem(1)->text(3), QStringLiteral("転送エラー"));
    // A trashed row offers nothing more: no pop-up over it.
    window->list()->clearSelection();
    notesRow->setSelected(true);
    QTest::mouseClick(window->list()->viewport(), Qt::RightButton, {},
                      window->list()->visualItemRect(notesRow).center());
    QTest::qWait(50);
    QVERIFY(!window->popupMenu()->isVisible());
    shoot(window, QStringLiteral("FrmRecv-followed"));
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
        QCOMPARE(fileBytesOrEmpty(target + QStringLiteral("/a.bin")), expected);
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

void TstFrmRecv::selectingARowNeverScrollsSideways()
{
    for (int i = 0; i < 40; ++i)
        m_receiver->receive->AddRecvInfo(QStringLiteral("送り主 %1").arg(i), 0,
                                         QStringLiteral("報告書-%1.txt").arg(i));
    FrmRecv *window = list();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTreeWidget *view = window->list();
    QScrollBar *across = view->horizontalScrollBar();
    QVERIFY2(across->maximum() > 0, "the columns are wider than the window");
    // A click on the wide information column, then keys down past the bottom of the view.
    const QTreeWidgetItem *row = view->topLevelItem(2);
    const int infoLeft = view->header()->sectionViewportPosition(3);
    QVERIFY(infoLeft + 20 < view->viewport()->width());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      QPoint(infoLeft + 20, view->visualItemRect(row).center().y()));
    QVERIFY(row->isSelected());
    QCOMPARE(across->value(), 0);
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(across->value(), 0);
    // Moving down still scrolls down to the current row.
    QVERIFY(view->verticalScrollBar()->value() > 0);
    QVERIFY(view->viewport()->rect().intersects(view->visualItemRect(view->currentItem())));
    shoot(window, QStringLiteral("FrmRecv"));
}

namespace {

// Sets an environment variable for one scope.
struct EnvSet
{
    QByteArray name, old;
    bool had;
    EnvSet(const char *n, const QByteArray &value) : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n))
    {
        if (value.isNull())
            qunsetenv(n);
        else
            qputenv(n, value);
    }
    ~EnvSet()
    {
        if (had)
            qputenv(name.constData(), old);
        else
            qunsetenv(name.constData());
    }
};

int modeOf(const QString &path)
{
    return int(QFile::permissions(path) &
               (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                QFileDevice::WriteOther | QFileDevice::ExeOther));
}

} // namespace

void TstFrmRecv::homeTrashIsMadeOwnerOnlyAndNamesNeverClash()
{
    // No ~/.local/share yet, and no XDG_DATA_HOME: the trash goes under HOME, made owner-only.
    QTemporaryDir home;
    EnvSet homeVar("HOME", QFile::encodeName(home.path()));
    EnvSet dataVar("XDG_DATA_HOME", QByteArray());
    const QString trash = home.path() + QStringLiteral("/.local/share/Trash");
    QCOMPARE(HomeTrash::location(), trash);
    QVERIFY(writeFile(m_receiver->recvFile(QStringLiteral("a b%.bin")), "first"));
    QString error;
    QVERIFY2(HomeTrash::moveToTrash(m_receiver->recvFile(QStringLiteral("a b%.bin")), &error), qPrintable(error));
    const int ownerOnly = int(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString &folder : {home.path() + QStringLiteral("/.local"), home.path() + QStringLiteral("/.local/share"),
                                  trash, trash + QStringLiteral("/files"), trash + QStringLiteral("/info")})
        QVERIFY2(modeOf(folder) == ownerOnly, qPrintable(folder));
    const QByteArray info = fileBytesOrEmpty(trash + QStringLiteral("/info/a b%.bin.trashinfo"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\[Trash Info\\]\nPath=[^\n]*/RECVFILE/a%20b%25\\.bin\n"
                                               "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$"))
                 .match(QString::fromLatin1(info))
                 .hasMatch(),
             info.constData());

    // The same name again, and a name left in files/ without its info, get other names.
    QVERIFY(writeFile(m_receiver->recvFile(QStringLiteral("a b%.bin")), "second"));
    QVERIFY(writeFile(trash + QStringLiteral("/files/a b%.2.bin"), "orphan"));
    QVERIFY(HomeTrash::moveToTrash(m_receiver->recvFile(QStringLiteral("a b%.bin"))));
    QCOMPARE(fileBytesOrEmpty(trash + QStringLiteral("/files/a b%.bin")), QByteArray("first"));
    QCOMPARE(fileBytesOrEmpty(trash + QStringLiteral("/files/a b%.2.bin")), QByteArray("orphan"));
    QCOMPARE(fileBytesOrEmpty(trash + QStringLiteral("/files/a b%.3.bin")), QByteArray("second"));
    QCOMPARE(QDir(trash + QStringLiteral("/info")).entryList(QDir::Files),
             (QStringList{QStringLiteral("a b%.3.bin.trashinfo"), QStringLiteral("a b%.bin.trashinfo")}));
}

void TstFrmRecv::trashOnAnotherFileSystemGetsACopy()
{
    // The receive folder on the memory file system, the trash on the disk's.
    QTemporaryDir shm(QStringLiteral("/dev/shm/zorvin-trash-XXXXXX"));
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    QDir().mkpath(dataHome);
    if (!shm.isValid() || QStorageInfo(shm.path()).device() == QStorageInfo(dataHome).device())
        QSKIP("no second file system to try a copy across");
    m_receiver->ctx.settings.RecvFileSavePlace = shm.path();
    QStringList expected =
        QDir(HomeTrash::location() + QStringLiteral("/files")).entryList(QDir::Files | QDir::Hidden);
    expected << QStringLiteral("big.dat");
    expected.sort();
    const QByteArray content(3 << 20, 'z');
    QVERIFY(writeFile(shm.path() + QStringLiteral("/big.dat"), content));
    m_receiver->receive->AddRecvInfo(QStringLiteral("a"), 0, QStringLiteral("big.dat"));
    FrmRecv *window = list();
    window->list()->selectAll();
    QString question, box;
    QCOMPARE(trash(*window, &question, &box), QStringList());
    QVERIFY(!QFile::exists(shm.path() + QStringLiteral("/big.dat")));
    QCOMPARE(fileBytesOrEmpty(HomeTrash::location() + QStringLiteral("/files/big.dat")), content);
    // The copy alone, no temporary file beside it.
    QCOMPARE(QDir(HomeTrash::location() + QStringLiteral("/files")).entryList(QDir::Files | QDir::Hidden),
             expected);
}

void TstFrmRecv::trashThatCannotBeMadeLeavesTheFileAndWritesNothingElsewhere()
{
    // The data folder's parent is a file: no trash can be made there.
    QTemporaryDir here;
    QVERIFY(writeFile(here.filePath(QStringLiteral("plain")), "x"));
    EnvSet dataVar("XDG_DATA_HOME", QFile::encodeName(here.filePath(QStringLiteral("plain/share"))));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(here.path()));
    QVERIFY(writeFile(m_receiver->recvFile(QStringLiteral("keep.txt")), "kept"));
    m_receiver->receive->AddRecvInfo(QStringLiteral("a"), 0, QStringLiteral("keep.txt"));
    FrmRecv *window = list();
    window->list()->selectAll();
    QString question, box;
    QCOMPARE(trash(*window, &question, &box), QStringList{QStringLiteral("keep.txt")});
    QCOMPARE(box, QStringLiteral("以下のファイルの削除に失敗しました。\n\nkeep.txt"));
    QVERIFY(QDir::setCurrent(before));
    QCOMPARE(fileBytesOrEmpty(m_receiver->recvFile(QStringLiteral("keep.txt"))), QByteArray("kept"));
    QCOMPARE(window->list()->topLevelItem(0)->text(3), QStringLiteral("keep.txt"));
    // Not beside the program's working folder, nor anywhere in the receive folder.
    QCOMPARE(QDir(here.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("plain")});
    QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("keep.txt")});

    // Neither HOME nor XDG_DATA_HOME usable (relative values count as unset): no trash.
    EnvSet homeVar("HOME", "relative/home");
    EnvSet relativeData("XDG_DATA_HOME", "relative/data");
    QCOMPARE(HomeTrash::location(), QString());
    QString error;
    QVERIFY(!HomeTrash::moveToTrash(m_receiver->recvFile(QStringLiteral("keep.txt")), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFile::exists(m_receiver->recvFile(QStringLiteral("keep.txt"))));
}

ZORVIN_XVFB_MAIN(TstFrmRecv, QSize(1280, 800), true)
#include "tst_frmrecv.moc"
