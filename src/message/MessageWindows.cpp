#include "message/MessageWindows.h"

#include "ui/Commands.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "net/ReceivedMessage.h"
#include "ui/WindowRegistry.h"
#include "message/FrmMsg.h"
#include "net/EngineEvents.h"
#include "net/MessageDelivery.h"
#include "net/NetEngine.h"
#include "ui/FrmUnread.h"

#include <QApplication>

#include <algorithm>

namespace {

// Arrival sounds closer together than this are one sound: a burst of messages beeps once.
constexpr int kSoundGapMs = 500;

} // namespace

MessageWindows::MessageWindows(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, Commands &commands,
                               FlashAndBlink flashAndBlink, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_engine(engine), m_windows(windows), m_commands(commands),
      m_flashAndBlink(std::move(flashAndBlink))
{
    commands.setHandler(QStringLiteral("mnuMsgSend"), [this] { LoadSendMsg(); });
    connect(&engine.events(), &EngineEvents::messageArrived, this, &MessageWindows::onMessageArrived);
    connect(&engine.events(), &EngineEvents::messageSending, this, &MessageWindows::onMessageSending);
    windows.setClosedInBulk(WindowKind::Msg);
    if (!windows.hasFactory(WindowKind::Unread))
        windows.setFactory(WindowKind::Unread, [] { return new FrmUnread; });
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(0);
    connect(&m_showTimer, &QTimer::timeout, this, &MessageWindows::showNextReceived);
}

FrmMsg *MessageWindows::addWindow(FrmMsg *window)
{
    m_windows.add(WindowKind::Msg, window->registryKey(), window);
    return window;
}

FrmMsg *MessageWindows::openNew(FrmMsg::Use use, const std::function<void(FrmMsg &, int)> &prepare)
{
    if (m_windows.isClosing())
        return nullptr;
    auto *window = new FrmMsg(*this, use);
    prepare(*window, m_engine.messages().NextMessageId());
    addWindow(window)->show();
    return window;
}

FrmMsg *MessageWindows::LoadSendMsg()
{
    return openNew(FrmMsg::Use::Compose, [](FrmMsg &window, int id) { window.prepareCompose(id); });
}

FrmMsg *MessageWindows::OpenReply(const FrmMsg &received)
{
    return openNew(FrmMsg::Use::Reply, [&](FrmMsg &window, int id) { window.prepareReply(received, id); });
}

FrmMsg *MessageWindows::OpenForward(const FrmMsg &received)
{
    return openNew(FrmMsg::Use::Forward,
                   [&](FrmMsg &window, int id) { window.prepareForward(received, id); });
}

QList<FrmMsg *> MessageWindows::messageWindows() const
{
    QList<FrmMsg *> found;
    for (QWidget *window : m_windows.windows(WindowKind::Msg)) {
        if (auto *message = qobject_cast<FrmMsg *>(window))
            found << message;
    }
    return found;
}

QIcon MessageWindows::sharedIcon(const QString &key, const std::function<QIcon()> &make)
{
    auto it = m_icons.find(key);
    if (it == m_icons.end())
        it = m_icons.insert(key, make());
    return *it;
}

QString MessageWindows::lastOpenFolder() const
{
    return m_lastOpenFolder.isEmpty() ? m_ctx.ProgramDir : m_lastOpenFolder;
}

QString MessageWindows::lastSaveFolder() const
{
    return m_lastSaveFolder.isEmpty() ? m_ctx.ProgramDir : m_lastSaveFolder;
}

// Runs inside the datagram handler, which logs the message and sends the receipt once this
// returns. The window is made, registered and shown from the event loop, one per turn: a
// burst of messages keeps presence answers and receipts moving in between.
void MessageWindows::onMessageArrived(const ReceivedMessage &message)
{
    // Only the quit itself stops arrivals: a quit question answered "Cancel" leaves the
    // program marked as quitting and still running.
    if (m_windows.isClosing())
        return;
    if (!roomFor(message.senderAddress)) {
        addUnread(message);
        return;
    }
    m_toShow.append(message);
    if (!m_showTimer.isActive())
        m_showTimer.start();
}

bool MessageWindows::roomFor(const QString &sender) const
{
    int fromSender =
        int(std::count_if(m_toShow.cbegin(), m_toShow.cend(),
                          [&sender](const ReceivedMessage &m) { return m.senderAddress == sender; }));
    int inAll = int(m_toShow.size());
    for (QWidget *window : m_windows.windows(WindowKind::Msg)) {
        const auto *message = qobject_cast<const FrmMsg *>(window);
        if (!message || message->use() != FrmMsg::Use::Received)
            continue;
        ++inAll;
        if (message->tag() == sender)
            ++fromSender;
    }
    return fromSender < kReceivedPerSender && inAll < kReceivedInAll;
}

void MessageWindows::addUnread(const ReceivedMessage &message)
{
    auto *list = m_windows.load<FrmUnread>(WindowKind::Unread);
    if (!list)
        return;
    UnreadItem item;
    item.when = message.arrivalDate + QLatin1Char(' ') + message.arrivalTime;
    item.from = message.fromName();
    item.kind = FrmUnread::kMessageKind;
    // A message sent face down shows nothing of its text before it is opened.
    item.summary = message.isClosed() ? QStringLiteral("メッセージを受信しました。")
                                      : message.text.section(QLatin1Char('\n'), 0, 0).trimmed().left(200);
    item.concern = QuitGuard::UnopenedMessage;
    item.open = [self = QPointer<MessageWindows>(this), message] {
        if (self)
            self->OpenReceived(message);
    };
    list->add(std::move(item));
    playArrivalSound();
}

FrmMsg *MessageWindows::OpenReceived(const ReceivedMessage &message)
{
    if (m_windows.isClosing())
        return nullptr;
    auto *window = new FrmMsg(*this, FrmMsg::Use::Received);
    window->prepareReceived(message);
    addWindow(window)->show();
    window->raise();
    window->activateWindow();
    return window;
}

void MessageWindows::showNextReceived()
{
    if (m_toShow.isEmpty())
        return;
    const ReceivedMessage message = m_toShow.takeFirst();
    if (!m_toShow.isEmpty())
        m_showTimer.start();
    // The quit came before its turn: nothing opens any more.
    if (m_windows.isClosing())
        return;
    auto *window = new FrmMsg(*this, FrmMsg::Use::Received);
    window->prepareReceived(message);
    addWindow(window);
    if (m_ctx.settings.RecvMsgMin == 1)
        window->showMinimized();
    else
        window->show();
    playArrivalSound();
    window->startFlashing();
    emit receivedShown(window);
}

void MessageWindows::playArrivalSound()
{
    const Settings &s = m_ctx.settings;
    if (s.RecvMsgSound != 1 && s.RecvMsgSound != 2)
        return;
    if (m_lastSound.isValid() && m_lastSound.elapsed() < kSoundGapMs)
        return;
    m_lastSound.start();
    // A missing wave file stays silent.
    if (s.RecvMsgSound == 1)
        QApplication::beep();
    else
        PlayWaveFile(s.RecvMsgSoundPlace);
}

// The send dialog sends the message of the window with this id: that window closes when it
// asked to, then the received window it answered.
void MessageWindows::onMessageSending(int messageId)
{
    for (FrmMsg *window : messageWindows()) {
        if (window->use() == FrmMsg::Use::Received || window->LblMsgID() != messageId)
            continue;
        // Each recipient of the list reports the send; the answered window closes once.
        const QString link = window->takeLinkId();
        if (window->LblSt() == QLatin1String("CLS"))
            window->close();
        CloseLinked(link);
        return;
    }
}

void MessageWindows::CloseLinked(const QString &linkId)
{
    if (linkId.isEmpty())
        return;
    for (FrmMsg *window : messageWindows()) {
        if (window->use() == FrmMsg::Use::Received && window->LblSt() == QLatin1String("CLS") &&
            window->LblRcvID() == linkId) {
            window->close();
            return;
        }
    }
}
