// A picture pinned to the desktop: a borderless window showing the picture at one of 15
// zoom steps, dragged by the picture, with its own pop-up of file, edit, zoom, stacking,
// send, wallpaper and paint commands. Any number of them; the registry keeps them.
#pragma once

#include "ui/QuitGuard.h"

#include <QImage>
#include <QWidget>

#include <memory>

class Commands;
class ImageFiles;
class ModZorvin;
class NetEngine;
class QAction;
class QMenu;
class WindowRegistry;

class FrmDTopImg : public QWidget, public QuitGuard
{
    Q_OBJECT
  public:
    static const QString kKind;
    static constexpr int kFirstStep = 1;
    static constexpr int kLastStep = 15;
    static constexpr int kRealSizeStep = 4;

    FrmDTopImg(ModZorvin &ctx, NetEngine &engine, Commands &commands, const QImage &picture);
    ~FrmDTopImg() override;

    // Pins a copy of `picture` as a new window of the registry and shows it.
    static FrmDTopImg *Pin(ModZorvin &ctx, NetEngine &engine, Commands &commands, const QImage &picture);
    // Takes every pinned picture off the always-on-top layer and puts back those tagged
    // "top": they come out above every other window again.
    static void Restack(WindowRegistry &windows);

    // Steps 1-8 give step x 0.25, step 9 gives 2.5, steps 10-15 give step - 7.
    static double ZoomFactor(int step);
    // The window's size for a picture at a step: the zoomed picture plus a 1-pixel rim.
    static QSize WindowSizeFor(const QSize &real, int step);

    Concern quitConcern() const override { return DesktopImage; }

    const QImage &picture() const { return m_picture; }
    int zoomStep() const { return m_step; }
    void SetZoom(int step);
    // "top" while the window stays on the always-on-top layer.
    QString tag() const { return m_tag; }
    // "常に手前に表示(&M)": switches this window's layer, then re-stacks all pinned pictures.
    void ToggleTopMost();

    // The pop-up with its state set as it opens; its items carry their menu names.
    QMenu *popupMenu() const { return m_popup; }
    void preparePopup();
    QAction *menuAction(const QString &name) const;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void buildPopup();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption);
    void Save();
    void Print();
    void Copy();
    void Send();
    void Wallpaper(const QString &style);
    void OpenPaintProgram();

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    Commands &m_commands;
    std::unique_ptr<ImageFiles> m_files;
    QImage m_picture; // PicFrame; PicDraw is its zoomed drawing
    int m_step = kRealSizeStep;
    QString m_tag;
    QMenu *m_popup = nullptr;
    QList<QAction *> m_zoomItems; // index = step - 1
    QPoint m_dragOffset;
    bool m_dragging = false;
};
