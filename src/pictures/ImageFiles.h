// Every way a picture reaches or leaves a file: the Save and Open commands, loading a
// dropped file, and the automatic save after a capture. Shared by the capture window,
// the received-image viewer and the desktop image window.
#pragma once

#include "base/RunningNumber.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class EngineHost;
class ModZorvin;
struct Settings;
class NetEngine;
class QWidget;

// The notice for a file the program cannot show.
inline constexpr char kUnsupportedFormat[] = "未サポートのファイル形式です。";

class ImageFiles : public QObject
{
    Q_OBJECT
  public:
    // `engine` may be null (no archiver: the LZH type then falls back to BMP).
    ImageFiles(ModZorvin &ctx, EngineHost &host, NetEngine *engine = nullptr, QObject *parent = nullptr);

    // Receives the texts of status bar panel 2 ("保存中 ...", "" to clear).
    void setStatusPanel(std::function<void(const QString &)> panel2) { m_panel2 = std::move(panel2); }

    // What a Save command writes.
    enum class SaveType { Bmp, Jpeg, Png, Lzh, Source };
    // The type a name's extension names: .bmp, .jpg, .jpeg, .png, .lzh in any case.
    static std::optional<SaveType> TypeOfName(const QString &path);

    // The Save command: asks for a path ("画像の保存") starting in the last save folder,
    // proposing `proposedName`, and writes the type the name's extension names, or for any
    // other name the type chosen in the dialog (a name typed without an extension gets that
    // type's), so the bytes always agree with the name. LZH, offered while the archiver is
    // ready, is the bitmap packed on the archiver's thread: the result is then the archive's
    // path while it is being written, and a failure is told when it ends. Returns the
    // written path, or "" when cancelled or failed (the error message has then been shown and
    // no file is left behind). `bmpOnlyFilter` replaces the filter offered when only bitmaps
    // can be written (the viewers spell it differently).
    QString SavePictureAs(QWidget *owner, const QImage &picture, const QString &bmpOnlyFilter = QString(),
                          const QString &proposedName = QString());

    // The received-image viewer's Save: the same dialog and types, plus the received file's
    // own type when it is none of BMP, JPG and PNG. When the chosen name's extension is the
    // extension of `sourceFile` (the received file, "" once it is gone), or that type is
    // chosen for a name of no known type, the file is copied byte for byte; if that copy
    // fails the picture is written as a bitmap with the extension "BMP". Returns the written
    // path or "" (cancelled, or failed and told).
    QString SaveReceivedPictureAs(QWidget *owner, const QImage &picture, const QString &sourceFile);

    // The Open command's dialog ("画像を開く"); returns the chosen path or "". The caller
    // loads it with LoadPictureFile and calls NoteOpened on success.
    QString OpenPictureFile(QWidget *owner);
    void NoteOpened(const QString &path);

    struct Loaded
    {
        QImage image; // null when refused or unreadable
        bool refusedGif = false;
        bool notPicture = false; // the reader did not recognise it (offered for transfer on drop)
        QString statusText;      // "640*480 ﾋﾟｸﾁｬｰﾌｧｲﾙ" on success
    };
    // Reads one file for the capture window. A GIF (by content) and an unreadable file
    // give a null image; the caller shows kUnsupportedFormat. Nothing is shown here.
    static Loaded LoadPictureFile(const QString &path);

    // "gif" when the file's first bytes are "GIF" in any case, otherwise "".
    static QString DetectGifFile(const QString &path);

    // Writes by the last three characters of the path in upper case: "JPG" JPEG with
    // quality 100 − jpegComp (progressive when progJpeg is 1), "PNG" PNG, anything else a
    // 24-bit Windows bitmap. Writes to a temporary file beside the target and renames it,
    // so a failure never leaves a partial file; *error receives the description.
    static bool WritePicture(const QImage &picture, const QString &path, int jpegComp, int progJpeg,
                             QString *error = nullptr);
    // The same for a given type (BMP, JPEG or PNG), whatever the name.
    static bool WritePicture(const QImage &picture, const QString &path, SaveType type, int jpegComp,
                             int progJpeg, QString *error = nullptr);

    // Copies a file so that `to` is either a complete copy or left as it was (a temporary
    // file beside it is renamed over it); *error receives the description.
    static bool CopyWhole(const QString &from, const QString &to, QString *error);

