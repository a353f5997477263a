// The keys of a dialog built on a plain window (its buttons are not a QDialog's).
#pragma once

#include <functional>

class QKeyEvent;
class QWidget;

// Return and Enter are OK, or cancel while `cancelButton` (may be null) has the focus;
// Escape cancels. False for any other key, which the window handles as usual.
bool DialogKey(const QKeyEvent *event, const QWidget *cancelButton, const std::function<void()> &ok,
               const std::function<void()> &cancel);
