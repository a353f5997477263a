#include "capture/clsHotKey.h"

#include "platform/HotKeyPlatform.h"

#include <algorithm>

clsHotKey::clsHotKey(std::unique_ptr<HotKeyPlatform> platform, QObject *parent)
    : QObject(parent), m_platform(std::move(platform))
{}

clsHotKey::~clsHotKey()
{
    if (m_target != 0)
        m_message.mDeleteMessage(this, m_target);
    for (const Registered &r : m_registered)
        m_platform->UnregisterHotKey(r.number);
}

bool clsHotKey::setTarget(WindowId window)
{
    if (m_target != 0 || window == 0)
        return false;
    if (!m_message.mAddMessage(this, window, true))
        return false;
    m_target = window;
    return true;
}

bool clsHotKey::mAddHotKey(const QString &id, int virtualKey, int modifierMask)
{
    m_lastError.clear();
    if (m_target == 0) {
        m_lastError = QStringLiteral("no window receives hotkeys");
        return false;
    }
    if (std::any_of(m_registered.begin(), m_registered.end(),
                    [&id](const Registered &r) { return r.id == id; })) {
        m_lastError = QStringLiteral("%1 is registered already").arg(id);
        return false;
    }
    const int number = m_nextNumber++;
    if (!m_platform->RegisterHotKey(number, virtualKey, modifierMask, &m_lastError))
        return false;
    m_registered.push_back({id, number});
    return true;
}

bool clsHotKey::mDeleteHotKey(const QString &id)
{
    const auto it = std::find_if(m_registered.begin(), m_registered.end(),
                                 [&id](const Registered &r) { return r.id == id; });
    if (it == m_registered.end())
        return false;
    m_platform->UnregisterHotKey(it->number);
    m_registered.erase(it);
    return true;
}

QStringList clsHotKey::ids() const
{
    QStringList list;
    for (const Registered &r : m_registered)
        list << r.id;
    return list;
}

int32_t clsHotKey::mCallBackWindow(quintptr &window, uint32_t &message, int32_t &param1, int32_t &param2,
                                   bool &consumed)
{
    NativeMessage native;
    native.window = window;
    native.message = message;
    native.param1 = param1;
    native.param2 = param2;
    const std::optional<HotKeyPlatform::Hit> hit = m_platform->hotKeyOf(native);
    if (!hit)
        return 0;
    const auto it = std::find_if(m_registered.begin(), m_registered.end(),
                                 [number = hit->id](const Registered &r) { return r.number == number; });
    if (it == m_registered.end())
        return 0;
    consumed = true;
    // A copy: the handler may unregister this very key.
    const QString id = it->id;
    emit HotKey(id, hit->modifierMask, hit->virtualKey);
    return 0;
}
