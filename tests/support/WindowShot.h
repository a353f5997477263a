// Pictures of windows for a person to look at later: saved only when ZORVIN_SHOTS names a
// folder, so that a run without it writes nothing.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

inline void shoot(QWidget *window, const QString &name)
{
    const QString folder = qEnvironmentVariable("ZORVIN_SHOTS");
    if (!folder.isEmpty())
        window->grab().save(folder + u'/' + name + QStringLiteral(".png"));
}
