#include "ui/cTabStrip.h"

#include "ui/Twips.h"

#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QPainter>
#include <QWidget>

namespace {

constexpr int kKeyLeft = 37;
constexpr int kKeyRight = 39;

} // namespace

cTabStrip::cTabStrip(QObject *parent) : QObject(parent) {}

void cTabStrip::setPicture(QWidget *picture)
{
    if (m_picture || !picture)
        return;
    m_picture = picture;
    if (auto *frame = qobject_cast<QFrame *>(picture))
        frame->setFrameShape(QFrame::NoFrame);
    // The strip paints every pixel of the box itself.
    picture->setAttribute(Qt::WA_OpaquePaintEvent);
    picture->installEventFilter(this);
    Redraw();
}

int cTabStrip::textHeight() const
{
    return m_picture ? QFontMetrics(m_picture->font()).boundingRect(QStringLiteral("|")).height() : 0;
}

void cTabStrip::Add(const QString &caption)
{
    Tab tab;
    tab.caption = caption;
    tab.left = m_tabs.isEmpty() ? 2 : m_tabs.last().left + m_tabs.last().width + 1;
    tab.top = 2;
    // The width follows the caption in the box's font, so half- and full-width captions of
    // the same length give different tabs.
    const QFontMetrics metrics(m_picture ? m_picture->font() : QFont());
    tab.width = metrics.horizontalAdvance(caption) + 16;
    tab.height = textHeight() + 5;
    m_tabs.append(tab);
    Redraw();
}

QRect cTabStrip::tabRect(int index) const
{
    if (index < 0 || index >= m_tabs.size())
        return QRect();
    const Tab &t = m_tabs[index];
    return QRect(t.left, t.top, t.width, t.height);
}

void cTabStrip::setSelectedIndex(int index)
{
    if (index < 0 || index >= Count())
        return;
    m_selectedIndex = index;
    Redraw();
    GotFocus();
}

void cTabStrip::GotFocus()
{
    m_focusMarks = true;
    if (m_picture)
        m_picture->update(tabRect(m_selectedIndex));
}

void cTabStrip::LostFocus()
{
    m_focusMarks = false;
    if (m_picture)
        m_picture->update(tabRect(m_selectedIndex));
}

void cTabStrip::KeyDown(int keyCode, int /*shift*/)
{
    int next = m_selectedIndex;
    if (keyCode == kKeyLeft && m_selectedIndex > 0)
        --next;
    else if (keyCode == kKeyRight && m_selectedIndex < Count() - 1)
        ++next;
    if (next == m_selectedIndex)
        return;
    m_selectedIndex = next;
    Redraw();
    GotFocus();
}

void cTabStrip::MouseDown(int button, int /*shift*/, int x, int y)
{
    if (button != 1)
        return;
    for (int i = 0; i < Count(); ++i) {
        const Tab &t = m_tabs[i];
        if (x >= t.left && x <= t.left + t.width && y >= t.top && y <= t.top + t.height) {
            if (i == m_selectedIndex)
                return;
            m_selectedIndex = i;
            break;
        }
    }
    // Also after a click on no tab (below the row): the strip is drawn afresh.
    Redraw();
    GotFocus();
}

int cTabStrip::ClientLeft() const
{
    return m_picture ? pixelsToTwips(m_picture->x() + 1) : 0;
}

int cTabStrip::ClientTop() const
{
    return m_picture ? pixelsToTwips(m_picture->y() + textHeight() + 9) : 0;
}

int cTabStrip::ClientWidth() const
{
    return m_picture ? pixelsToTwips(m_picture->contentsRect().width() - 3) : 0;
}

int cTabStrip::ClientHeight() const
{
    return m_picture ? pixelsToTwips(m_picture->height() - (textHeight() + 11)) : 0;
}

void cTabStrip::Redraw()
{
    ++m_redraws;
    if (m_picture)
        m_picture->update();
}

