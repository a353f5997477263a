// A row of raised tabs drawn on an ordinary widget (the picture box), keeping track of the
// selected tab. It owns no window: the owner passes the box's mouse, key and focus events
// in, reads SelectedIndex afterwards to show the matching sheet, and places its sheets in
// the client rectangle.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVector>

class QPainter;
class QWidget;

class cTabStrip : public QObject
{
    Q_OBJECT
  public:
    explicit cTabStrip(QObject *parent = nullptr);

    // The box the strip draws on; set once. It loses its frame and draws through the strip.
    void setPicture(QWidget *picture);
    QWidget *Picture() const { return m_picture; }

    void Add(const QString &caption);
    int Count() const { return int(m_tabs.size()); }

    void GotFocus();
    void LostFocus();
    // Key codes: 37 Left, 39 Right; other keys are ignored.
    void KeyDown(int keyCode, int shift);
    // Button 1 is the left button; x and y are pixels inside the box.
    void MouseDown(int button, int shift, int x, int y);

    // Where the sheets go, in twips of the box's parent.
    int ClientLeft() const;
    int ClientTop() const;
    int ClientWidth() const;
    int ClientHeight() const;

    int SelectedIndex() const { return m_selectedIndex; }
    // An index of Count or more is ignored.
    void setSelectedIndex(int index);

    // A tab's rectangle in pixels of the box (left, top, width, height as added).
    QRect tabRect(int index) const;
    QString caption(int index) const { return m_tabs.value(index).caption; }
    // The pixel height of the tab row's text ("|") in the box's font.
    int textHeight() const;
    // Full redraws asked for so far; a click on the selected tab asks for none.
    int redrawCount() const { return m_redraws; }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    struct Tab
    {
        QString caption;
        int left = 0;
        int top = 0;
        int width = 0;
        int height = 0;
    };
    void Redraw();
    void paint(QPainter &p) const;
    void paintFocusMarks(QPainter &p) const;

    QPointer<QWidget> m_picture;
    QVector<Tab> m_tabs;
    int m_selectedIndex = 0;
    bool m_focusMarks = false;
    int m_redraws = 0;
};
