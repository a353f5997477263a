#include "ui/ListWindowLayout.h"

#include "ui/Twips.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace {

// The rule's limits, in twips.
constexpr int kMinRuleWidthTwips = 2000;
constexpr int kMinRuleHeightTwips = 800;
// The rule is written for the whole window; its caption and borders take about 280 twips
// of the height, so "window height − 760" is the client height less 480.
constexpr int kListLeftTwips = 60;
constexpr int kListTopTwips = 420;
constexpr int kListHeightLessTwips = 480;
constexpr int kListWidthLessTwips = 120;
constexpr int kButtonFromRightTwips = 1865;
constexpr int kButtonWidthTwips = 1695;
constexpr int kButtonTopTwips = 45;
constexpr int kButtonHeightTwips = 345;

} // namespace

bool LayOutListWindow(const QWidget &window, const ListWindowParts &parts)
{
    const int width = pixelsToTwips(window.width());
    const int height = pixelsToTwips(window.height());
    if (window.isMinimized() || width < kMinRuleWidthTwips || height < kMinRuleHeightTwips)
        return false;
    parts.list->setGeometry(twipsToPixels(kListLeftTwips), twipsToPixels(kListTopTwips),
                            twipsToPixels(width - kListWidthLessTwips),
                            twipsToPixels(height - kListHeightLessTwips));
    parts.ok->setGeometry(twipsToPixels(width - kButtonFromRightTwips), twipsToPixels(kButtonTopTwips),
                          twipsToPixels(kButtonWidthTwips), twipsToPixels(kButtonHeightTwips));
    const QPushButton *leftmost = parts.ok;
    if (parts.beside) {
        const int besideWidth =
            std::max(twipsToPixels(parts.besideWidthTwips), parts.beside->sizeHint().width());
        parts.beside->setGeometry(parts.ok->x() - besideWidth, parts.ok->y(), besideWidth,
                                  parts.ok->height());
        leftmost = parts.beside;
    }
    const int labelHeight = parts.label->sizeHint().height();
    parts.label->setGeometry(twipsToPixels(kListLeftTwips), twipsToPixels(kListTopTwips) - labelHeight - 2,
                             parts.label->sizeHint().width(), labelHeight);
    parts.label->setVisible(parts.label->geometry().right() < leftmost->geometry().left());
    return true;
}
