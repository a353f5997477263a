// Received pictures from a real sending engine into viewers under a real X server: shown
// at once with their caption, face down with the open receipt, locked behind the password,
// not shown at all (saved and dropped after their lifetime), the manual save's byte-for-
// byte copy, and one window per picture.
#include "ui/PrintTarget.h"
#include "base/SettingsFile.h"
#include "password/FrmPWCheck.h"
#include "receive/FrmRecv.h"
#include "ui/FrmUnread.h"
#include "receive/FrmView.h"
#include "receive/ReceiveSetup.h"
#include "support/FileBytes.h"
#include "support/NextMessageBox.h"
#include "support/XvfbSession.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

namespace {

QImage testPicture(const QSize &size, const QColor &corner)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 80, 160));
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width() / 3, size.height() / 3, corner);
    return image;
}

} // namespace

class TstFrmView : public QObject
{
    Q_OBJECT
  public:
    TstFrmView(XvfbSession &, const QString &skipReason) : m_skip(skipReason) {}

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void plainPictureOpensItsViewerWithCaptionSoundAndFlash();
    void faceDownOpensOnTheButtonAndSendsOneReceipt();
    void wrongPasswordKeepsItClosedAndSendsNothing();
    void hiddenPictureIsSavedAndGoesAfterItsLifetime();
    void receivedJpegSavedAsJpgIsByteIdenticalAndABitmapIsKeptInMemory();
    void twoPicturesFromOneSenderOpenTwoWindowsAndCommandsFollowThePicture();
    void failedAutoSaveStillShowsAndOnlyReceivedFilesAreDeleted();
    void unreadablePicturesAreRefusedToTheSenderAndListedWithoutABox();
    void pictureFloodOpensBoundedViewersAndTheRestWaitWithTheirFiles();

  private:
    // Sends `picture` and returns the viewer made for it once LoadRecvPic has run.
    FrmView *receive(const QImage &picture, const QString &source = QString(), SendChoices choices = {});
    void clickOpen(FrmView &viewer);

    QString m_skip;
    std::unique_ptr<SendingCopy> m_sender;
    std::unique_ptr<ReceivingCopy> m_receiver;
};

void TstFrmView::initTestCase()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
}

void TstFrmView::init()
{
    m_sender = std::make_unique<SendingCopy>(QStringLiteral("127.0.0.2"));
    m_receiver = std::make_unique<ReceivingCopy>(QStringLiteral("127.0.0.3"));
    QVERIFY(m_sender->start());
    QVERIFY(m_receiver->start());
}

void TstFrmView::cleanup()
{
    m_receiver.reset();
    m_sender.reset();
}

FrmView *TstFrmView::receive(const QImage &picture, const QString &source, SendChoices choices)
{
    QSignalSpy made(m_receiver->receive.get(), &ReceiveWindows::viewerCreated);
    if (m_sender->send(picture, m_receiver->address(), source, choices) != 1)
        return nullptr;
    if (!made.wait(20000))
        return nullptr;
    auto *viewer = made.first().first().value<FrmView *>();
    // LoadRecvPic runs from the event loop right after the arrival.
    QTest::qWait(0);
    return viewer;
}

void TstFrmView::clickOpen(FrmView &viewer)
{
    QVERIFY(viewer.openButton()->isVisible());
    QTest::mouseClick(viewer.openButton(), Qt::LeftButton);
}

