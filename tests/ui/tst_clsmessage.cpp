// The native-event dispatcher on real X windows: messages sent by a second X client reach
// the receivers of the window in order (a receiver added without delivery never), a
// consumed message never reaches Qt and one nobody consumes does, a child window's
// messages go to its receiver first, a receiver that throws costs only its own share, and
// a message arriving while a receiver waits in a loop of its own is passed on undispatched.
#include "support/XvfbSession.h"
#include "ui/clsMessage.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>

namespace {

// Another X client, as the events of other programs come.
class Sender
{
  public:
    Sender() : m_c(xcb_connect(nullptr, nullptr))
    {
        m_test = atom("ZORVIN_TEST_MESSAGE");
        m_protocols = atom("WM_PROTOCOLS");
        m_delete = atom("WM_DELETE_WINDOW");
    }
    ~Sender() { xcb_disconnect(m_c); }
    bool ok() const { return !xcb_connection_has_error(m_c); }
    uint32_t testType() const { return m_test; }

    // A message of our own kind, numbered.
    void send(quintptr window, uint32_t number) { sendClient(window, m_test, number); }
    // The window manager's close request: Qt closes the window when it gets it.
    void close(quintptr window) { sendClient(window, m_protocols, m_delete); }

  private:
    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *r =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
        std::free(r);
        return a;
    }
    void sendClient(quintptr window, xcb_atom_t type, uint32_t datum)
    {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = xcb_window_t(window);
        e.type = type;
        e.data.data32[0] = datum;
        xcb_send_event(m_c, 0, xcb_window_t(window), XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&e));
        xcb_flush(m_c);
    }

    xcb_connection_t *m_c;
    xcb_atom_t m_test, m_protocols, m_delete;
};

// Writes "<name>:<number>" for each client message it is offered, with what it found.
class Recorder : public clsMessageReceiver
{
  public:
    Recorder(const QString &name, QStringList &log) : m_name(name), m_log(log) {}
    int32_t mCallBackWindow(quintptr &, uint32_t &message, int32_t &param1, int32_t &param2,
                            bool &consumed) override
    {
        if (message != XCB_CLIENT_MESSAGE)
            return 0;
        m_log << QStringLiteral("%1:%2%3")
                     .arg(m_name)
                     .arg(param1 == int32_t(testType) ? param2 : -1)
                     .arg(consumed ? QStringLiteral("(taken)") : QString());
        if (during)
            during(param2);
        if (consume)
            consumed = true;
        return result;
    }
    uint32_t testType = 0;
    bool consume = false;
    int32_t result = 0;
    std::function<void(int32_t)> during;

  private:
    QString m_name;
    QStringList &m_log;
};

} // namespace

class tst_clsMessage : public QObject
{
    Q_OBJECT
  public:
    tst_clsMessage(XvfbSession &, const QString &skipReason) : m_skipReason(skipReason) {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }

    void wordsAndParams()
    {
        QCOMPARE(clsMessage::mMakeParam(65535, 65535), -1);
        QCOMPARE(clsMessage::mMakeParam(1, 2), 65538);
        QCOMPARE(clsMessage::mMakeParam(32768, 0), int32_t(INT32_MIN));
        QCOMPARE(clsMessage::mMakeParam(0, 65535), 65535);
        QCOMPARE(clsMessage::mGetLowWord(-1), int16_t(-1));
        QCOMPARE(clsMessage::mGetHiWord(0x12348000), int16_t(0x1234));
        QCOMPARE(clsMessage::mGetLowWord(0x12348000), int16_t(-32768));
        QCOMPARE(clsMessage::mGetHiWord(clsMessage::mMakeParam(-2, 7)), int16_t(-2));
    }

