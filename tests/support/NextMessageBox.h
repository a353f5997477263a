// Answers the next message box that opens while the code under test waits in it.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

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
