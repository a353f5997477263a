// The window registry: single windows made once and raised, windows of many kinds found
// by kind and key, the quit closing them the last opened first, and a closed window
// deleted only after the loop of a box it waits in has ended; its windows kept inside the screen.
#include "ui/WindowRegistry.h"
#include "ui/ScreenFit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>
#include <QtTest>

namespace {

// Notes its close in a shared list, and can refuse it.
class NotingWindow : public QWidget
{
  public:
    NotingWindow(const QString &name, QStringList &closes) : m_closes(closes) { setObjectName(name); }
    bool refuse = false;

  protected:
    void closeEvent(QCloseEvent *event) override
    {
        m_closes << objectName();
        if (refuse)
            event->ignore();
    }

  private:
    QStringList &m_closes;
};

} // namespace

class tst_WindowRegistry : public QObject
{
    Q_OBJECT
  private slots:
    void singleWindowIsMadeOnceAndRaised();
    void windowsOfManyAreFoundByKindAndKey();
    void quitClosesTheLastOpenedFirst();
    void windowClosedFromItsBoxGoesAfterTheBox();
    void windowsAreKeptInsideTheScreen();
};

void tst_WindowRegistry::singleWindowIsMadeOnceAndRaised()
{
    WindowRegistry windows;
    QStringList closes;
    int made = 0;
    windows.setFactory(QStringLiteral("FrmOpt"), [&] {
        ++made;
        return new NotingWindow(QStringLiteral("FrmOpt"), closes);
    });
    QVERIFY(!windows.hasFactory(QStringLiteral("FrmKeySet")));
    QVERIFY(!windows.load(QStringLiteral("FrmKeySet")));
    QVERIFY(!windows.find(QStringLiteral("FrmOpt")));

    QWidget *options = windows.load(QStringLiteral("FrmOpt"));
    QVERIFY(options);
    QVERIFY(!options->isVisible());
    QCOMPARE(windows.open(QStringLiteral("FrmOpt")), options);
    QVERIFY(options->isVisible());
    options->hide();
    QCOMPARE(windows.open(QStringLiteral("FrmOpt")), options);
    QVERIFY(options->isVisible());
    QCOMPARE(made, 1);

    // A window that refuses to close stays where it was.
    static_cast<NotingWindow *>(options)->refuse = true;
    QVERIFY(!options->close());
    QCOMPARE(windows.find(QStringLiteral("FrmOpt")), options);

    // Closed, it is forgotten at once and deleted afterwards; the next open makes another.
    static_cast<NotingWindow *>(options)->refuse = false;
    QPointer<QWidget> closed = options;
    QVERIFY(options->close());
    QVERIFY(!windows.find(QStringLiteral("FrmOpt")));
    QVERIFY(closed);
    QTRY_VERIFY(closed.isNull());
    QWidget *again = windows.open(QStringLiteral("FrmOpt"));
    QVERIFY(again);
    QCOMPARE(made, 2);
    QCOMPARE(closes, (QStringList{QStringLiteral("FrmOpt"), QStringLiteral("FrmOpt")}));
}

void tst_WindowRegistry::windowsOfManyAreFoundByKindAndKey()
{
    WindowRegistry windows;
    QSignalSpy removed(&windows, &WindowRegistry::windowRemoved);
    auto *message1 = new QWidget;
    auto *message2 = new QWidget;
    auto *viewer1 = new QWidget;
    auto *viewer2 = new QWidget;
    windows.add(QStringLiteral("FrmMsg"), QStringLiteral("1"), message1);
    windows.add(QStringLiteral("FrmView"), QString(), viewer1);
    windows.add(QStringLiteral("FrmMsg"), QStringLiteral("2"), message2);
    windows.add(QStringLiteral("FrmView"), QString(), viewer2);

    QCOMPARE(windows.find(QStringLiteral("FrmMsg"), QStringLiteral("2")), message2);
    QCOMPARE(windows.find(QStringLiteral("FrmMsg")), message1);
    QVERIFY(!windows.find(QStringLiteral("FrmMsg"), QStringLiteral("3")));
    QVERIFY(!windows.find(QStringLiteral("FrmView"), QStringLiteral("1")));
    QCOMPARE(windows.windows(QStringLiteral("FrmView")), (QList<QWidget *>{viewer1, viewer2}));

    message1->close();
    QCOMPARE(windows.find(QStringLiteral("FrmMsg")), message2);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed[0], (QVariantList{QStringLiteral("FrmMsg"), QStringLiteral("1")}));
    // A window deleted by its owner leaves no dangling entry.
    delete viewer1;
    QCOMPARE(windows.windows(QStringLiteral("FrmView")), QList<QWidget *>{viewer2});
    QCOMPARE(removed.size(), 2);
}