void TstFrmView::plainPictureOpensItsViewerWithCaptionSoundAndFlash()
{
    m_receiver->ctx.settings.RecvPicSound = 1;
    m_receiver->ctx.settings.RPicPosLeft = 150 * 15;
    m_receiver->ctx.settings.RPicPosTop = 90 * 15;
    QSignalSpy sounds(&m_receiver->engine->events(), &EngineEvents::soundRequested);
    FrmView *viewer = receive(testPicture(QSize(320, 200), Qt::yellow));
    QVERIFY(viewer);
    QSignalSpy shown(viewer, &FrmView::pictureShown);
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QVERIFY(shown.wait(5000) || shown.size() == 1);

    static const QRegularExpression caption(QStringLiteral(
        "^ぞるびん From /127\\.0\\.0\\.2 \\[ Date: \\d{4}/\\d\\d/\\d\\d Time: \\d\\d:\\d\\d:\\d\\d \\]$"));
    QVERIFY2(caption.match(viewer->windowTitle()).hasMatch(), qPrintable(viewer->windowTitle()));
    QCOMPARE(viewer->picture().size(), QSize(320, 200));
    QCOMPARE(viewer->picture().pixelColor(10, 10), QColor(Qt::yellow));
    QVERIFY(!viewer->isFaceDown());
    QCOMPARE(viewer->quitConcern(), QuitGuard::None);
    QCOMPARE(sounds.size(), 1);
    QCOMPARE(sounds.first().first().toInt(), 1);
    // Flashing starts when it comes up and stops by the second paint.
    QCOMPARE(m_receiver->flashes.value(0), true);
    viewer->frame()->widget()->update();
    QTRY_VERIFY(!viewer->isFlashing());
    QCOMPARE(m_receiver->flashes, (QList<bool>{true, false}));
    // The saved position (twips) places the window's frame.
    QTRY_COMPARE(viewer->pos(), QPoint(150, 90));
    // The bitmap came from another address: the engine has dropped it, the window holds it.
    QVERIFY(QDir(m_receiver->ctx.RecvTempDir).entryList(QDir::Files).isEmpty());

    // PosSave writes where the window is now.
    viewer->move(40, 30);
    QTRY_COMPARE(viewer->pos(), QPoint(40, 30));
    viewer->action(QStringLiteral("PosSave"))->trigger();
    const SettingsFile file(m_receiver->ctx.SettingsPath());
    QCOMPARE(file.ReadSetting(QLatin1String(kSectionSettings), QStringLiteral("RPicPosLeft")),
             QStringLiteral("600"));
    QCOMPARE(file.ReadSetting(QLatin1String(kSectionSettings), QStringLiteral("RPicPosTop")),
             QStringLiteral("450"));
}

void TstFrmView::faceDownOpensOnTheButtonAndSendsOneReceipt()
{
    QSignalSpy receipts(&m_sender->engine, &NetEngine::openReceiptDatagram);
    SendChoices choices;
    choices.faceDown = 'Y';
    choices.openReceipt = 'Y';
    FrmView *viewer = receive(testPicture(QSize(200, 120), Qt::green), QString(), choices);
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QVERIFY(viewer->isFaceDown());
    QCOMPARE(viewer->quitConcern(), QuitGuard::UnopenedImage);
    QCOMPARE(viewer->hideText(0)->text(), QStringLiteral("画像を受信しました。"));
    QCOMPARE(viewer->hideText(2)->text(), QStringLiteral("From: 127.0.0.2"));
    QVERIFY(viewer->hideText(1)->text().startsWith(QStringLiteral("Date: ")));
    QCOMPARE(viewer->openButton()->text(), QStringLiteral("開く"));
    QVERIFY(!viewer->toolBar()->isVisible());
    // Nothing of the picture can be reached while it is closed.
    QVERIFY(!viewer->action(QStringLiteral("mnuCopy"))->isEnabled());
    QVERIFY(!viewer->action(QStringLiteral("mnuSave"))->isEnabled());
    QVERIFY(viewer->isFlashing());
    QCOMPARE(receipts.size(), 0);

    QSignalSpy opened(viewer, &FrmView::opened);
    clickOpen(*viewer);
    QCOMPARE(opened.size(), 1);
    QVERIFY(!viewer->isFaceDown());
    QVERIFY(!viewer->isFlashing());
    QVERIFY(viewer->toolBar()->isVisible());
    QVERIFY(viewer->action(QStringLiteral("mnuCopy"))->isEnabled());
    QVERIFY(receipts.wait(5000));
    QCOMPARE(receipts.first().at(0).toString(), QStringLiteral("127.0.0.3"));
    QCOMPARE(receipts.first().at(1).toString(), QStringLiteral("captOPP"));

    // A picture shown at once never sends one, even when the sender asked; the receipt of a
    // second face-down picture is then the only one that comes.
    choices.faceDown = 'N';
    FrmView *plain = receive(testPicture(QSize(50, 50), Qt::red), QString(), choices);
    QVERIFY(plain && !plain->isFaceDown());
    choices.faceDown = 'Y';
    FrmView *second = receive(testPicture(QSize(60, 60), Qt::blue), QString(), choices);
    QVERIFY(second);
    QVERIFY(QTest::qWaitForWindowExposed(second));
    clickOpen(*second);
    QVERIFY(receipts.wait(5000));
    QCOMPARE(receipts.size(), 2);
}

