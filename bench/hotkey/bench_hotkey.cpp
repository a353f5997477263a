// Times a capture hotkey on a 1920x1080 Xvfb screen: from the key press that another X
// client synthesizes through XTest (Ctrl+Shift+F12, the whole-screen capture) to the
// picture painted in the shown capture window, beside `xwd -root` in the same run. Prints
// the median and mean time of each.
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "capture/HotKeys.h"
#include "capture/clsHotKey.h"
#include "app/TrayIcon.h"
#include "support/BenchDesktop.h"
#include "support/BenchFigures.h"
#include "support/CaptureSetup.h"
#include "support/XKeyCodes.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdio>
#include <initializer_list>
#include <iterator>

namespace {

constexpr int kRounds = 20;

// The keyboard of another program: presses keys through XTest as a user would.
class Keyboard
{
  public:
    Keyboard() : m_c(xcb_connect(nullptr, nullptr)), m_codes(m_c) {}
    ~Keyboard() { xcb_disconnect(m_c); }

    void chord(std::initializer_list<uint32_t> keysyms)
    {
        for (uint32_t sym : keysyms)
            xcb_test_fake_input(m_c, XCB_KEY_PRESS, m_codes.of(sym), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
            xcb_test_fake_input(m_c, XCB_KEY_RELEASE, m_codes.of(*it), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(m_c);
    }

  private:
    xcb_connection_t *m_c;
    XKeyCodes m_codes;
};

} // namespace

int main(int argc, char **argv)
{
    BenchDesktop desktop;
    if (!desktop.start(QSize(1920, 1080), true))
        return 1;
    QApplication app(argc, argv);
    CaptureSetup setup;
    // Ctrl+Alt with a function key switches consoles on the standard layouts.
    setup.ctx.settings.KeyCapt(CaptDeskTop) = QStringLiteral("Ctrl+Shift+F12");
    TrayIcon tray;
    HotKeys hotKeys(setup.ctx, setup.host, *setup.windows, *setup.commands, tray);
    hotKeys.RegisterAll();
    if (hotKeys.mclsHotKey().ids().isEmpty()) {
        std::fprintf(stderr, "the hotkey was not registered\n");
        return 1;
    }
    FrmMain &window = *loadCaptureWindow(*setup.commands);
    window.setGeometry(100, 100, 1000, 700);
    window.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    // Every press must give exactly one capture, or the times would mix presses up.
    int presses = 0, captures = 0;
    QObject::connect(&window.capture(), &CaptureEngine::captured, &window, [&captures] { ++captures; });
    Keyboard keyboard;
    const auto pressAndPaint = [&] {
        QEventLoop done;
        bool captured = false;
        QObject::connect(&window.capture(), &CaptureEngine::captured, &done, [&] {
            captured = true;
            done.quit();
        });
        QTimer::singleShot(10000, &done, &QEventLoop::quit);
        ++presses;
        keyboard.chord({0xffe3, 0xffe1, 0xffc9}); // Control_L, Shift_L, F12
        done.exec();
        window.picDraw()->repaint();
        if (!captured)
            std::fprintf(stderr, "no capture within 10 s\n");
        return captured;
    };
    if (!pressAndPaint()) // warm-up
        return 1;
    std::printf("screen %dx%d, picture %dx%d\n", 1920, 1080, window.picture().width(),
                window.picture().height());
    reportSeconds("hotkey (XTest) to picture painted, shown", timedRuns(kRounds, pressAndPaint));
    QCoreApplication::processEvents();
    std::printf("%d presses, %d captures\n", presses, captures);
    reportSeconds("xwd -root (to a file)",
                  timedXwdRoot(kRounds, setup.dir.filePath(QStringLiteral("screen.xwd"))));
    return 0;
}
