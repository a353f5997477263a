#include "address/AddressWindows.h"

#include "address/FrmAddAdr.h"
#include "address/FrmAdrEdit.h"
#include "address/FrmModAdr.h"
#include "address/FrmSend.h"
#include "ui/Commands.h"
#include "base/ModZorvin.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"

AddressWindows::AddressWindows(NetEngine &engine, WindowRegistry &windows, Commands &commands,
                               QObject *parent)
    : QObject(parent), m_engine(engine), m_windows(windows)
{
    windows.setFactory(WindowKind::AdrEdit, [&engine, &windows] { return new FrmAdrEdit(engine, windows); });
    windows.setFactory(WindowKind::Send, [&engine] { return new FrmSend(engine.context()); });
    windows.setFactory(WindowKind::AddAdr, [&engine, &windows] { return new FrmAddAdr(engine, windows); });
    windows.setFactory(WindowKind::ModAdr, [&engine, &windows] { return new FrmModAdr(engine, windows); });

    commands.setHandler(QStringLiteral("mnuAdrEdit"), [&windows] {
        if (auto *window = windows.load<FrmAdrEdit>(WindowKind::AdrEdit))
            window->LoadmnuEditAddr();
    });
    commands.setSendDialog([&windows](const SendHandOver &handOver) {
        if (auto *window = windows.load<FrmAdrEdit>(WindowKind::AdrEdit))
            window->LoadSendAddr(handOver);
    });
    connect(&engine.events(), &EngineEvents::sendResultAdded, this, &AddressWindows::onSendResultAdded);
    connect(&engine.events(), &EngineEvents::transferProgress, this, &AddressWindows::onTransferProgress);
}

void AddressWindows::onTransferProgress(const TransferProgress &progress)
{
    if (!progress.sending || m_engine.context().StartupDone == StartupQuitting)
        return;
    // A send whose outcome the user wants to hear of shows itself from its start.
    const bool comeUp =
        progress.state != TransferProgress::State::Ended && (progress.notice == 1 || progress.notice == 2);
    auto *window =
        comeUp ? m_windows.load<FrmSend>(WindowKind::Send) : m_windows.find<FrmSend>(WindowKind::Send);
    if (window)
        window->ShowProgress(progress, comeUp);
}

void AddressWindows::onSendResultAdded(const QString &name, const QString &kind, int result,
                                       const QString &info)
{
    if (m_engine.context().StartupDone == StartupQuitting)
        return;
    if (auto *window = m_windows.load<FrmSend>(WindowKind::Send))
        window->AddSendResult(name, kind, result, info);
}
