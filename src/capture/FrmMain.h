// The capture window: shows the current picture (a capture, an opened or dropped file,
// or a pasted clipboard picture) and carries the capture, file, edit, send and tool
// commands on its toolbar, menu bar and pop-up menu.
#pragma once

#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class CaptureEngine;
class ImageFiles;
class ModZorvin;
class NetEngine;
class QAction;
class QLabel;
class QMenu;
class QMimeData;
class QScrollArea;
class QToolBar;
class ScreenPlatform;

// Doors to windows that other parts of the program own. A command whose door is not set
// stays disabled; the resident window sets the doors as those windows arrive.
struct FrmMainDoors
{
    // The send dialog: kind 0 sends `picture` (tag: its source file or ""), kind 2 sends
    // files (tag: one path, or a folder with "/" followed by NUL-separated names).
    std::function<void(int kind, const QImage &picture, const QString &tag)> LoadSendAddr;
    std::function<void()> LoadSendMsg;
    std::function<void(const QImage &picture)> PrintOutput;
    // style 0 centred, 1 tiled.
    std::function<void(const QImage &picture, int style)> SetWallpaper;
    std::function<void(const QImage &picture)> PasteOnDesktop;
    std::function<void()> OpenAddressBook;
    std::function<void()> OpenOptions;
    std::function<void()> OpenHotkeys;
    std::function<void()> ShowAbout;
    // The area selection: starts the overlay (which freezes the screen and reports the
    // rectangle to CaptureEngine), and closes it after its capture.
    std::function<void()> StartOverlay;
    std::function<void()> CloseOverlay;
};

class FrmMain : public QMainWindow
{
    Q_OBJECT
  public:
    FrmMain(ModZorvin &ctx, NetEngine &engine, const FrmMainDoors &doors = {}, QWidget *parent = nullptr);
    ~FrmMain() override;

    CaptureEngine &capture() const { return *m_capture; }
    ScreenPlatform &platform() const { return *m_platform; }
    ImageFiles &imageFiles() const { return *m_files; }
    FrmMainDoors &doors() { return m_doors; }
    ModZorvin &context() const { return m_ctx; }

    // Capture entries (see CaptureEngine).
    void GetCaptureItem(int mode);
    void CaptHotKey(int index);

    bool HasPicture() const { return m_hasPicture; }
    void setHasPicture(bool has) { m_hasPicture = has; }
    // The picture as Save, Copy, Print and Send take it, and its source file ("" for a
    // capture or a pasted picture).
    const QImage &picture() const { return m_picture; }
    QString pictureTag() const { return m_tag; }

    // Puts a picture into PicDraw with its tag and lays the window out; the status text
    // and HasPicture are the caller's.
    void setPicture(const QImage &picture, const QString &tag);
    // Empties PicDraw (and, when asked, restores the viewport) and lays out again.
    void ClearPicDraw(bool viewportToo);
    void setStatusText(int panel, const QString &text);
    QString statusText(int panel) const;

    // Applies the enabling rules to the toolbar and the menus.
    void SetToolbar();
    // Every clipboard change.
    void ChangeClipBoard();
    bool clipboardHasPicture() const;

    // Commands.
    void OpenCommand();
    void SaveCommand();
    void Copy();
    void Cut();
    void Paste();
    void Clear();
    void PicTran();
    void FileTran();
    void OpenPaintProgram();
    void OpenMessageLog();
    void OpenReceivedFolder();
    void ChooseBackground();
    void DefaultBackground();
    void EditToolbar();
    void ShowHelp();
    void ShowAbout();
    // The follow-ups of a capture.
    void AutoSaveCapture();
    void AutoTranCapture();
    // Loads one file as Open and a single dropped file do; false when it was refused
    // (the notice has been shown).
    bool LoadPictureFile(const QString &path);
    // What a drop onto the picture or the viewport does.
    void DropItems(const QMimeData &data);

    QColor backgroundColor() const;
    void setBackgroundColor(const QColor &color);

    // The toolbar as shown; its buttons keep their position number as data().
    QToolBar *toolBar() const { return m_toolbar; }
    QAction *toolbarAction(const QString &key) const;
    QStringList toolbarLayout() const { return m_toolbarLayout; }
    void applyToolbarLayout(const QStringList &layout);
    // The menu-bar and pop-up command with that object name ("mnuSave", ...).
    QAction *menuAction(const QString &name) const;
    QMenu *popupMenu() const { return m_popup; }
    // The running send jobs as the pop-up's cancel list shows them (slot order, at most
    // 30), and the cancel of the job with that caption.
    QStringList RunningJobCaptions() const;
    void CancelJob(const QString &caption);
    // Applies the enabling rules to the pop-up menu and builds its cancel list.
    void preparePopup();
    QScrollArea *viewport() const { return m_frame; }
    QWidget *picDraw() const { return m_picDraw; }

    // Whether the button at a default position is enabled by the rules.
    bool positionEnabled(int position) const;

  protected:
    void showEvent(QShowEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void buildToolbar();
    void buildMenus();
    void buildPopup();
    QAction *addCommand(QMenu *menu, const QString &name, const QString &caption, void (FrmMain::*slot)());
    QAction *addCommand(QMenu *menu, const QString &name, const QString &caption,
                        std::function<void()> handler);
    void onToolbarTriggered(QAction *action);
    void updateMenus();
    void layoutPicture();
    void notice(const QString &text);

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    FrmMainDoors m_doors;
    std::unique_ptr<ScreenPlatform> m_platform;
    std::unique_ptr<ImageFiles> m_files;
    std::unique_ptr<CaptureEngine> m_capture;

    QToolBar *m_toolbar = nullptr;
    QHash<int, QAction *> m_toolActions; // by default position
    QStringList m_toolbarLayout;
    QHash<QString, QAction *> m_menuActions;
    QHash<QString, QMenu *> m_menus;
    QMenu *m_popup = nullptr;
    QMenu *m_popupCancel = nullptr;
    QScrollArea *m_frame = nullptr; // PicFrame
    QWidget *m_picDraw = nullptr;   // PicDraw
    QLabel *m_panel1 = nullptr;
    QLabel *m_panel2 = nullptr;
    QColor m_background;

    QImage m_picture;
    QString m_tag;
    bool m_hasPicture = false;
    bool m_firstShow = true;
    QString m_lastFileTranDir;
};
