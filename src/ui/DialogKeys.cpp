#include "ui/DialogKeys.h"

#include <QKeyEvent>
#include <QWidget>

bool DialogKey(const QKeyEvent *event, const QWidget *cancelButton, const std::function<void()> &ok,
               const std::function<void()> &cancel)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if ((enter && cancelButton && cancelButton->window()->focusWidget() == cancelButton) ||
        event->key() == Qt::Key_Escape)
        cancel();
    else if (enter)
        ok();
    else
        return false;
    return true;
}
