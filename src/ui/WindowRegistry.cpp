#include "ui/WindowRegistry.h"

#include "ui/ScreenFit.h"
#include "ui/WindowKeys.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <utility>

WindowRegistry::WindowRegistry(QObject *parent) : QObject(parent) {}

WindowRegistry::~WindowRegistry()
{
    QObject::disconnect(m_idleWatch);
    const std::vector<Entry> entries = std::exchange(m_entries, {});
    for (const Entry &entry : entries)
        delete entry.window.data();
    const std::vector<Released> released = std::exchange(m_released, {});
    for (const Released &closed : released)
        delete closed.window.data();
}

void WindowRegistry::setFactory(const QString &kind, Factory factory)
{
    m_factories.emplace(kind, std::move(factory));
}

void WindowRegistry::setClosedInBulk(const QString &kind)
{
    m_bulkKinds.insert(kind);
}

bool WindowRegistry::hasFactory(const QString &kind) const
{
    return bool(m_factories.value(kind));
}

QWidget *WindowRegistry::load(const QString &kind)
{
    if (m_closing)
        return nullptr;
    if (QWidget *window = find(kind))
        return window;
    const Factory factory = m_factories.value(kind);
    QWidget *window = factory ? factory() : nullptr;
    if (window) {
        track(kind, QString(), window);
        CloseOnEscape(window);
        KeepOnScreen(window);
    }
    return window;
}

QWidget *WindowRegistry::open(const QString &kind)
{
    QWidget *window = load(kind);
    if (!window)
        return nullptr;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void WindowRegistry::add(const QString &kind, const QString &key, QWidget *window)
{
    if (!window)
        return;
    track(kind, key, window);
    if (m_closing)
        window->close();
}

QWidget *WindowRegistry::find(const QString &kind, const QString &key) const
{
    for (const Entry &entry : m_entries) {
        if (entry.window && entry.kind == kind && (key.isNull() || entry.key == key))
            return entry.window;
    }
    return nullptr;
}

QList<QWidget *> WindowRegistry::windows(const QString &kind) const
{
    QList<QWidget *> found;
    for (const Entry &entry : m_entries) {
        if (entry.window && entry.kind == kind)
            found << entry.window;
    }
    return found;
}

void WindowRegistry::track(const QString &kind, const QString &key, QWidget *window)
{
    // Closing hands the window to release(): it must not delete itself on the way.
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this, window] { forget(window); });
    m_entries.push_back({kind, key, window});
    emit windowAdded(kind, key, window);
}

void WindowRegistry::forget(QWidget *window)
{
    // From `destroyed` the guarded pointer may already be null.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->window && it->window.data() != window) {
            ++it;
            continue;
        }
        const QString kind = it->kind;
        const QString key = it->key;
        it = m_entries.erase(it);
        emit windowRemoved(kind, key);
    }
}

bool WindowRegistry::isTracked(const QWidget *window) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [window](const Entry &entry) { return entry.window == window; });
}

bool WindowRegistry::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Close)
        return false;
    auto *window = qobject_cast<QWidget *>(watched);
    if (!window || !isTracked(window))
        return false;
    // The window answers the close itself; only then is it known whether it goes.
    static_cast<QObject *>(window)->event(event);
    if (event->isAccepted())
        release(window);
    return true;
}

void WindowRegistry::release(QWidget *window)
{
    window->removeEventFilter(this);
    forget(window);
    // A modal window shown without a loop of its own is still the active modal widget while
    // it closes; its own modality keeps nothing waiting.
    const bool nested = QApplication::activePopupWidget() ||
                        (QApplication::activeModalWidget() && QApplication::activeModalWidget() != window);
    m_released.push_back({window, nested ? QThread::currentThread()->loopLevel() : -1});
    deleteReleased();
}

bool WindowRegistry::nestedLoopRunning()
{
    // Every loop the program nests is a modal question (message box, dialog) or a menu's;
    // while one is up, the code that opened it still waits below it.
    return QApplication::activeModalWidget() || QApplication::activePopupWidget();
}

void WindowRegistry::deleteReleased()
{
    const int level = QThread::currentThread()->loopLevel();
    const bool nested = nestedLoopRunning();
    bool waiting = false;
    for (auto it = m_released.begin(); it != m_released.end();) {
        // Closed inside a nested loop: the code that waits in that loop still uses the
        // window when the loop returns.
        if (it->window && it->nestedLevel >= 0 && (level >= it->nestedLevel || nested)) {
            waiting = true;
            ++it;
            continue;
        }
        // deleteLater, never delete: the handler that closed it (or the one that now lets
        // events run) is still on its way out.
        if (it->window)
            it->window->deleteLater();
        it = m_released.erase(it);
    }
    // Looked at again each time the event loop wakes, until the nested loops are gone.
    if (waiting && !m_idleWatch) {
        m_idleWatch = connect(QAbstractEventDispatcher::instance(thread()), &QAbstractEventDispatcher::awake,
                              this, &WindowRegistry::deleteReleased);
    } else if (!waiting && m_idleWatch) {
        QObject::disconnect(m_idleWatch);
        m_idleWatch = {};
    }
}

void WindowRegistry::closeAll(const QWidget *except)
{
    m_closing = true;
    // Closing a window one by one makes the toolkit look through every top-level window
    // each time: with thousands open that took minutes. These are hidden and handed over
    // together; nothing of theirs waits for a close.
    const bool nested = QApplication::activePopupWidget() || QApplication::activeModalWidget();
    const int level = nested ? QThread::currentThread()->loopLevel() : -1;
    std::vector<Entry> kept;
    std::vector<Entry> bulk;
    for (Entry &entry : m_entries)
        (entry.window && m_bulkKinds.contains(entry.kind) ? bulk : kept).push_back(std::move(entry));
    m_entries = std::move(kept);
    for (auto it = bulk.rbegin(); it != bulk.rend(); ++it) {
        QWidget *window = it->window;
        if (!window)
            continue;
        window->removeEventFilter(this);
        window->hide();
        m_released.push_back({window, level});
    }
    // One notice per kind: every listener looking again at the windows once per window
    // cost more than the windows themselves.
    QSet<QString> bulkKinds;
    for (const Entry &entry : bulk)
        bulkKinds.insert(entry.kind);
    for (const QString &kind : std::as_const(bulkKinds))
        emit windowRemoved(kind, QString());
    while (!m_entries.empty()) {
        const QPointer<QWidget> window = m_entries.back().window;
        if (!window) {
            m_entries.pop_back();
            continue;
        }
        window->close();
        // A window that refuses to close goes at quit all the same.
        if (window && isTracked(window)) {
            window->hide();
            release(window);
        }
    }
    deleteReleased();
    QSet<const QWidget *> released;
    for (const Released &closed : m_released)
        released.insert(closed.window.data());
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window == except || !window->isVisible() || released.contains(window))
            continue;
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->close();
    }
}
