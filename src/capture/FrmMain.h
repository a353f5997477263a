// The capture window: shows the current picture (a capture, an opened or dropped file,
// or a pasted clipboard picture) and carries the capture, file, edit, send and tool
// commands on its toolbar, menu bar and pop-up menu.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <memory>

class CaptureArrival;
class CaptureEngine;
class CaptureWindowMenus;
class Commands;
class EngineHost;
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
struct SelectionHooks;

class FrmMain : public QMainWindow
{
    Q_OBJECT
  public:
    // The toolbar, menu bar and pop-up carry the actions of `commands`.
    FrmMain(ModZorvin &ctx, NetEngine &engine, Commands &commands, QWidget *parent = nullptr);
    ~FrmMain() override;

    CaptureEngine &capture() const { return *m_capture; }
    // What the window does with the engine's pictures; it tells what their follow-ups did.
    CaptureArrival &captureArrival() const { return *m_arrival; }
    ScreenPlatform &platform() const { return *m_platform; }
    ImageFiles &imageFiles() const { return *m_files; }
    // The engine's area selection.
    SelectionHooks &selectionHooks();
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
    // The name Save proposes: the source file's name without its extension, else the time
    // the picture came ("20240521-093015").
    QString ProposedSaveName() const;

    // Puts a picture into PicDraw with its tag and lays the window out; the status text
    // and HasPicture are the caller's.
    void setPicture(const QImage &picture, const QString &tag);
    // Empties PicDraw (and, when asked, restores the viewport) and lays out again.
    void ClearPicDraw(bool viewportToo);
    void setStatusText(int panel, const QString &text);
    QString statusText(int panel) const;
    // A notice beside the two panels (a click capture waiting for its click); "" hides it.
    void setStatusNotice(const QString &text);
    QString statusNotice() const;
    // An OK box through the engine's host, for what the user must see even with this
    // window hidden.
    void notice(const QString &text);

    // Applies the enabling rules to the commands and this window's sub-menus.
    void SetToolbar();
    // Every clipboard change.
    void ChangeClipBoard();

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
    void ChooseBackground();
    void DefaultBackground();
    void EditToolbar();
    void ShowHelp();
    // Loads one file as Open and a single dropped file do; false when it was refused
    // (the notice has been shown).
    bool LoadPictureFile(const QString &path);
    // What a drop onto the picture or the viewport does.
    void DropItems(const QMimeData &data);

    QColor backgroundColor() const;
    void setBackgroundColor(const QColor &color);

    // The toolbar as shown; the button of `key` while the layout shows it, else null.
    QToolBar *toolBar() const { return m_toolbar; }
    QAction *toolbarAction(const QString &key) const;
    QStringList toolbarLayout() const { return m_toolbarLayout; }
    void applyToolbarLayout(const QStringList &layout);
    // The menu-bar and pop-up command of that name ("mnuSave", ...).
    QAction *menuAction(const QString &name) const;
    QMenu *popupMenu() const;
    // The running send jobs as the pop-up's cancel list shows them (slot order, at most
    // 30), and the cancel of the job with that caption.
    QStringList RunningJobCaptions() const;
    void CancelJob(const QString &caption);
    // Applies the enabling rules to the pop-up menu and builds its cancel list.
    void preparePopup();
    QScrollArea *viewport() const { return m_frame; }
    QWidget *picDraw() const { return m_picDraw; }

  protected:
    void showEvent(QShowEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    void buildToolbar();
    void layoutPicture();

    ModZorvin &m_ctx;
    NetEngine &m_engine;
    Commands &m_commands;
    std::unique_ptr<ScreenPlatform> m_platform;
    std::unique_ptr<ImageFiles> m_files;
    std::unique_ptr<CaptureEngine> m_capture;
    CaptureArrival *m_arrival = nullptr;

    QToolBar *m_toolbar = nullptr;
    QStringList m_toolbarLayout;
    CaptureWindowMenus *m_menus = nullptr;
    QScrollArea *m_frame = nullptr; // PicFrame
    QWidget *m_picDraw = nullptr;   // PicDraw
    QLabel *m_panel1 = nullptr;
    QLabel *m_panel2 = nullptr;
    QLabel *m_notice = nullptr;
    QColor m_background;

    QImage m_picture;
    QString m_tag;
    QDateTime m_pictureTime;
    bool m_hasPicture = false;
    bool m_firstShow = true;
    QString m_lastFileTranDir;
};

// The capture window while it is loaded; the second loads it (hidden) when it was closed.
FrmMain *captureWindow(const Commands &commands);
FrmMain *loadCaptureWindow(Commands &commands);
