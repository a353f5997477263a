// A private X server for GUI tests: Xvfb on a free display, optionally with openbox as
// window manager, exported through DISPLAY. Start it before the QApplication is made.
#pragma once

#include <QSize>
#include <QString>

#include <memory>

class QProcess;

class XvfbSession
{
  public:
    XvfbSession();
    ~XvfbSession();
    XvfbSession(const XvfbSession &) = delete;
    XvfbSession &operator=(const XvfbSession &) = delete;

    // Starts Xvfb with one screen of the given size (24-bit) and, when asked, openbox;
    // sets DISPLAY and QT_QPA_PLATFORM=xcb. False with errorText() when either is missing
    // or does not come up.
    bool start(const QSize &screen, bool windowManager);
    void stop();
    // Ends the window manager only, leaving the X server up.
    void stopWindowManager();

    QString display() const { return m_display; }
    QString errorText() const { return m_error; }

    // Runs an X tool (xdotool, xprop, xclip, import ...) on this display; returns its
    // standard output, or a null string when it failed.
    QString run(const QString &program, const QStringList &arguments, int timeoutMs = 10000) const;

  private:
    bool waitForWindowManager();

    std::unique_ptr<QProcess> m_xvfb;
    std::unique_ptr<QProcess> m_wm;
    QString m_display;
    QString m_error;
};

// For a test main(): starts the session, then the application. When no X server comes up
// the application runs offscreen and `skipReason` says why; the test's initTestCase
// QSKIPs with it.
#define ZORVIN_XVFB_MAIN(TestClass, screenSize, withWm)                                                      \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        XvfbSession session;                                                                                 \
        const bool up = session.start(screenSize, withWm);                                                   \
        if (!up)                                                                                             \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                         \
        QApplication app(argc, argv);                                                                        \
        TestClass test(session, up ? QString() : session.errorText());                                       \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
