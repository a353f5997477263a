// Lets ordinary objects receive the native events of one window: every event reported to
// that window, and to the child windows registered with it, is offered to the registered
// receivers in order, and each may consume it; what nobody consumes goes on to Qt. Events
// reach it through Qt's native event filter.
#pragma once

#include "platform/NativeMessage.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <vector>

class clsMessageReceiver
{
  public:
    // Offered a message of the window. Setting `consumed` keeps it from Qt; the value
    // returned then is the message's result. All arguments are shared by the receivers of
    // one message, so each sees the flag and the values left by the one before.
    virtual int32_t mCallBackWindow(quintptr &window, uint32_t &message, int32_t &param1, int32_t &param2,
                                    bool &consumed) = 0;

  protected:
    ~clsMessageReceiver() = default;
};

class clsMessage : public QAbstractNativeEventFilter
{
  public:
    using WindowId = quintptr;

    clsMessage();
    // Stops filtering; receivers are not told.
    ~clsMessage() override;
    clsMessage(const clsMessage &) = delete;
    clsMessage &operator=(const clsMessage &) = delete;

    // high × 65536 + low as a signed 32-bit value (65535, 65535 gives -1).
    static int32_t mMakeParam(int32_t high, int32_t low);
    static int16_t mGetLowWord(int32_t value);
    static int16_t mGetHiWord(int32_t value);

    int pMessageCount() const { return int(m_messages.size()); }
    int pChildMessageCount() const { return int(m_children.size()); }
    // The window whose messages are dispatched; 0 while none is.
    WindowId window() const { return m_window; }

    // Adds a receiver of every message of `window`. False when the list already serves
    // another window. A receiver added with `deliver` false stays listed but is never called.
    bool mAddMessage(clsMessageReceiver *receiver, WindowId window, bool deliver);
    // Removes every entry of `receiver`; once none is left the window's messages go
    // straight to Qt again. False when the receiver had no entry.
    bool mDeleteMessage(clsMessageReceiver *receiver, WindowId window);
    // Adds the receiver of the messages of one child window, which come first to it and
    // then to the receivers of the window. False when that child has a receiver already.
    bool mAddChildMessage(clsMessageReceiver *receiver, WindowId child, bool deliver);
    // Removes every entry of that child; false when it had none.
    bool mDeleteChildMessage(clsMessageReceiver *receiver, WindowId child);

    // Offers one message to the receivers: the child's first, then every delivering entry of
    // the window's list. While a dispatch runs (a receiver waits in a message box, or sends
    // a message itself), a message is not dispatched again but passed on at once.
    // `consumed` says whether Qt must not see it; the result is the last receiver's.
    int32_t mCallBackWindow(NativeMessage &message, bool *consumed);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

  private:
    struct Entry
    {
        clsMessageReceiver *receiver;
        WindowId window;
        bool deliver;
        bool operator==(const Entry &other) const
        {
            return receiver == other.receiver && window == other.window && deliver == other.deliver;
        }
    };
    void subclass(WindowId window);
    void unsubclass();
    // Calls one receiver if its entry is still listed; an exception it throws is dropped.
    void offer(const Entry &entry, const std::vector<Entry> &list, NativeMessage &message, bool &consumed,
               int32_t &result);

    std::vector<Entry> m_messages;
    std::vector<Entry> m_children;
    WindowId m_window = 0;
    bool m_filtering = false;
    bool m_guard = false;
    // Set by the destructor when a receiver deleted this object during a dispatch.
    bool *m_gone = nullptr;
};