void TstFrmView::wrongPasswordKeepsItClosedAndSendsNothing()
{
    m_receiver->ctx.settings.Password = QStringLiteral("secret");
    QSignalSpy receipts(&m_sender->engine, &NetEngine::openReceiptDatagram);
    SendChoices choices;
    choices.faceDown = 'Y';
    choices.passwordLock = 'Y';
    choices.openReceipt = 'Y';
    FrmView *viewer = receive(testPicture(QSize(200, 120), Qt::cyan), QString(), choices);
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QCOMPARE(viewer->openButton()->text(), QStringLiteral("開く（パスワードロック）"));

    const auto answer = [this](const QString &typed) {
        auto *check = m_receiver->windows->find<FrmPWCheck>(WindowKind::PWCheck);
        QVERIFY(check && check->isVisible());
        check->TxtPW()->setText(typed);
        QTest::mouseClick(check->CmdPWCheck(), Qt::LeftButton);
    };
    clickOpen(*viewer);
    answer(QStringLiteral("wrong"));
    QTRY_COMPARE(m_receiver->host.asked, QStringList{QStringLiteral("ﾊﾟｽﾜｰﾄﾞが違います。")});
    QVERIFY(viewer->isFaceDown());

    // The right one opens it; the one receipt that comes is that opening's.
    QSignalSpy opened(viewer, &FrmView::opened);
    clickOpen(*viewer);
    answer(QStringLiteral("secret"));
    QTRY_COMPARE(opened.size(), 1);
    QVERIFY(receipts.wait(5000));
    QCOMPARE(receipts.size(), 1);
}

void TstFrmView::hiddenPictureIsSavedAndGoesAfterItsLifetime()
{
    Settings &s = m_receiver->ctx.settings;
    s.RecvPicWin = 1;
    s.RecvAutoSave = 1;
    s.RecvAutoSaveType = 3;
    s.RecvAutoSaveName = QStringLiteral("CTR");
    s.RecvAutoSavePlace = m_receiver->tmp.path() + QStringLiteral("/auto");
    QDir().mkpath(s.RecvAutoSavePlace);
    m_receiver->receive->setHiddenViewerLifetimeMs(300);

    // A JPEG goes as its own file and stays in the receive folder until the viewer goes.
    const QString jpeg = m_sender->tmp.path() + QStringLiteral("/pic.jpg");
    QVERIFY(testPicture(QSize(120, 90), Qt::magenta).save(jpeg, "JPEG", 90));
    QSignalSpy removed(m_receiver->windows.get(), &WindowRegistry::windowRemoved);
    FrmView *viewer = receive(QImage(jpeg), jpeg);
    QVERIFY(viewer);
    const QString received = viewer->arrival().path;
    QVERIFY(QFile::exists(received));
    QCOMPARE(viewer->arrival().displayKind, 9);
    const QString saved = s.RecvAutoSavePlace + QStringLiteral("/CTR00001-h2.PNG");
    QTRY_VERIFY(QFile::exists(saved));
    QCOMPARE(QImage(saved).size(), QSize(120, 90));
    QVERIFY(!viewer->isVisible());

    QTRY_VERIFY(m_receiver->windows->windows(WindowKind::View).isEmpty());
    QVERIFY(!QFile::exists(received));
    QCOMPARE(m_receiver->flashes, QList<bool>());
    QVERIFY(m_receiver->host.asked.isEmpty());
}

