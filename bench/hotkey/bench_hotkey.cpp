// Times a capture hotkey on a 1920x1080 Xvfb screen: from the key press that another X
// client synthesizes through XTest (Ctrl+Shift+F12, the whole-screen capture) to the
// picture painted in the shown capture window, beside `xwd -root` in the same run. Prints
// the median and mean time of each.
#include "capture/CaptureEngine.h"
#include "capture/FrmMain.h"
#include "capture/HotKeys.h"
#include "capture/clsHotKey.h"
#include "core/Commands.h"
#include "core/EngineHost.h"
#include "core/ModZorvin.h"
#include "core/TrayIcon.h"
#include "core/WindowRegistry.h"
#include "net/NetEngine.h"
#include "support/IsolatedHome.h"
#include "support/TestPort.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <vector>

namespace {

constexpr int kRounds = 20;

class QuietHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &text, int) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return MsgBox::IdOk;
    }
};

// The keyboard of another program: presses keys through XTest as a user would.
class Keyboard
{
  public:
    Keyboard() : m_c(xcb_connect(nullptr, nullptr))
    {
        const xcb_setup_t *setup = xcb_get_setup(m_c);
        xcb_get_keyboard_mapping_reply_t *map = xcb_get_keyboard_mapping_reply(
            m_c,
            xcb_get_keyboard_mapping(m_c, setup->min_keycode, setup->max_keycode - setup->min_keycode + 1),
            nullptr);
        if (!map)
            return;
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map);
        const int count = xcb_get_keyboard_mapping_keysyms_length(map);
        // The first key that carries a keysym wins.
        for (int i = count - 1; i >= 0; --i)
            m_codes[syms[i]] = uint8_t(setup->min_keycode + i / map->keysyms_per_keycode);
        std::free(map);
    }
    ~Keyboard() { xcb_disconnect(m_c); }

    void chord(std::initializer_list<uint32_t> keysyms)
    {
        for (uint32_t sym : keysyms)
            xcb_test_fake_input(m_c, XCB_KEY_PRESS, m_codes.value(sym), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
            xcb_test_fake_input(m_c, XCB_KEY_RELEASE, m_codes.value(*it), XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                                0);
        xcb_flush(m_c);
    }

  private:
    xcb_connection_t *m_c;
    QHash<uint32_t, uint8_t> m_codes;
};

void report(const char *what, std::vector<double> seconds)
{
    std::sort(seconds.begin(), seconds.end());
    const double mean = std::accumulate(seconds.begin(), seconds.end(), 0.0) / double(seconds.size());
    std::printf("%-44s median %7.4f s   mean %7.4f s   (%zu runs)\n", what, seconds[seconds.size() / 2], mean,
                seconds.size());
}

std::vector<double> timed(const std::function<bool()> &run)
{
    std::vector<double> seconds;
    for (int i = 0; i < kRounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (!run())
            break;
        seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
    }
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    // Its own HOME, XDG folders and TMPDIR, as every test has under ctest.
    const IsolatedHome home;
    home.apply();
    XvfbSession session;
    if (!session.start(QSize(1920, 1080), true)) {
        std::fprintf(stderr, "no X server: %s\n", qPrintable(session.errorText()));
        return 1;
    }
    QApplication app(argc, argv);
    QTemporaryDir dir;
    ModZorvin ctx;
    ctx.ProgramDir = dir.path() + u'/';
    ctx.MakeTempFolders(dir.filePath(QStringLiteral("tmp")) + u'/');
    ctx.net.port = TestPort::port();
    // Ctrl+Alt with a function key switches consoles on the standard layouts.
    ctx.settings.KeyCapt(CaptDeskTop) = QStringLiteral("Ctrl+Shift+F12");
    QuietHost host;
    NetEngine engine(ctx, host);
    WindowRegistry windows;
    Commands commands(ctx, engine, windows);
    TrayIcon tray;
    HotKeys hotKeys(ctx, host, windows, commands, tray);
    hotKeys.RegisterAll();
    if (hotKeys.mclsHotKey().ids().isEmpty()) {
        std::fprintf(stderr, "the hotkey was not registered\n");
        return 1;
    }
    FrmMain &window = *commands.loadCaptureWindow();
    window.setGeometry(100, 100, 1000, 700);
    window.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    Keyboard keyboard;
    const auto pressAndPaint = [&] {
        QEventLoop done;
        bool captured = false;
        QObject::connect(&window.capture(), &CaptureEngine::captured, &done, [&] {
            captured = true;
            done.quit();
        });
        QTimer::singleShot(10000, &done, &QEventLoop::quit);
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
    report("hotkey (XTest) to picture painted, shown", timed(pressAndPaint));

    const QString xwdOut = dir.filePath(QStringLiteral("screen.xwd"));
    report("xwd -root (to a file)", timed([&] {
               return QProcess::execute(QStringLiteral("xwd"),
                                        {QStringLiteral("-root"), QStringLiteral("-silent"),
                                         QStringLiteral("-out"), xwdOut}) == 0;
           }));
    return 0;
}
