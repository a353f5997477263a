// The system-wide hotkeys of one target window: registers and unregisters them under their
// id texts through the platform's back-end, and raises HotKey when one is pressed. The
// back-end's native messages reach it through a clsMessage on the target window.
#pragma once

#include "ui/clsMessage.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class HotKeyPlatform;

class clsHotKey : public QObject, private clsMessageReceiver
{
    Q_OBJECT
  public:
    using WindowId = quintptr;

    explicit clsHotKey(std::unique_ptr<HotKeyPlatform> platform, QObject *parent = nullptr);
    // Stops receiving and gives back every key it holds.
    ~clsHotKey() override;

    // Set once: the window that receives the hotkeys (the back-end's hotKeyWindow()).
    // False, and the target stays 0, when its messages cannot be received.
    bool setTarget(WindowId window);
    WindowId pTarget() const { return m_target; }
    HotKeyPlatform &platform() const { return *m_platform; }

    // Registers the key (virtual-key code and modifier mask) under `id`. False without a
    // target, when the id is registered already, or when the system refused the key.
    bool mAddHotKey(const QString &id, int virtualKey, int modifierMask);
    // Gives back the key of `id`; false when `id` holds none.
    bool mDeleteHotKey(const QString &id);
    // The ids registered now, in the order they were.
    QStringList ids() const;
    // Why the last mAddHotKey failed, for the terminal.
    QString lastError() const { return m_lastError; }

  signals:
    void HotKey(const QString &id, int modifierMask, int virtualKey);

  private:
    int32_t mCallBackWindow(quintptr &window, uint32_t &message, int32_t &param1, int32_t &param2,
                            bool &consumed) override;

    // Our own table in place of global names: an id text and the number the back-end
    // holds its key under.
    struct Registered
    {
        QString id;
        int number;
    };

    std::unique_ptr<HotKeyPlatform> m_platform;
    clsMessage m_message;
    WindowId m_target = 0;
    std::vector<Registered> m_registered;
    int m_nextNumber = 1;
    QString m_lastError;
};
