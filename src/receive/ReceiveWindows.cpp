#include "receive/ReceiveWindows.h"

#include "pictures/ImageFiles.h"
#include "net/ArrivedImage.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/EngineEvents.h"
#include "net/NetEngine.h"
#include "receive/FrmRecv.h"
#include "receive/FrmView.h"

#include <QTimer>

ReceiveWindows::ReceiveWindows(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, Commands &commands,
                               FlashAndBlink flash, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_engine(engine), m_windows(windows), m_commands(commands),
      m_flash(std::move(flash)), m_autoSaver(std::make_unique<ImageFiles>(ctx, engine.host(), &engine))
{
    m_windows.setFactory(WindowKind::Recv, [this] { return new FrmRecv(m_ctx); });
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
    auto *viewer = new FrmView(*this, image);
    m_windows.add(WindowKind::View, QString::number(++m_viewerCount), viewer);
    emit viewerCreated(viewer);
    // This runs inside the socket's handler: showing, the sound and the automatic save
    // (which may ask in a box) go on from the event loop.
    QTimer::singleShot(0, viewer, [viewer, kind = image.displayKind] { viewer->LoadRecvPic(kind); });
    return viewer;
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
