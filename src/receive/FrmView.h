// The received-image viewer: one window per arrived picture, shown at once, face down
// (optionally behind the lock password) or not at all, with the picture commands of the
// capture window on its own menus, toolbar and pop-up. It owns the received file and
// deletes it when it closes.
#pragma once

#include "net/ArrivedImage.h"
#include "ui/QuitGuard.h"

#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <QTimer>

class PicDrawWidget;
class QAction;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolBar;
class ReceiveWindows;

class FrmView : public QMainWindow, public QuitGuard
{
    Q_OBJECT
  public:
    // Shows `picture`, read from the file of `image` at once when it is null (the file may
    // be deleted right after); the window stays hidden until LoadRecvPic.
    FrmView(ReceiveWindows &services, const ArrivedImage &image, const QImage &picture = QImage());
    // The picture in the file at `path`, judged by its content; null when it is none we
    // can read.
    static QImage ReadPicture(const QString &path);
    ~FrmView() override;

    // Shows the picture by display kind (0 at once, 1 face down, 2 face down and locked,
    // 9 not at all: closed after the hidden lifetime), then saves it automatically when the
    // settings ask for it and `autoSave` (false: it was saved when it arrived).
    void LoadRecvPic(int displayKind, bool autoSave = true);
    // "開く" / "開く（パスワードロック）": opens a face-down picture (after the password
    // check for a locked one) and sends the open receipt when the sender asked for it.
    void CmdOpenClick();

    // Commands.
    void Save();
    void Print();
    void PicTran();
    void Cut();
    void Copy();
    void Paste();
    void Wallpaper(const QString &style);
    void PinToDesktop();
    void OpenPaintProgram();
    void PosSave();
    void ChooseBackground();
    void DefaultBackground();

    // The viewer's own command of that name ("mnuSave", "PosSave", ...), null if unknown.
    QAction *action(const QString &name) const;
    QMenu *popupMenu() const { return m_popup; }
    QToolBar *toolBar() const { return m_toolbar; }
    QPushButton *openButton() const { return m_cmdOpen; }
    QLineEdit *hideText(int index) const; // 0 TxtHideMsg, 1 TxtHideTIme, 2 TxtHideFrom
    QScrollArea *frame() const { return m_frame; }

    const QImage &picture() const { return m_picture; }
    // The received file while it is linked (PicDraw's tag); "" after a paste.
    QString pictureTag() const { return m_tag; }
    const ArrivedImage &arrival() const { return m_image; }
    // True while a face-down picture is still closed.
    bool isFaceDown() const;
    bool isFlashing() const { return m_flashing; }
    QColor backgroundColor() const;
    // Applies the enabling rules to the viewer's commands.
    void refreshCommands();

    Concern quitConcern() const override { return isFaceDown() ? UnopenedImage : None; }

  signals:
    // The picture has been painted for the first time.
    void pictureShown();
    // A face-down picture was opened (after its receipt went out, if any).
    void opened();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    QAction *addCommand(const char *name, const QString &caption, const char *toolbarKey,
                        void (FrmView::*method)());
    void buildCommands();
    void buildMenus();
    void buildToolbar();
    void buildHiddenPage();
    void setPicture(const QImage &picture, const QString &tag);
    void showPictureParts(bool on);
    void layoutHiddenPage();
    void layoutPicture();
    void setFlashing(bool on);
    void openNow();
    void onPicDrawPainted();

    ReceiveWindows &m_services;
    ArrivedImage m_image;
    QImage m_picture;
    QString m_tag;
    int m_displayKind = 0;
    int m_paints = 0;
    bool m_loaded = false;
    bool m_flashing = false;
    bool m_shownOnce = false;
    bool m_checking = false;

    QHash<QString, QAction *> m_actions;
    QList<QMenu *> m_menus; // File, Edit, Tool, View
    QMenu *m_popup = nullptr;
    QToolBar *m_toolbar = nullptr;
    QStackedWidget *m_pages = nullptr;
    QScrollArea *m_frame = nullptr;
    PicDrawWidget *m_picDraw = nullptr;
    QWidget *m_hiddenPage = nullptr;
    QLineEdit *m_txtHideMsg = nullptr;
    QLineEdit *m_txtHideTime = nullptr;
    QLineEdit *m_txtHideFrom = nullptr;
    QPushButton *m_cmdOpen = nullptr;
    QTimer m_timer1;
};
