// Sets a bitmap file as the desktop wallpaper the way the running desktop expects it:
// GNOME and its relatives through their background settings, KDE Plasma through its
// scripting interface, Xfce through its settings channel, and on a plain window manager by
// painting the root window and publishing the pixmap as X wallpaper setters do. The
// desktops' tools run one after the other without blocking the caller's thread.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

class WallpaperSetter : public QObject
{
    Q_OBJECT
  public:
    enum class Style { Centred, Tiled };
    struct Result
    {
        bool ok = false;
        QString backEnd; // "gnome", "mate", "cinnamon", "plasma", "xfce", "x11-root"
        QString error;
    };
    // How long one desktop tool may take before it counts as failed.
    static constexpr int kToolTimeoutMs = 10000;

    // Starts setting the wallpaper for the desktop from XDG_CURRENT_DESKTOP (and the
    // session's own variables); an unknown one or none goes to the root window. finished
    // comes once, from the event loop, never from within start(); the setter then deletes
    // itself. Deleting it earlier (with `parent`) stops a running tool.
    static WallpaperSetter *start(const QString &bmpFile, Style style, QObject *parent);

    // The root-window back-end alone (a plain window manager); X requests only, no tool.
    static Result SetRootPixmap(const QString &bmpFile, Style style);

  signals:
    void finished(const WallpaperSetter::Result &result);

  private:
    // One tool run; `optional` ones may fail without failing the whole; `then` reads the
    // tool's output and may queue further steps.
    struct Step
    {
        QString program;
        QStringList arguments;
        bool optional = false;
        std::function<void(WallpaperSetter &, const QByteArray &output)> then;
    };

    explicit WallpaperSetter(QObject *parent);
    void planFor(const QString &file, Style style);
    void planGsettings(const QString &name, const QString &schema, const QString &pictureKey, bool uri,
                       const QString &file, Style style);
    void planPlasma(const QString &file, Style style);
    void planXfce(const QString &file, Style style);
    void runNext();
    void onToolFinished(int exitCode, QProcess::ExitStatus status);
    void onToolError(QProcess::ProcessError error);
    void stepFailed(const QString &why);
    void finish();

    QList<Step> m_steps;
    Step m_current;
    QProcess m_process;
    QTimer m_timeout;
    Result m_result;
    bool m_timedOut = false;
    bool m_done = false;
};
