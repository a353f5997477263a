// One screenshot at a time from the desktop's screenshot portal
// (org.freedesktop.portal.Screenshot) over the session bus: the call, then the answer on
// the request object's Response signal, bounded in time.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <functional>

class QDBusPendingCallWatcher;

class ScreenshotPortal : public QObject
{
    Q_OBJECT
  public:
    // The picture, or a null picture and a sentence for the user; an interactive request
    // that the user cancelled gives neither.
    using Done = std::function<void(const QImage &picture, const QString &failure)>;

    explicit ScreenshotPortal(QObject *parent = nullptr);
    ~ScreenshotPortal() override;

    // Asks for a screenshot; `interactive` lets the user pick with the desktop's own tool.
    // `done` runs once, from the event loop. A request while one runs replaces it: the
    // older one's `done` is dropped.
    void request(bool interactive, Done done);
    bool busy() const { return bool(m_done); }

    // Whether the desktop's screenshot tool behind the portal lets the user pick a window:
    // the first desktop of XDG_CURRENT_DESKTOP that the portal knows decides (GNOME and
    // KDE show their own dialog; the wlroots desktops hand out the whole screen only).
    static bool desktopPicksWindows(const QString &currentDesktop);

    // What the user reads when the portal cannot help.
    static const QString kMissingText;
    static const QString kRefusedText;
    static const QString kFailedText;

    // How long a non-interactive request may take; a portal that never answers ends the
    // request with kFailedText then. An interactive one waits for the user much longer.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

  private slots:
    // Old-style slot: QDBusConnection::connect only takes these.
    void onRequestResponse(uint response, const QVariantMap &results);

  private:
    void onCallFinished(QDBusPendingCallWatcher *call);
    void listenOn(const QString &path);
    void stopListening();
    void finish(const QImage &picture, const QString &failure);

    Done m_done;
    QString m_requestPath;
    bool m_interactive = false;
    QTimer m_timeout;
    int m_timeoutMs;
    quint32 m_serial = 0;
};
