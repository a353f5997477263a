// A window's control found by its object name; null (with a warning that names it) when the
// window or the control is not there, so that a renamed control fails the test that uses it.
#pragma once

#include <QDebug>
#include <QWidget>

template <class W> W *child(QWidget *window, const QString &name)
{
    W *w = window ? window->findChild<W *>(name) : nullptr;
    if (!w)
        qWarning() << "no child" << name;
    return w;
}
