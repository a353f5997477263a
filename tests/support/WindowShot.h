// Pictures of windows for a person to look at later: saved only when ZORVIN_SHOTS names a
// folder, so that a run without it writes nothing.
#pragma once

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QWidget>

inline void shoot(QWidget *window, const QString &name)
{
    const QString folder = qEnvironmentVariable("ZORVIN_SHOTS");
    if (!folder.isEmpty())
        window->grab().save(folder + u'/' + name + QStringLiteral(".png"));
}

// What the screen shows in `area`, window frames and menus included.
inline void shootScreen(const QString &name, const QRect &area)
{
    const QString folder = qEnvironmentVariable("ZORVIN_SHOTS");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(folder + u'/' + name + QStringLiteral(".png"));
}