void TstFrmView::receivedJpegSavedAsJpgIsByteIdenticalAndABitmapIsKeptInMemory()
{
    const QString jpeg = m_sender->tmp.path() + QStringLiteral("/photo.jpg");
    QVERIFY(testPicture(QSize(160, 100), Qt::darkGreen).save(jpeg, "JPEG", 75));
    FrmView *viewer = receive(QImage(jpeg), jpeg);
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QVERIFY(viewer->pictureTag().endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive));

    const auto saveAs = [viewer](const QString &target) {
        QTimer::singleShot(0, viewer, [target] {
            QFileDialog *dialog = nullptr;
            QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
            dialog->selectFile(target);
            static_cast<QDialog *>(dialog)->accept();
        });
        viewer->action(QStringLiteral("FileSave"))->trigger();
    };
    const QString copy = m_receiver->tmp.path() + QStringLiteral("/copy.jpg");
    saveAs(copy);
    QCOMPARE(fileBytesOrEmpty(copy), fileBytesOrEmpty(jpeg));
    // Another type is written from the picture.
    const QString png = m_receiver->tmp.path() + QStringLiteral("/copy.png");
    saveAs(png);
    QCOMPARE(QImage(png).size(), QSize(160, 100));
    QVERIFY(fileBytesOrEmpty(png).startsWith("\x89PNG"));

    // The viewer's file goes with it.
    const QString received = viewer->arrival().path;
    QVERIFY(QFile::exists(received));
    viewer->close();
    QVERIFY(!QFile::exists(received));

    // A bitmap is gone at once; saving as BMP writes the picture held in memory.
    FrmView *bitmap = receive(testPicture(QSize(64, 48), Qt::white));
    QVERIFY(bitmap);
    QVERIFY(!QFile::exists(bitmap->arrival().path));
    const QString bmp = m_receiver->tmp.path() + QStringLiteral("/kept.bmp");
    QTimer::singleShot(0, bitmap, [bmp] {
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        dialog->selectFile(bmp);
        static_cast<QDialog *>(dialog)->accept();
    });
    bitmap->Save();
    QCOMPARE(QImage(bmp).pixelColor(5, 5), QColor(Qt::white));
}

void TstFrmView::twoPicturesFromOneSenderOpenTwoWindowsAndCommandsFollowThePicture()
{
    m_receiver->ctx.settings.PicEditApp = QStringLiteral("true");
    FrmView *first = receive(testPicture(QSize(100, 80), Qt::red));
    FrmView *second = receive(testPicture(QSize(90, 70), Qt::blue));
    QVERIFY(first && second && first != second);
    QCOMPARE(m_receiver->windows->windows(WindowKind::View).size(), 2);
    QVERIFY(QTest::qWaitForWindowExposed(second));
    QCOMPARE(first->picture().pixelColor(1, 1), QColor(Qt::red));
    QCOMPARE(second->picture().pixelColor(1, 1), QColor(Qt::blue));
    QVERIFY(second->action(QStringLiteral("mnuPaint"))->isEnabled());

    // Cut empties the picture and leaves only paste; paste brings a picture back.
    second->action(QStringLiteral("mnuCut"))->trigger();
    QVERIFY(second->picture().isNull());
    QCOMPARE(QGuiApplication::clipboard()->image().size(), QSize(90, 70));
    for (const char *name :
         {"mnuSave", "mnuPrint", "mnuCopy", "mnuCut", "mnuWallCenter", "mnuDTopImg", "mnuPaint"})
        QVERIFY2(!second->action(QLatin1String(name))->isEnabled(), name);
    QTRY_VERIFY(second->action(QStringLiteral("mnuPest"))->isEnabled());
    first->action(QStringLiteral("mnuCopy"))->trigger();
    QTRY_COMPARE(QGuiApplication::clipboard()->image().size(), QSize(100, 80));
    second->action(QStringLiteral("ClipPest"))->trigger();
    QCOMPARE(second->picture().pixelColor(1, 1), QColor(Qt::red));
    QVERIFY(second->pictureTag().isEmpty());
    QVERIFY(second->action(QStringLiteral("mnuSave"))->isEnabled());

    // Printing goes through the shared print target.
    const QString pdf = m_receiver->tmp.path() + QStringLiteral("/print.pdf");
    m_receiver->commands->setPrintTarget(PrintTarget::pdfFile(pdf));
    second->action(QStringLiteral("Print"))->trigger();
    QVERIFY(fileBytesOrEmpty(pdf).startsWith("%PDF"));

    // Closing one leaves the other.
    first->close();
    QTRY_COMPARE(m_receiver->windows->windows(WindowKind::View).size(), 1);
}

