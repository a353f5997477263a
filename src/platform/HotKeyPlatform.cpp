#include "platform/HotKeyPlatform.h"

#include "platform/x11/X11HotKeys.h"

namespace {

// Where there is no way to take keys (a Wayland platform plugin, offscreen).
class NullHotKeyPlatform : public HotKeyPlatform
{
  public:
    bool isSupported() const override { return false; }
    QString name() const override { return QStringLiteral("null"); }
    WindowId hotKeyWindow() const override { return 0; }
    bool RegisterHotKey(int, int, int, QString *error) override
    {
        if (error)
            *error = QStringLiteral("no global hotkeys on this platform");
        return false;
    }
    bool UnregisterHotKey(int) override { return false; }
    std::optional<Hit> hotKeyOf(const NativeMessage &) const override { return std::nullopt; }
};

} // namespace

std::unique_ptr<HotKeyPlatform> HotKeyPlatform::create()
{
    if (auto x11 = X11HotKeys::tryCreate())
        return x11;
    return std::make_unique<NullHotKeyPlatform>();
}

bool HotKeyPlatform::isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) ==
               0;
}
