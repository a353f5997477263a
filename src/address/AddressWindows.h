// The address book's windows in the program: how the registry makes them, the commands
// that open them (the address book, the send dialog behind "画像転送", "ﾌｧｲﾙ転送" and
// file drops), and the send results that open `FrmSend`.
#pragma once

#include <QLatin1String>
#include <QObject>

struct TransferProgress;
class Commands;
class NetEngine;
class WindowRegistry;

namespace WindowKind {
inline constexpr QLatin1String AdrEdit("FrmAdrEdit");
inline constexpr QLatin1String Send("FrmSend");
inline constexpr QLatin1String AddAdr("FrmAddAdr");
inline constexpr QLatin1String ModAdr("FrmModAdr");
} // namespace WindowKind

class AddressWindows : public QObject
{
    Q_OBJECT
  public:
    // Registers the factories, sets the handler of "mnuAdrEdit" and the send dialog, and
    // lists every send result of `engine` in `FrmSend`.
    AddressWindows(NetEngine &engine, WindowRegistry &windows, Commands &commands, QObject *parent = nullptr);

  private:
    void onTransferProgress(const TransferProgress &progress);
    void onSendResultAdded(const QString &name, const QString &kind, int result, const QString &info);

    NetEngine &m_engine;
    WindowRegistry &m_windows;
};
