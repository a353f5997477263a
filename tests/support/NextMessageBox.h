// Answers the next message box that opens while the code under test waits in it.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <memory>

// Runs `act` on the next visible message box, polling until one opens.
inline void onNextBox(std::function<void(QMessageBox *)> act)
{
    QTimer::singleShot(10, qApp, [act] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                act(box);
                return;
            }
        }
        onNextBox(act);
    });
}

// As onNextBox, for a box that may not come: the polling ends once `*stop` is set.
inline void onNextBoxUnless(std::shared_ptr<bool> stop, std::function<void(QMessageBox *)> act)
{
    QTimer::singleShot(10, qApp, [stop, act] {
        if (*stop)
            return;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                act(box);
                return;
            }
        }
        onNextBoxUnless(stop, act);
    });
}
