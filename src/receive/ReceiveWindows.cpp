#include "receive/ReceiveWindows.h"

#include "pictures/ImageFiles.h"
#include "net/ArrivedImage.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/EngineEvents.h"
#include "net/NetEngine.h"
#include "net/TransferReceiver.h"
#include "receive/FrmRecv.h"
#include "ui/FrmUnread.h"
#include "receive/FrmView.h"
#include "receive/ReceivedFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>

ReceiveWindows::ReceiveWindows(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, Commands &commands,
                               FlashAndBlink flash, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_engine(engine), m_windows(windows), m_commands(commands),
      m_flash(std::move(flash)), m_autoSaver(std::make_unique<ImageFiles>(ctx, engine.host(), &engine))
{
    m_windows.setFactory(WindowKind::Recv, [this] { return new FrmRecv(m_ctx); });
    if (!m_windows.hasFactory(WindowKind::Unread))
        m_windows.setFactory(WindowKind::Unread, [] { return new FrmUnread; });
    m_windows.setClosedInBulk(WindowKind::View);
    EngineEvents &events = engine.events();
    // Direct: the picture is read before the engine deletes its file.
    connect(&events, &EngineEvents::imageArrived, this, &ReceiveWindows::ImageArrived, Qt::DirectConnection);
    connect(&events, &EngineEvents::recvInfoAdded, this, &ReceiveWindows::AddRecvInfo);
    // Receptions show in the list while it is open; they never open it.
    connect(&events, &EngineEvents::transferProgress, this, [this](const TransferProgress &progress) {
        if (auto *window = progress.sending ? nullptr : m_windows.find<FrmRecv>(WindowKind::Recv))
            window->ShowProgress(progress);
    });
}

ReceiveWindows::~ReceiveWindows() = default;

FrmView *ReceiveWindows::ImageArrived(const ArrivedImage &image)
{
    if (m_windows.isClosing())
        return nullptr;
    // Read now, inside the engine's hand-over: a file that is no picture we can read is
    // answered to its sender as an error and listed, instead of opening a window.
    const QImage picture = FrmView::ReadPicture(image.path);
    if (picture.isNull()) {
        m_engine.receiver().RefuseArrivedImage();
        return nullptr;
    }
    if (roomFor(image.senderIp))
        return addViewer(image, picture);
    if (image.displayKind == 9) {
        // Not to be shown anyway: only the automatic save remains to be done.
        autoSaveLater(picture, image.machineName);
        removeReceivedFile(image.path);
    } else {
        addUnread(image, picture);
    }
    return nullptr;
}

FrmView *ReceiveWindows::addViewer(const ArrivedImage &image, const QImage &picture)
{
    auto *viewer = new FrmView(*this, image, picture);
    m_windows.add(WindowKind::View, QString::number(++m_viewerCount), viewer);
    emit viewerCreated(viewer);
    // This runs inside the socket's handler: showing, the sound and the automatic save
    // (which may ask in a box) go on from the event loop.
    QTimer::singleShot(0, viewer, [viewer, kind = image.displayKind] { viewer->LoadRecvPic(kind); });
    return viewer;
}

bool ReceiveWindows::roomFor(const QString &sender) const
{
    const QList<QWidget *> viewers = m_windows.windows(WindowKind::View);
    if (viewers.size() >= kViewersInAll)
        return false;
    const auto fromSender = std::count_if(viewers.cbegin(), viewers.cend(), [&sender](QWidget *window) {
        const auto *viewer = qobject_cast<const FrmView *>(window);
        return viewer && viewer->arrival().senderIp == sender;
    });
    return fromSender < kViewersPerSender;
}

void ReceiveWindows::addUnread(const ArrivedImage &image, const QImage &picture)
{
    auto *list = m_windows.load<FrmUnread>(WindowKind::Unread);
    if (!list) {
        removeReceivedFile(image.path);
        return;
    }
    ArrivedImage waiting = image;
    // Kept under a name of its own: a later arrival of the same name would overwrite it,
    // and the engine deletes a bitmap once the hand-over returns.
    const QString held =
        m_ctx.RecvTempDir + QStringLiteral("~RHold%1-%2.%3")
                                .arg(++m_heldCount)
                                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
                                .arg(QFileInfo(image.path).suffix());
    if (QFile::rename(image.path, held))
        waiting.path = held;
    autoSaveLater(picture, image.machineName);

    UnreadItem item;
    item.when = image.date + QLatin1Char(' ') + image.time;
    item.from = image.displayName.isEmpty() ? image.senderIp : image.displayName;
    item.kind = FrmUnread::kPictureKind;
    item.summary = QStringLiteral("画像を受信しました。");
    if (image.displayKind == 0)
        item.summary += QStringLiteral(" (%1×%2)").arg(picture.width()).arg(picture.height());
    item.concern = QuitGuard::UnopenedImage;
    item.open = [self = QPointer<ReceiveWindows>(this), waiting] {
        if (self)
            self->OpenWaiting(waiting);
    };
    item.discard = [self = QPointer<ReceiveWindows>(this), path = waiting.path] {
        if (self)
            self->removeReceivedFile(path);
    };
    list->add(std::move(item));
}

FrmView *ReceiveWindows::OpenWaiting(const ArrivedImage &image)
{
    if (m_windows.isClosing())
        return nullptr;
    const QImage picture = FrmView::ReadPicture(image.path);
    if (picture.isNull()) {
        removeReceivedFile(image.path);
        return nullptr;
    }
    auto *viewer = new FrmView(*this, image, picture);
    m_windows.add(WindowKind::View, QString::number(++m_viewerCount), viewer);
    emit viewerCreated(viewer);
    // Saved automatically when it arrived.
    viewer->LoadRecvPic(image.displayKind, false);
    viewer->raise();
    viewer->activateWindow();
    return viewer;
}

void ReceiveWindows::autoSaveLater(const QImage &picture, const QString &machineName)
{
    // The picture is held until then only when the settings save it.
    if (!ImageFiles::ReceiveRule(m_ctx.settings, machineName))
        return;
    QTimer::singleShot(0, this,
                       [this, picture, machineName] { m_autoSaver->AutoSaveReceived(picture, machineName); });
}

void ReceiveWindows::removeReceivedFile(const QString &path) const
{
    // Only a file in the receive work folder is ever removed, whatever name the sender gave.
    if (!path.isEmpty() && ReceivedFiles::IsInFolder(m_ctx.RecvTempDir, path))
        QFile::remove(path);
}

void ReceiveWindows::AddRecvInfo(const QString &name, int result, const QString &info)
{
    if (auto *window = m_windows.load<FrmRecv>(WindowKind::Recv))
        window->AddRecvInfo(name, result, info);
}

void ReceiveWindows::flash(QWidget *window, bool on) const
{
    if (m_flash)
        m_flash(window, on);
}

ReceiveWindows *RegisterReceiveWindows(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows,
                                       Commands &commands, ReceiveWindows::FlashAndBlink flash,
                                       QObject *parent)
{
    return new ReceiveWindows(ctx, engine, windows, commands, std::move(flash), parent);
}
