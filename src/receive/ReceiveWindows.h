// The receiving side's windows: a viewer (FrmView) for every picture that arrives and the
// received-items list (FrmRecv) for files and failed receptions, fed by the engine's
// events. Also holds what the viewers share: the automatic save of received pictures and
// the waits they use.
#pragma once

#include <QLatin1String>
#include <QObject>

#include <functional>
#include <memory>

struct ArrivedImage;
class QImage;
class Commands;
class FrmRecv;
class FrmView;
class ImageFiles;
class ModZorvin;
class NetEngine;
class QWidget;
class WindowRegistry;

namespace WindowKind {
inline constexpr QLatin1String View("FrmView");
inline constexpr QLatin1String Recv("FrmRecv");
} // namespace WindowKind

class ReceiveWindows : public QObject
{
    Q_OBJECT
  public:
    // on: the window's task entry flashes and the tray icon blinks; off: both stop.
    using FlashAndBlink = std::function<void(QWidget *window, bool on)>;

    // Registers the received list's factory and connects the engine's arrivals.
    ReceiveWindows(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows, Commands &commands,
                   FlashAndBlink flash, QObject *parent = nullptr);
    ~ReceiveWindows() override;

    // Viewers open at once, from one sender and in all; the pictures beyond them wait in
    // the unread list with their files.
    static constexpr int kViewersPerSender = 10;
    static constexpr int kViewersInAll = 30;

    // A viewer for a picture that has just arrived, loaded before this returns (the file
    // may go right after); it shows itself from the event loop. Null when the quit runs,
    // when the picture waits in the unread list, and when it cannot be read: the engine is
    // then told to refuse it.
    FrmView *ImageArrived(const ArrivedImage &image);
    // A viewer for a picture that waited in the unread list, shown now (its "開く").
    FrmView *OpenWaiting(const ArrivedImage &image);
    // A row of the received list, which is made (hidden) when there is none and then shown.
    void AddRecvInfo(const QString &name, int result, const QString &info);

    // How long a picture that is not to be shown (RecvPicWin) is kept: 30 s.
    int hiddenViewerLifetimeMs() const { return m_hiddenLifetimeMs; }
    void setHiddenViewerLifetimeMs(int ms) { m_hiddenLifetimeMs = ms; }

    ModZorvin &context() const { return m_ctx; }
    NetEngine &engine() const { return m_engine; }
    WindowRegistry &windows() const { return m_windows; }
    Commands &commands() const { return m_commands; }
    // The automatic save of received pictures: one for all viewers, so that the running
    // number and the archiver's saves stay in arrival order.
    ImageFiles &autoSaver() const { return *m_autoSaver; }
    void flash(QWidget *window, bool on) const;

  signals:
    // A viewer was made for an arrived picture.
    void viewerCreated(FrmView *viewer);

  private:
    bool roomFor(const QString &sender) const;
    FrmView *addViewer(const ArrivedImage &image, const QImage &picture);
    void addUnread(const ArrivedImage &image, const QImage &picture);
    // The picture saved automatically from the event loop, as a viewer would at its load.
    void autoSaveLater(const QImage &picture, const QString &machineName);
    void removeReceivedFile(const QString &path) const;

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    WindowRegistry &m_windows;
    Commands &m_commands;
    FlashAndBlink m_flash;
    std::unique_ptr<ImageFiles> m_autoSaver;
    int m_hiddenLifetimeMs = 30000;
    quint64 m_viewerCount = 0;
    quint64 m_heldCount = 0;
};

// The start-up call of the resident window; the object is a child of `parent`.
ReceiveWindows *RegisterReceiveWindows(ModZorvin &ctx, NetEngine &engine, WindowRegistry &windows,
                                       Commands &commands, ReceiveWindows::FlashAndBlink flash,
                                       QObject *parent);
