#include "platform/wayland/ScreenshotPortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

constexpr int kDefaultTimeoutMs = 30000;
constexpr int kInteractiveTimeoutMs = 10 * 60 * 1000;

// Response codes of org.freedesktop.portal.Request.
constexpr uint kResponseSuccess = 0;
constexpr uint kResponseCancelled = 1;

} // namespace

const QString ScreenshotPortal::kMissingText =
    QStringLiteral("このデスクトップには画面を取り込むための窓口 (xdg-desktop-portal のスクリーンショット) "
                   "がないため、画面を取り込めません。");
const QString ScreenshotPortal::kRefusedText =
    QStringLiteral("デスクトップが画面の取り込みを許可しませんでした。デスクトップの設定で、このプログラムに"
                   "スクリーンショットを許可してください。");
const QString ScreenshotPortal::kFailedText =
    QStringLiteral("デスクトップのスクリーンショット機能から画像を受け取れなかったため、画面を取り込めません"
                   "でした。");

ScreenshotPortal::ScreenshotPortal(QObject *parent) : QObject(parent), m_timeoutMs(kDefaultTimeoutMs)
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { finish({}, kFailedText); });
}

ScreenshotPortal::~ScreenshotPortal()
{
    stopListening();
}

bool ScreenshotPortal::desktopPicksWindows(const QString &currentDesktop)
{
    // The portal back-ends of these desktops ignore the interactive hint and hand out the
    // whole output.
    static const QStringList wholeScreenOnly = {QStringLiteral("sway"),     QStringLiteral("wlroots"),
                                                QStringLiteral("hyprland"), QStringLiteral("river"),
                                                QStringLiteral("wayfire"),  QStringLiteral("phosh")};
    for (const QString &desktop : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        const QString name = desktop.trimmed().toLower();
        if (name == QLatin1String("gnome") || name == QLatin1String("kde"))
            return true;
        if (wholeScreenOnly.contains(name))
            return false;
        // Other names (a distribution's own, "ubuntu") say nothing about the back-end.
    }
    return false;
}

void ScreenshotPortal::request(bool interactive, Done done)
{
    stopListening();
    m_done = std::move(done);
    m_interactive = interactive;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // `done` must not run inside this call.
        const quint32 serial = ++m_serial;
        QTimer::singleShot(0, this, [this, serial] {
            if (serial == m_serial)
                finish({}, kMissingText);
        });
        return;
    }
    // The portal names the request object after our bus name and the token; listening
    // before the call means an answer that comes at once is not missed.
    // Unique within the bus connection, which every capture window of the process shares:
    // some portal back-ends keep a finished request's object, and a token used again
    // makes them fail.
    const QString token = QStringLiteral("zorvin%1_%2")
                              .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
                              .arg(++m_serial);
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    listenOn(kPath + QStringLiteral("/request/") + sender + u'/' + token);

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Screenshot"));
    const QVariantMap options{{QStringLiteral("handle_token"), token},
                              {QStringLiteral("interactive"), interactive},
                              {QStringLiteral("modal"), interactive}};
    call << QString() << options;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    const quint32 serial = m_serial;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, serial](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (serial == m_serial)
            onCallFinished(w);
    });
    m_timeout.start(interactive ? kInteractiveTimeoutMs : m_timeoutMs);
}

void ScreenshotPortal::onCallFinished(QDBusPendingCallWatcher *call)
{
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    if (reply.isError()) {
        // No portal on the bus, or one without the screenshot interface (it exports it only
        // when the desktop has a back-end for it).
        finish({}, kMissingText);
        return;
    }
    // Older portals choose the request path themselves.
    const QString path = reply.value().path();
    if (path != m_requestPath)
        listenOn(path);
}

void ScreenshotPortal::listenOn(const QString &path)
{
    stopListening();
    m_requestPath = path;
    QDBusConnection::sessionBus().connect(kService, path, kRequestInterface, QStringLiteral("Response"), this,
                                          SLOT(onRequestResponse(uint, QVariantMap)));
}

void ScreenshotPortal::stopListening()
{
    if (m_requestPath.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(kService, m_requestPath, kRequestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(onRequestResponse(uint, QVariantMap)));
    m_requestPath.clear();
}

void ScreenshotPortal::onRequestResponse(uint response, const QVariantMap &results)
{
    if (!m_done)
        return;
    // The user closed the desktop's own picker: nothing to tell.
    if (response == kResponseCancelled && m_interactive) {
        finish({}, QString());
        return;
    }
    // Cancelled (the user said no) or ended otherwise (the permission store denies it).
    if (response != kResponseSuccess) {
        finish({}, kRefusedText);
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    const QString file = uri.toLocalFile();
    QImage picture(file);
    // The file was written for this request only; it is read once and not kept.
    if (!file.isEmpty())
        QFile::remove(file);
    if (picture.isNull()) {
        finish({}, kFailedText);
        return;
    }
    finish(picture, QString());
}

void ScreenshotPortal::finish(const QImage &picture, const QString &failure)
{
    m_timeout.stop();
    stopListening();
    ++m_serial; // a late reply of this request finds a newer serial
    Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(picture, failure);
}