void tst_WindowRegistry::quitClosesTheLastOpenedFirst()
{
    QStringList closes;
    auto registry = std::make_unique<WindowRegistry>();
    WindowRegistry &windows = *registry;
    windows.setFactory(QStringLiteral("FrmMain"),
                       [&] { return new NotingWindow(QStringLiteral("FrmMain"), closes); });
    windows.setFactory(QStringLiteral("FrmOpt"),
                       [&] { return new NotingWindow(QStringLiteral("FrmOpt"), closes); });
    QPointer<QWidget> capture = windows.load(QStringLiteral("FrmMain"));
    auto *message = new NotingWindow(QStringLiteral("FrmMsg 4"), closes);
    windows.add(QStringLiteral("FrmMsg"), QStringLiteral("4"), message);
    message->refuse = true; // asks about an unsent text; at quit it goes all the same
    QPointer<QWidget> refusing = message;
    auto *viewer = new NotingWindow(QStringLiteral("FrmView"), closes);
    windows.add(QStringLiteral("FrmView"), QString(), viewer);
    QPointer<QWidget> options = windows.open(QStringLiteral("FrmOpt"));
    QPointer<QWidget> viewerGone = viewer;
    // Viewers hold nothing the quit hands back: they go together, shown or not, without a
    // close each.
    windows.setClosedInBulk(QStringLiteral("FrmView"));
    QList<QPointer<QWidget>> viewers{viewer};
    for (int i = 0; i < 300; ++i) {
        auto *more = new NotingWindow(QStringLiteral("FrmView %1").arg(i), closes);
        windows.add(QStringLiteral("FrmView"), QString::number(i), more);
        more->show();
        viewers << more;
    }
    // Not the registry's: a box whose caller waits in it is closed, never deleted.
    QWidget stray;
    stray.show();
    const QPointer<QWidget> strayThere = &stray;

    QSignalSpy removed(&windows, &WindowRegistry::windowRemoved);
    windows.closeAll(nullptr);
    QCOMPARE(closes,
             (QStringList{QStringLiteral("FrmOpt"), QStringLiteral("FrmMsg 4"), QStringLiteral("FrmMain")}));
    // The viewers are announced gone once, all together.
    QCOMPARE(std::count_if(removed.cbegin(), removed.cend(),
                           [](const QList<QVariant> &r) { return r.at(0) == QStringLiteral("FrmView"); }),
             1);
    QVERIFY(removed.contains(QVariantList{QStringLiteral("FrmView"), QString()}));
    QVERIFY(std::none_of(viewers.cbegin(), viewers.cend(),
                         [](const QPointer<QWidget> &w) { return w->isVisible(); }));
    QVERIFY(!windows.find(QStringLiteral("FrmView")));
    QVERIFY(!refusing->isVisible());
    QVERIFY(!stray.isVisible());
    QVERIFY(windows.isClosing());
    QVERIFY(!windows.find(QStringLiteral("FrmMsg")));
    // Nothing opens any more; a window that arrives now is closed at once.
    QVERIFY(!windows.open(QStringLiteral("FrmOpt")));
    QPointer<QWidget> late = new NotingWindow(QStringLiteral("late"), closes);
    windows.add(QStringLiteral("FrmMsg"), QStringLiteral("5"), late);
    QCOMPARE(closes.last(), QStringLiteral("late"));
    QTRY_VERIFY(capture.isNull() && refusing.isNull() && viewerGone.isNull() && options.isNull() &&
                late.isNull());
    QTRY_VERIFY(
        std::all_of(viewers.cbegin(), viewers.cend(), [](const QPointer<QWidget> &w) { return w.isNull(); }));
    registry.reset();
    QVERIFY(strayThere);
}

void tst_WindowRegistry::windowClosedFromItsBoxGoesAfterTheBox()
{
    WindowRegistry windows;
    QPointer<QWidget> window = new QWidget;
    windows.add(QStringLiteral("FrmView"), QString(), window);
    window->show();

    bool thereWhileTheBoxRuns = false;
    {
        // The window's own handler waits in this box; the close comes from inside its loop.
        QMessageBox box(QMessageBox::Question, QStringLiteral("FrmView"), QStringLiteral("?"),
                        QMessageBox::NoButton, window);
        QPushButton *answer = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        QTimer::singleShot(0, &box, [&] {
            window->close();
            QTimer::singleShot(50, &box, [&] {
                thereWhileTheBoxRuns = bool(window);
                answer->click();
            });
        });
        box.exec();
        QVERIFY(window);
        // The handler goes on, and may let pending events run once more.
        QCoreApplication::processEvents();
        QVERIFY(window);
    }
    QVERIFY(thereWhileTheBoxRuns);
    QVERIFY(!windows.find(QStringLiteral("FrmView")));
    QTRY_VERIFY(window.isNull());
}

void tst_WindowRegistry::windowsAreKeptInsideTheScreen()
{
    const QRect screen(0, 0, 1920, 1050); // a 1080-line screen less a panel
    const QMargins frame(4, 30, 4, 4);
    // Placed partly below the screen: moved up as far as needed, not resized.
    QCOMPARE(FitOnScreen(QRect(500, 700, 900, 640), frame, screen, false), QRect(500, 406, 900, 640));
    // Larger than the screen: shrunk to the room inside the frame, at its corner.
    QCOMPARE(FitOnScreen(QRect(-50, -50, 3000, 2000), frame, screen, false), QRect(4, 30, 1912, 1016));
    // Placed by nobody: centred.
    QCOMPARE(FitOnScreen(QRect(0, 0, 900, 640), frame, screen, true), QRect(510, 218, 900, 640));

    // A window of the registry, made too large and placed off the screen, opens inside it.
    WindowRegistry windows;
    QStringList closes;
    windows.setFactory(QStringLiteral("FrmNetDiag"), [&] {
        auto *window = new NotingWindow(QStringLiteral("FrmNetDiag"), closes);
        window->resize(5000, 4000);
        window->move(3000, 3000);
        return window;
    });
    QWidget *window = windows.open(QStringLiteral("FrmNetDiag"));
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QRect available = window->screen()->availableGeometry();
    QTRY_VERIFY2(available.contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())));
    windows.closeAll(nullptr);
}

QTEST_MAIN(tst_WindowRegistry)
#include "tst_windowregistry.moc"
