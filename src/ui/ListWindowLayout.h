// The layout rule of the report-list windows (send results, received items): the list
// fills the window below a row of buttons at its right edge, and the heading label gives
// way when the buttons would cover it.
#pragma once

class QLabel;
class QPushButton;
class QWidget;

struct ListWindowParts
{
    QWidget *list;
    QLabel *label;
    QPushButton *ok;               // at the right edge
    QPushButton *beside = nullptr; // left of `ok`, when the window has a second button
    int besideWidthTwips = 0;      // its width (at least its text's)
};

// Applies the rule to `window` unless it is minimised or smaller than 2000 by 800 twips;
// false when it did not.
bool LayOutListWindow(const QWidget &window, const ListWindowParts &parts);