void TstFrmView::failedAutoSaveStillShowsAndOnlyReceivedFilesAreDeleted()
{
    // The automatic save fails (no such folder): the picture is shown all the same, and the
    // box comes from the event loop, not from inside the socket's handler.
    Settings &s = m_receiver->ctx.settings;
    s.RecvAutoSave = 1;
    s.RecvAutoSavePlace = m_receiver->tmp.path() + QStringLiteral("/missing");
    s.RecvPicMin = 1;
    QStringList boxesDuringArrival;
    connect(&m_receiver->engine->events(), &EngineEvents::imageArrived, this,
            [this, &boxesDuringArrival] { boxesDuringArrival = m_receiver->host.asked; });
    FrmView *viewer = receive(testPicture(QSize(80, 60), Qt::gray));
    QVERIFY(viewer);
    QTRY_COMPARE(
        m_receiver->host.asked,
        QStringList{QStringLiteral("保存出来ません \rパスが見つかりません。\r") + s.RecvAutoSavePlace});
    QCOMPARE(boxesDuringArrival, QStringList());
    QVERIFY(viewer->isVisible());
    QTRY_VERIFY(viewer->isMinimized());
    s.RecvAutoSave = 0;

    // A path the engine did not put into the receive work folder is never deleted.
    const QString outside = m_receiver->tmp.path() + QStringLiteral("/outside.png");
    QVERIFY(testPicture(QSize(30, 20), Qt::black).save(outside));
    ArrivedImage image;
    image.path = outside;
    FrmView *foreign = m_receiver->receive->ImageArrived(image);
    QVERIFY(foreign);
    QTRY_VERIFY(foreign->isVisible());
    foreign->close();
    QVERIFY(QFile::exists(outside));

    // A file that is no picture gets no window and no box.
    const QString junk = m_receiver->ctx.RecvTempDir + QStringLiteral("junk.BMP");
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
    file.close();
    image.path = junk;
    m_receiver->host.asked.clear();
    QVERIFY(!m_receiver->receive->ImageArrived(image));
    QTRY_COMPARE(m_receiver->windows->windows(WindowKind::View).size(), 1);
    QCOMPARE(m_receiver->host.asked, QStringList());
}

