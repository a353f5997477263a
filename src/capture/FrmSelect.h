// The area selection: the frozen screen shown over the whole screen on the always-on-top
// layer, where the user drags the rectangle that the capture engine then captures.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <functional>

class CaptureEngine;
class FrmMain;
class QMenu;
class WindowRegistry;

class FrmSelect : public QWidget
{
    Q_OBJECT
  public:
    // The registry kind of the overlay window.
    static const QString kKind;

    // `frozen` is the screen in device pixels as it was when the command came.
    FrmSelect(CaptureEngine &engine, const QImage &frozen);
    ~FrmSelect() override;

    // Sets the capture window's selection hooks: the overlay opens as a window of the registry
    // and is closed through it. `overlayClosed` runs after every close (the pinned pictures
    // are re-stacked above the others then).
    static void attach(FrmMain &window, WindowRegistry &windows, std::function<void()> overlayClosed);

    bool dragging() const { return m_dragging; }
    // The rubber band's rectangle in screen pixels while dragging: the area the capture takes.
    QRect band() const;
    // The size shown beside the pointer, "280 x 210": the size the capture will have.
    QString sizeLabel() const;
    QMenu *popupMenu() const { return m_popup; }

    // mnuCaptCan, Esc.
    void Cancel();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    // The pointer in screen pixels (the overlay covers the screen from its corner), so that
    // a scaled screen still maps 1:1 to the captured pixels.
    QPoint screenPos(const QMouseEvent *event) const;

    CaptureEngine &m_engine;
    QImage m_frozen;
    QMenu *m_popup = nullptr;
    bool m_dragging = false;
    bool m_released = false;
    QPoint m_start; // SelX1, SelY1
    QPoint m_current;
    std::function<void()> m_onClosed;
    bool m_closed = false;
};