    // After each capture, when CaptAutoSave is 1: base name + five-digit running number +
    // type extension in CaptAutoSavePlace. Returns the written path or "" (nothing to do
    // or failed; a failure has shown the error message and left no file). An empty
    // picture (a window capture that found no window) is not saved and uses no number.
    // A CaptAutoSavePlace that is not an existing folder is a failure ("パスが見つかりません。").
    // The LZH type packs on the archiver's thread: the result is then the archive's path
    // while it is being written, and autoSaveFinished tells where the picture went. A
    // capture that comes meanwhile waits and is saved after it (result "").
    QString AutoSaveCapture(const QImage &picture);

    // What one automatic save writes: folder + baseName + number + suffix + the type's
    // extension (type 0 BMP, 1 LZH, 2 JPG, 3 PNG), numbered by `counter` unless fixedName.
    struct AutoSaveRule
    {
        QString folder;
        QString baseName;
        QString suffix;
        int type = 0;
        RunningNumber::Counter counter = RunningNumber::AutoCaptNo;
        bool fixedName = false;
    };
    // The rule of a received picture from `machineName`, or nothing when RecvAutoSave is off
    // or has no folder. The machine name comes from the network: characters that would
    // lead out of the folder become "_".
    static std::optional<AutoSaveRule> ReceiveRule(const Settings &settings, const QString &machineName);
    // A received picture's automatic save; results and order as AutoSaveCapture.
    QString AutoSaveReceived(const QImage &picture, const QString &machineName);

    // Automatic saves not ended yet (an archive being written, captures waiting for it);
    // each ends with its autoSaveFinished, in order.
    int pendingAutoSaves() const { return (m_lzh ? 1 : 0) + int(m_waiting.size()); }

    // The auto-save target: folder + "/" (unless present) + name + number + extension
    // for the type 0 ".BMP", 1 ".LZH", 2 ".JPG", 3 ".PNG"; "" for any other type.
    static QString AutoSaveTarget(const QString &folder, const QString &baseName, const QString &numberText,
                                  int type);

  signals:
    // An automatic save ended: the file written (for the LZH type the archive, or the
    // bitmap it fell back to), or "" when it failed.
    void autoSaveFinished(const QString &path);

  private:
    // An LZH save whose archive the archiver is writing.
    struct LzhSave
    {
        int id = 0;
        QString target;
        QString temporary; // the bitmap in the work folder that goes into the archive
        QString archive;   // the archive in the work folder, copied whole to the target
        RunningNumber number;
    };
    struct Waiting
    {
        QImage picture;
        AutoSaveRule rule;
    };
    // An LZH file of the Save command: the bitmap and its archive in a folder of their own
    // inside the work folder; id 0 until the archiver takes it.
    struct SaveAsLzh
    {
        int id = 0;
        QString target;
        QString folder;
        QString bitmap;
        QString archive;
    };
    void setPanel2(const QString &text);
    QString chooseSavePath(QWidget *owner, const QString &filter, const QString &proposedName,
                           int *chosenType = nullptr);
    bool lzhAvailable() const;
    // The Save command's filter and its types in the same order.
    QString saveFilter(const QString &bmpOnlyFilter, QList<SaveType> *types) const;
    bool writeSaveAs(const QImage &picture, const QString &path, SaveType type, QString *error);
    bool startSaveAsLzh(const QImage &picture, const QString &target, QString *error);
    void startPendingSaveAs();
    void finishSaveAsLzh(const SaveAsLzh &save, int code);
    QString autoSave(const QImage &picture, const AutoSaveRule &rule);
    QString saveNow(const QImage &picture, const AutoSaveRule &rule);
    QString startLzh(const QImage &picture, const QString &target, const QString &stem,
                     const RunningNumber &number);
    QString finishLzh(const LzhSave &save, int code);
    void onArchiverFinished(int id, int result);
    QString autoSaveDone(const QString &path, const RunningNumber &number);
    // A warning naming `path`, the file the save was for.
    void autoSaveFailed(const QString &error, const QString &path);

    ModZorvin &m_ctx;
    EngineHost &m_host;
    NetEngine *m_engine;
    std::function<void(const QString &)> m_panel2;
    std::optional<LzhSave> m_lzh;
    // Pictures that came while an archive was written, saved in order after it.
    QList<Waiting> m_waiting;
    // LZH files of the Save command, in order; the first may be with the archiver.
    QList<SaveAsLzh> m_saveAsLzh;
};