void TstFrmView::unreadablePicturesAreRefusedToTheSenderAndListedWithoutABox()
{
    QSignalSpy results(&m_sender->engine.events(), &EngineEvents::sendResultAdded);
    QSignalSpy lines(&m_receiver->engine->events(), &EngineEvents::recvInfoAdded);
    // A PNG signature over noise, and noise alone, sent as the pictures' own files.
    QByteArray noise(4000, Qt::Uninitialized);
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919) >> 3);
    const QList<QPair<QString, QByteArray>> files = {
        {QStringLiteral("junk.png"), "\x89PNG\r\n\x1a\n" + noise}, {QStringLiteral("noise.jpg"), noise}};
    for (const auto &[name, bytes] : files) {
        const QString path = m_sender->tmp.path() + u'/' + name;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QCOMPARE(m_sender->send(testPicture(QSize(200, 150), Qt::red), m_receiver->address(), path), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 2, 20000);
    for (const QList<QVariant> &line : std::as_const(lines)) {
        QCOMPARE(line.at(1).toInt(), 1);
        QCOMPARE(line.at(2).toString(),
                 QStringLiteral("画像受信中にエラーが発生しました。未サポートのファイル形式です。"));
    }
    // The sender hears of a format error, not of a delivery.
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 20000);
    for (const QList<QVariant> &result : std::as_const(results)) {
        QCOMPARE(result.at(2).toInt(), 1);
        QVERIFY2(result.at(3).toString().contains(QStringLiteral("不正フォーマット")),
                 qPrintable(result.at(3).toString()));
    }
    auto *list = m_receiver->windows->find<FrmRecv>(WindowKind::Recv);
    QVERIFY(list);
    QTRY_COMPARE(list->list()->topLevelItemCount(), 2);
    QCOMPARE(m_receiver->windows->windows(WindowKind::View).size(), 0);
    QVERIFY(!m_receiver->windows->find(WindowKind::Unread));
    QCOMPARE(m_receiver->host.asked, QStringList());
    QTRY_COMPARE(QDir(m_receiver->ctx.RecvTempDir).entryList(QDir::Files), QStringList());
}

void TstFrmView::pictureFloodOpensBoundedViewersAndTheRestWaitWithTheirFiles()
{
    QSignalSpy results(&m_sender->engine.events(), &EngineEvents::sendResultAdded);
    const int perSender = ReceiveWindows::kViewersPerSender;
    const int sent = perSender + 3;
    for (int i = 0; i < sent; ++i)
        QCOMPARE(m_sender->send(testPicture(QSize(64, 48), QColor(i * 15, 0, 0)), m_receiver->address()), 1);
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), sent, 30000);
    for (const QList<QVariant> &result : std::as_const(results))
        QCOMPARE(result.at(2).toInt(), 0);
    QCOMPARE(m_receiver->windows->windows(WindowKind::View).size(), perSender);
    auto *unread = m_receiver->windows->find<FrmUnread>(WindowKind::Unread);
    QVERIFY(unread);
    QCOMPARE(unread->count(), sent - perSender);
    QCOMPARE(unread->quitConcerns(), QList<QuitGuard::Concern>{QuitGuard::UnopenedImage});
    QTRY_COMPARE(unread->list()->topLevelItemCount(), sent - perSender);
    QCOMPARE(unread->list()->topLevelItem(0)->text(3), QStringLiteral("画像を受信しました。 (64×48)"));
    // Each waiting picture keeps its file in the receive work folder, and only those do
    // (a bitmap in a viewer from another machine is held in memory).
    const QDir work(m_receiver->ctx.RecvTempDir);
    QCOMPARE(work.entryList(QDir::Files).size(), sent - perSender);

    // Opened from the list, a picture gets a viewer beyond the bound; its file goes with it.
    unread->list()->topLevelItem(1)->setSelected(true);
    QTest::mouseClick(unread->openButton(), Qt::LeftButton);
    QCOMPARE(m_receiver->windows->windows(WindowKind::View).size(), perSender + 1);
    auto *opened = qobject_cast<FrmView *>(m_receiver->windows->windows(WindowKind::View).last());
    QVERIFY(opened);
    QVERIFY(QTest::qWaitForWindowExposed(opened));
    QCOMPARE(opened->picture().pixelColor(1, 1), QColor((perSender + 1) * 15, 0, 0));
    QCOMPARE(unread->count(), sent - perSender - 1);
    opened->close();
    QCOMPARE(work.entryList(QDir::Files).size(), sent - perSender - 1);
    // Closing the list deletes the files of what it held.
    unread->close();
    QCOMPARE(work.entryList(QDir::Files), QStringList());
}

ZORVIN_XVFB_MAIN(TstFrmView, QSize(1280, 800), true)
#include "tst_frmview.moc"