bool cTabStrip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_picture && event->type() == QEvent::Paint) {
        QPainter p(m_picture);
        paint(p);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void cTabStrip::paint(QPainter &p) const
{
    const QPalette &pal = m_picture->palette();
    const QColor highlight = pal.color(QPalette::Light);
    const QColor shadow = pal.color(QPalette::Mid);
    const QColor darkShadow = pal.color(QPalette::Dark);
    const QColor text = pal.color(QPalette::ButtonText);
    const int w = m_picture->width();
    const int h = m_picture->height();
    p.fillRect(0, 0, w, h, pal.color(QPalette::Button));
    p.setFont(m_picture->font());
    const auto line = [&p](const QColor &c, int x1, int y1, int x2, int y2) {
        p.setPen(c);
        p.drawLine(x1, y1, x2, y2);
    };
    const QFontMetrics metrics(m_picture->font());
    const auto caption = [&](const Tab &t, int y) {
        p.setPen(text);
        p.drawText(t.left + 8, y + metrics.ascent(), t.caption);
    };

    const int rowBottom = m_tabs.isEmpty() ? textHeight() + 7 : m_tabs.first().top + m_tabs.first().height;
    int selLeft = -1, selRight = -1;
    for (int i = 0; i < Count(); ++i) {
        const Tab &t = m_tabs[i];
        const int right = t.left + t.width;
        if (i == m_selectedIndex) {
            // Raised: two pixels further left and up than the others, bottom open to the body.
            const int l = t.left - 2, top = t.top - 2;
            line(highlight, l, rowBottom, l, top + 2);
            line(highlight, l + 1, top + 1, l + 1, top + 1);
            line(highlight, l + 2, top, right - 2, top);
            line(darkShadow, right, top + 2, right, rowBottom);
            line(darkShadow, right - 1, top + 1, right - 1, top + 1);
            line(shadow, right - 1, top + 2, right - 1, rowBottom);
            caption(t, 3);
            selLeft = l;
            selRight = right;
            continue;
        }
        // The tab right after the selected one has its left edge behind the selected tab.
        if (i != m_selectedIndex + 1) {
            line(highlight, t.left, rowBottom, t.left, t.top + 2);
            line(highlight, t.left + 1, t.top + 1, t.left + 1, t.top + 1);
        }
        line(highlight, t.left + 2, t.top, right - 2, t.top);
        line(darkShadow, right, t.top + 2, right, rowBottom);
        line(darkShadow, right - 1, t.top + 1, right - 1, t.top + 1);
        line(shadow, right - 1, t.top + 2, right - 1, rowBottom);
        caption(t, 5);
    }

    // The body: its top edge runs along the tab row, open under the selected tab.
    if (selLeft >= 0) {
        if (selLeft > 0)
            line(highlight, 0, rowBottom, selLeft, rowBottom);
        line(highlight, selRight + 1, rowBottom, w - 1, rowBottom);
    } else {
        line(highlight, 0, rowBottom, w - 1, rowBottom);
    }
    line(highlight, 0, selLeft == 0 ? rowBottom + 1 : rowBottom, 0, h - 1);
    line(darkShadow, 0, h - 1, w - 1, h - 1);
    line(darkShadow, w - 1, h - 1, w - 1, rowBottom);
    line(shadow, 1, h - 2, w - 2, h - 2);
    line(shadow, w - 2, h - 2, w - 2, rowBottom + 1);

    if (m_focusMarks && m_picture->hasFocus())
        paintFocusMarks(p);
}

void cTabStrip::paintFocusMarks(QPainter &p) const
{
    const QRect r = tabRect(m_selectedIndex);
    if (r.isNull())
        return;
    p.setPen(m_picture->palette().color(QPalette::ButtonText));
    const int left = r.x() + 2, right = r.x() + r.width() - 2;
    const int top = r.y(), bottom = r.y() + r.height() - 2;
    for (int x = left; x <= right; x += 2) {
        p.drawPoint(x, top);
        p.drawPoint(x, bottom);
    }
    for (int y = top; y <= bottom; y += 2) {
        p.drawPoint(left, y);
        p.drawPoint(right, y);
    }
}
