// Opens, raises, finds and closes the program's windows, and is the one place that deletes
// them: a closed window goes only once no handler that may still use it is running.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <vector>

class QWidget;

// Window kinds, named after the windows. The kinds the command table opens are here; the
// others sit with their windows.
namespace WindowKind {
inline constexpr QLatin1String Capture("FrmMain");
inline constexpr QLatin1String About("FrmAbout");
inline constexpr QLatin1String NetDiag("FrmNetDiag");
} // namespace WindowKind

class WindowRegistry : public QObject
{
    Q_OBJECT
  public:
    using Factory = std::function<QWidget *()>;

    explicit WindowRegistry(QObject *parent = nullptr);
    // Deletes every window still there: by then no handler of theirs can be running.
    ~WindowRegistry() override;

    // How the single window of `kind` is made (hidden). Set once, when that window's part
    // of the program is there; load() and open() give null for a kind without a factory.
    void setFactory(const QString &kind, Factory factory);
    bool hasFactory(const QString &kind) const;

    // The one window of `kind`, made (hidden) when there is none; Esc closes it where
    // nothing in it uses the key, and it stays inside the screen's available area (see
    // CloseOnEscape, KeepOnScreen). Null once the quit began.
    QWidget *load(const QString &kind);
    template <class W> W *load(const QString &kind) { return qobject_cast<W *>(load(kind)); }
    // As load(), then shown, raised and activated: opening a second time raises the first.
    QWidget *open(const QString &kind);

    // A window made elsewhere, one of many of its kind (message windows by id, viewers,
    // pinned pictures). Added after the quit began, it is closed at once.
    void add(const QString &kind, const QString &key, QWidget *window);

    // The first open window of `kind` with `key` (any key when `key` is null).
    QWidget *find(const QString &kind, const QString &key = QString()) const;
    template <class W> W *find(const QString &kind, const QString &key = QString()) const
    {
        return qobject_cast<W *>(find(kind, key));
    }
    // Every open window of `kind`, in the order they were opened.
    QList<QWidget *> windows(const QString &kind) const;

    // Windows of `kind` (of many: messages, viewers, pinned pictures) hold nothing the quit
    // must hand back: at quit they are hidden and deleted together, without their close
    // handling, so that thousands of them go at once.
    void setClosedInBulk(const QString &kind);

    // The quit: hides the windows closed in bulk, closes every other window, the last
    // opened first, then every other top-level window but `except` (message boxes and
    // dialogs whose caller still waits in them; they are closed so that their loops end,
    // never deleted). Nothing opens afterwards.
    void closeAll(const QWidget *except);
    bool isClosing() const { return m_closing; }

    // True while a modal question or a menu runs its own loop: a window closed then may
    // still have a handler waiting below that loop, and goes only once that loop has
    // returned and no other is running.
    static bool nestedLoopRunning();

  signals:
    // A window was loaded or added, or one was closed or destroyed. A null key with
    // windowRemoved: every window of that kind went at once (the quit).
    void windowAdded(const QString &kind, const QString &key, QWidget *window);
    void windowRemoved(const QString &kind, const QString &key);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    struct Entry
    {
        QString kind;
        QString key;
        QPointer<QWidget> window;
    };
    struct Released
    {
        QPointer<QWidget> window;
        // The loop level of the nested loop running when it closed; -1 when there was none.
        int nestedLevel;
    };
    void track(const QString &kind, const QString &key, QWidget *window);
    bool isTracked(const QWidget *window) const;
    void forget(QWidget *window);
    // A closed window: forgotten now, deleted once that is safe.
    void release(QWidget *window);
    void deleteReleased();

    QHash<QString, Factory> m_factories;
    QSet<QString> m_bulkKinds;
    std::vector<Entry> m_entries; // in opening order
    std::vector<Released> m_released;
    QMetaObject::Connection m_idleWatch;
    bool m_closing = false;
};
