#include "ui/clsMessage.h"

#include <QCoreApplication>

#include <algorithm>

clsMessage::clsMessage() = default;

clsMessage::~clsMessage()
{
    if (m_gone)
        *m_gone = true;
    m_messages.clear();
    m_children.clear();
    unsubclass();
}

int32_t clsMessage::mMakeParam(int32_t high, int32_t low)
{
    // Values of 2^31 and above wrap round into the negative half, as the 32-bit parameter
    // holds them.
    return int32_t(uint32_t(int64_t(high) * 65536 + int64_t(low)));
}

int16_t clsMessage::mGetLowWord(int32_t value)
{
    return int16_t(uint16_t(uint32_t(value) & 0xffff));
}

int16_t clsMessage::mGetHiWord(int32_t value)
{
    return int16_t(uint16_t(uint32_t(value) >> 16));
}

bool clsMessage::mAddMessage(clsMessageReceiver *receiver, WindowId window, bool deliver)
{
    if (!receiver || window == 0)
        return false;
    if (!m_messages.empty() && m_messages.front().window != window)
        return false;
    m_messages.push_back({receiver, window, deliver});
    if (m_messages.size() == 1)
        subclass(window);
    return true;
}

bool clsMessage::mDeleteMessage(clsMessageReceiver *receiver, WindowId)
{
    const auto removed =
        std::erase_if(m_messages, [receiver](const Entry &e) { return e.receiver == receiver; });
    if (m_messages.empty())
        unsubclass();
    return removed > 0;
}

bool clsMessage::mAddChildMessage(clsMessageReceiver *receiver, WindowId child, bool deliver)
{
    if (!receiver || child == 0)
        return false;
    if (std::any_of(m_children.begin(), m_children.end(),
                    [child](const Entry &e) { return e.window == child; }))
        return false;
    m_children.push_back({receiver, child, deliver});
    return true;
}

bool clsMessage::mDeleteChildMessage(clsMessageReceiver *, WindowId child)
{
    return std::erase_if(m_children, [child](const Entry &e) { return e.window == child; }) > 0;
}

void clsMessage::subclass(WindowId window)
{
    m_window = window;
    if (!m_filtering && QCoreApplication::instance()) {
        // The newest filter runs first; one that consumes stops the rest, as a procedure
        // that does not call the one it replaced.
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filtering = true;
    }
}

void clsMessage::unsubclass()
{
    if (m_filtering && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    m_filtering = false;
    m_window = 0;
}

void clsMessage::offer(const Entry &entry, const std::vector<Entry> &list, NativeMessage &message,
                       bool &consumed, int32_t &result)
{
    // A receiver removed by an earlier one in this dispatch is not called any more.
    if (std::find(list.begin(), list.end(), entry) == list.end())
        return;
    try {
        result = entry.receiver->mCallBackWindow(message.window, message.message, message.param1,
                                                 message.param2, consumed);
    } catch (...) {
        // A failing receiver costs only its own share; the message goes on.
    }
}

int32_t clsMessage::mCallBackWindow(NativeMessage &message, bool *consumed)
{
    *consumed = false;
    if (m_guard)
        return 0;
    m_guard = true;
    bool gone = false;
    m_gone = &gone;
    bool taken = false;
    int32_t result = 0;

    // The child's receiver first: the first of its entries that delivers.
    const WindowId target = message.window;
    const std::vector<Entry> children = m_children;
    const auto child = std::find_if(children.begin(), children.end(),
                                    [target](const Entry &e) { return e.window == target && e.deliver; });
    if (child != children.end())
        offer(*child, m_children, message, taken, result);
    // Then every delivering receiver of the window, in order; each sees what the last left.
    const std::vector<Entry> receivers = gone ? std::vector<Entry>() : m_messages;
    for (const Entry &entry : receivers) {
        if (entry.deliver)
            offer(entry, m_messages, message, taken, result);
        if (gone)
            break;
    }
    if (!gone) {
        m_gone = nullptr;
        m_guard = false;
    }
    *consumed = taken;
    return result;
}

bool clsMessage::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result)
{
    if (m_window == 0)
        return false;
    NativeMessage decoded;
    if (!DecodeNativeMessage(eventType, message, &decoded))
        return false;
    const bool forChild = std::any_of(m_children.begin(), m_children.end(),
                                      [&decoded](const Entry &e) { return e.window == decoded.window; });
    if (decoded.window != m_window && !forChild)
        return false;
    bool consumed = false;
    const int32_t value = mCallBackWindow(decoded, &consumed);
    if (consumed && result)
        *result = value;
    return consumed;
}