    void receiversInOrderAndTheConsumedFlag()
    {
        Sender sender;
        QVERIFY(sender.ok());
        QWidget window, other;
        window.show();
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList log;
        Recorder first(QStringLiteral("first"), log), silent(QStringLiteral("silent"), log),
            last(QStringLiteral("last"), log), stranger(QStringLiteral("stranger"), log);
        for (Recorder *r : {&first, &silent, &last, &stranger})
            r->testType = sender.testType();

        clsMessage messages;
        QVERIFY(messages.mAddMessage(&first, window.winId(), true));
        QVERIFY(messages.mAddMessage(&silent, window.winId(), false));
        QVERIFY(messages.mAddMessage(&last, window.winId(), true));
        // One window per dispatcher: the second is refused and the first stays served.
        QVERIFY(!messages.mAddMessage(&stranger, other.winId(), true));
        QCOMPARE(messages.pMessageCount(), 3);
        QCOMPARE(messages.window(), window.winId());

        sender.send(window.winId(), 1);
        sender.send(other.winId(), 2);
        QTRY_COMPARE(log, QStringList({QStringLiteral("first:1"), QStringLiteral("last:1")}));

        // Taken by the first: the last sees it taken, and Qt never closes the window.
        first.consume = true;
        sender.close(window.winId());
        QTRY_COMPARE(log.size(), 4);
        QCOMPARE(log.mid(2), QStringList({QStringLiteral("first:-1"), QStringLiteral("last:-1(taken)")}));
        QVERIFY(window.isVisible());

        // A receiver that throws: the others still get the message, and Qt too.
        first.consume = false;
        first.during = [](int32_t) { throw std::runtime_error("receiver failed"); };
        log.clear();
        sender.close(window.winId());
        QTRY_COMPARE(log, QStringList({QStringLiteral("first:-1"), QStringLiteral("last:-1")}));
        QTRY_VERIFY(!window.isVisible());

        // Once every receiver is gone the window's messages go straight to Qt.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        first.during = nullptr;
        first.consume = true;
        QVERIFY(messages.mDeleteMessage(&first, window.winId()));
        QVERIFY(!messages.mDeleteMessage(&first, window.winId()));
        QVERIFY(messages.mDeleteMessage(&silent, window.winId()));
        QVERIFY(messages.mDeleteMessage(&last, window.winId()));
        QCOMPARE(messages.window(), quintptr(0));
        log.clear();
        sender.close(window.winId());
        QTRY_VERIFY(!window.isVisible());
        QVERIFY(log.isEmpty());
        // And the dispatcher may serve another window now.
        QVERIFY(messages.mAddMessage(&stranger, other.winId(), true));
        sender.send(other.winId(), 3);
        QTRY_COMPARE(log, QStringList({QStringLiteral("stranger:3")}));
    }

    void childMessagesGoToTheChildFirst()
    {
        Sender sender;
        QVERIFY(sender.ok());
        QWidget window;
        auto *child = new QWidget(&window);
        child->setAttribute(Qt::WA_NativeWindow);
        child->setGeometry(10, 10, 50, 50);
        QWidget unrelated;
        window.show();
        unrelated.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList log;
        Recorder parent(QStringLiteral("parent"), log), ofChild(QStringLiteral("child"), log),
            second(QStringLiteral("second"), log);
        for (Recorder *r : {&parent, &ofChild, &second})
            r->testType = sender.testType();

        clsMessage messages;
        QVERIFY(messages.mAddMessage(&parent, window.winId(), true));
        QVERIFY(messages.mAddChildMessage(&ofChild, child->winId(), true));
        QVERIFY(!messages.mAddChildMessage(&second, child->winId(), true));
        QCOMPARE(messages.pChildMessageCount(), 1);

        sender.send(child->winId(), 1);
        sender.send(unrelated.winId(), 2);
        sender.send(window.winId(), 3);
        QTRY_COMPARE(log, QStringList({QStringLiteral("child:1"), QStringLiteral("parent:1"),
                                       QStringLiteral("parent:3")}));

        QVERIFY(messages.mDeleteChildMessage(&ofChild, child->winId()));
        QVERIFY(!messages.mDeleteChildMessage(&ofChild, child->winId()));
        log.clear();
        sender.send(child->winId(), 4);
        sender.send(window.winId(), 5);
        QTRY_COMPARE(log, QStringList({QStringLiteral("parent:5")}));
        messages.mDeleteMessage(&parent, window.winId());
    }

    void messageDuringADispatchIsPassedOn()
    {
        Sender sender;
        QVERIFY(sender.ok());
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList log;
        Recorder taker(QStringLiteral("taker"), log);
        taker.testType = sender.testType();
        // It takes every message, but while it waits in a loop of its own (as in a message
        // box), the close request that comes meanwhile reaches Qt undispatched and closes
        // the window. (A modal box itself would keep Qt from closing the window.)
        taker.consume = true;
        bool closedDuringWait = false;
        taker.during = [&](int32_t number) {
            if (number != 1)
                return;
            QEventLoop wait;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
                if (!window.isVisible()) {
                    closedDuringWait = true;
                    wait.quit();
                }
            });
            poll.start(10);
            QTimer::singleShot(10000, &wait, &QEventLoop::quit);
            sender.close(window.winId());
            wait.exec();
        };
        clsMessage messages;
        QVERIFY(messages.mAddMessage(&taker, window.winId(), true));
        sender.send(window.winId(), 1);
        QTRY_VERIFY(closedDuringWait);
        QCOMPARE(log, QStringList({QStringLiteral("taker:1")}));

        // The dispatch is open again once the receiver has returned. (The closed window
        // comes back as a new X window.)
        QVERIFY(messages.mDeleteMessage(&taker, 0));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(messages.mAddMessage(&taker, window.winId(), true));
        sender.close(window.winId());
        QTRY_COMPARE(log.size(), 2);
        QCOMPARE(log.last(), QStringLiteral("taker:-1"));
        QVERIFY(window.isVisible());
        messages.mDeleteMessage(&taker, window.winId());
    }

  private:
    QString m_skipReason;
};

ZORVIN_XVFB_MAIN(tst_clsMessage, QSize(640, 480), false)
#include "tst_clsmessage.moc"
