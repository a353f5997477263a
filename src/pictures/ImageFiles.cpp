#include "pictures/ImageFiles.h"

#include "net/EngineHost.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "base/SettingsFile.h"
#include "net/NetEngine.h"
#include "net/UnlhaLibrary.h"
#include "ui/cCommonDlg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QTemporaryDir>

namespace {

const QString kSaveFilter2 =
    QStringLiteral("JPGﾌｧｲﾙ (*.jpg)|*.jpg|BMPﾌｧｲﾙ (*.bmp)|*.bmp|PNGﾌｧｲﾙ (*.png)|*.png|");
const QString kSaveFilter1 = QStringLiteral("JPGﾌｧｲﾙ (*.jpg)|*.jpg|BMPﾌｧｲﾙ (*.bmp)|*.bmp|");
const QString kSaveFilter0 = QStringLiteral("bmpﾌｧｲﾙ (*.bmp)|*.bmp|");
// The capture can be kept as an LZH archive of its bitmap, as the automatic save does.
const QString kLzhFilter = QStringLiteral("LZHﾌｧｲﾙ (*.lzh)|*.lzh|");
// PNG is added to the picture types, since it can be saved and users expect to reopen it.
const QString kOpenFilter = QStringLiteral(
    "ﾋﾟｸﾁｬｰﾌｧｲﾙ|*.bmp;*.emf;*.ico;*.jpg;*.jpeg;*.png;*.rle;*.wmf|BMPﾌｧｲﾙ(*.bmp)|*.bmp|EMFﾌｧｲﾙ(*.emf)|*.emf|"
    "ICOﾌｧｲﾙ(*.ico)|*.ico|JPGﾌｧｲﾙ(*.jpg;*.jpeg)|*.jpg;*.jpeg|PNGﾌｧｲﾙ(*.png)|*.png|RLEﾌｧｲﾙ(*.rle)|*.rle|"
    "WMFﾌｧｲﾙ(*.wmf)|*.wmf|");

const QString kCannotSave = QStringLiteral("保存出来ません ");
const QString kPathNotFound = QStringLiteral("パスが見つかりません。");

// A failed save says which file (or, when the folder is missing, which folder) it was.
QString cannotSaveText(const QString &error, const QString &path, const QString &head = kCannotSave)
{
    const QString shown = error == kPathNotFound ? QFileInfo(path).absolutePath() : path;
    return head + QLatin1Char('\r') + error + QLatin1Char('\r') + QDir::toNativeSeparators(shown);
}
const QString kCannotWrite = QStringLiteral("書き込みできません。");
const QString kDiskWrite = QStringLiteral("ディスクに書き込めません。");

// The readers the capture window accepts, decided by content. GIF is refused before this,
// and metafiles have no reader here.
bool acceptedFormat(const QByteArray &format)
{
    return format == "bmp" || format == "ico" || format == "jpeg" || format == "jpg" || format == "png";
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath() + QLatin1Char('/');
}

QString describeFileError(const QFileDevice &file, const QString &path)
{
    switch (file.error()) {
    case QFileDevice::OpenError:
        return QFileInfo(QFileInfo(path).absolutePath()).isDir() ? kCannotWrite : kPathNotFound;
    case QFileDevice::WriteError:
    case QFileDevice::ResizeError:
        return kDiskWrite;
    default:
        return file.errorString();
    }
}

bool copyWhole(const QString &from, const QString &to, QString *error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = describeFileError(source, from);
        return false;
    }
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        *error = describeFileError(target, to);
        return false;
    }
    while (!source.atEnd()) {
        const QByteArray block = source.read(1 << 20);
        if (block.isEmpty() || target.write(block) != block.size()) {
            *error = kDiskWrite;
            target.cancelWriting();
            return false;
        }
    }
    if (!target.commit()) {
        *error = describeFileError(target, to);
        return false;
    }
    return true;
}

} // namespace

bool ImageFiles::CopyWhole(const QString &from, const QString &to, QString *error)
{
    QString ignored;
    return copyWhole(from, to, error ? error : &ignored);
}

ImageFiles::ImageFiles(ModZorvin &ctx, EngineHost &host, NetEngine *engine, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_host(host), m_engine(engine)
{
    // Queued: the save's end may ask a question, which must not hold up the other
    // receivers of the archiver's signal.
    if (m_engine)
        connect(&m_engine->archiver(), &ArchiverQueue::finished, this, &ImageFiles::onArchiverFinished,
                Qt::QueuedConnection);
}

void ImageFiles::setPanel2(const QString &text)
{
    if (m_panel2)
        m_panel2(text);
}

std::optional<ImageFiles::SaveType> ImageFiles::TypeOfName(const QString &path)
{
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("bmp"))
        return SaveType::Bmp;
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg"))
        return SaveType::Jpeg;
    if (extension == QLatin1String("png"))
        return SaveType::Png;
    if (extension == QLatin1String("lzh"))
        return SaveType::Lzh;
    return std::nullopt;
}

bool ImageFiles::WritePicture(const QImage &picture, const QString &path, int jpegComp, int progJpeg,
                              QString *error)
{
    const QString kind = path.right(3).toUpper();
    const SaveType type = kind == QLatin1String("JPG")   ? SaveType::Jpeg
                          : kind == QLatin1String("PNG") ? SaveType::Png
                                                         : SaveType::Bmp;
    return WritePicture(picture, path, type, jpegComp, progJpeg, error);
}

bool ImageFiles::WritePicture(const QImage &picture, const QString &path, SaveType type, int jpegComp,
                              int progJpeg, QString *error)
{
    QString description;
    QSaveFile file(path);
    if (picture.isNull() || !file.open(QIODevice::WriteOnly)) {
        description = picture.isNull() ? QStringLiteral("画像がありません。") : describeFileError(file, path);
        if (error)
            *error = description;
        return false;
    }
    QImageWriter writer(&file, QByteArray());
    bool written = false;
    if (type == SaveType::Jpeg) {
        writer.setFormat("jpeg");
        writer.setQuality(qBound(0, 100 - jpegComp, 100));
        writer.setProgressiveScanWrite(progJpeg == 1);
        written = writer.write(picture);
    } else if (type == SaveType::Png) {
        writer.setFormat("png");
        written = writer.write(picture);
    } else {
        // A 24-bit Windows bitmap.
        writer.setFormat("bmp");
        written = writer.write(picture.format() == QImage::Format_RGB32
                                   ? picture
                                   : picture.convertToFormat(QImage::Format_RGB32));
    }
    if (!written) {
        description =
            file.error() != QFileDevice::NoError ? describeFileError(file, path) : writer.errorString();
        file.cancelWriting();
    } else if (!file.commit()) {
        description = describeFileError(file, path);
        written = false;
    }
    if (!written && error)
        *error = description;
    return written;
}

QString ImageFiles::chooseSavePath(QWidget *owner, const QString &filter, const QString &proposedName,
                                   int *chosenType)
{
    const QString initDir = m_ctx.LastSaveDir.isEmpty() ? m_ctx.ProgramDir : m_ctx.LastSaveDir;
    return CMDFileDialog(2, owner, QStringLiteral("画像の保存"), filter, initDir, proposedName, chosenType);
}

bool ImageFiles::lzhAvailable() const
{
    return m_engine && m_ctx.ArchiverReady;
}

QString ImageFiles::saveFilter(const QString &bmpOnlyFilter, QList<SaveType> *types) const
{
    QString filter;
    if (m_ctx.ImageLibLevel >= 2) {
        filter = kSaveFilter2;
        *types = {SaveType::Jpeg, SaveType::Bmp, SaveType::Png};
    } else if (m_ctx.ImageLibLevel == 1) {
        filter = kSaveFilter1;
        *types = {SaveType::Jpeg, SaveType::Bmp};
    } else {
        filter = bmpOnlyFilter.isEmpty() ? kSaveFilter0 : bmpOnlyFilter;
        *types = {SaveType::Bmp};
    }
    if (lzhAvailable()) {
        filter += kLzhFilter;
        *types << SaveType::Lzh;
    }
    return filter;
}

QString ImageFiles::SavePictureAs(QWidget *owner, const QImage &picture, const QString &bmpOnlyFilter,
                                  const QString &proposedName)
{
    QList<SaveType> types;
    const QString filter = saveFilter(bmpOnlyFilter, &types);
    int chosen = 0;
    const QString path = chooseSavePath(owner, filter, proposedName, &chosen);
    if (path.isEmpty())
        return {};
    const SaveType type = TypeOfName(path).value_or(types.value(chosen - 1, SaveType::Bmp));
    QString error;
    if (!writeSaveAs(picture, path, type, &error)) {
        // The write went to a temporary file, so the chosen path holds no partial file and
        // whatever was there before is kept.
        m_host.ShowMessageBox(cannotSaveText(error, path), MsgBox::Exclamation);
        return {};
    }
    if (type != SaveType::Lzh)
        m_ctx.LastSaveDir = folderOf(path);
    return path;
}

bool ImageFiles::writeSaveAs(const QImage &picture, const QString &path, SaveType type, QString *error)
{
    if (type == SaveType::Lzh)
        return startSaveAsLzh(picture, path, error);
    return WritePicture(picture, path, type, m_ctx.settings.JpegComp, m_ctx.settings.ProgJpeg, error);
}

// The bitmap, named as the archive, is packed in a folder of its own in the work folder;
// the archive then replaces the target in one step, as the automatic save does.
bool ImageFiles::startSaveAsLzh(const QImage &picture, const QString &target, QString *error)
{
    if (!lzhAvailable()) {
        *error = QStringLiteral("LZHファイルを作成できません（アーカイバがありません）。");
        return false;
    }
    QDir().mkpath(m_ctx.WorkDir);
    QTemporaryDir folder(m_ctx.WorkDir + QStringLiteral("saveXXXXXX"));
    if (!folder.isValid()) {
        *error = kCannotWrite;
        return false;
    }
    folder.setAutoRemove(false);
    SaveAsLzh save{0, target, folder.path(),
                   folder.path() + u'/' + QFileInfo(target).completeBaseName() + QStringLiteral(".BMP"),
                   folder.path() + QStringLiteral("/SAVE.LZH")};
    if (!WritePicture(picture, save.bitmap, SaveType::Bmp, 0, 0, error)) {
        QDir(save.folder).removeRecursively();
        return false;
    }
    m_saveAsLzh.append(save);
    startPendingSaveAs();
    return true;
}

void ImageFiles::startPendingSaveAs()
{
    while (!m_saveAsLzh.isEmpty() && m_saveAsLzh.constFirst().id == 0) {
        SaveAsLzh &next = m_saveAsLzh.first();
        const ArchiverTicket ticket = m_engine->RunArchiver(next.archive, next.bitmap, true);
        if (ticket.started()) {
            next.id = ticket.id;
            return;
        }
        // Another command (a transfer's packing) has the archiver: this one starts when
        // that one has finished.
        if (ticket.result == UnlhaLibrary::kBusy)
            return;
        finishSaveAsLzh(m_saveAsLzh.takeFirst(), ticket.result);
    }
}

void ImageFiles::finishSaveAsLzh(const SaveAsLzh &save, int code)
{
    QString error;
    const bool ok = code == 0 && copyWhole(save.archive, save.target, &error);
    QDir(save.folder).removeRecursively();
    if (ok) {
        m_ctx.LastSaveDir = folderOf(save.target);
        return;
    }
    if (code != 0)
        error = QStringLiteral("LHA保存失敗 C=%1").arg(code);
    m_host.ShowMessageBox(kCannotSave + QLatin1Char('\r') + error, MsgBox::Information);
}

QString ImageFiles::SaveReceivedPictureAs(QWidget *owner, const QImage &picture, const QString &sourceFile)
{
    const QString sourceType =
        QFileInfo(sourceFile).isFile() ? QFileInfo(sourceFile).suffix().toUpper() : QString();
    QList<SaveType> types;
    QString filter = saveFilter(QStringLiteral("BMPﾌｧｲﾙ (*.bmp)|*.bmp|"), &types);
    if (!sourceType.isEmpty() && sourceType != QLatin1String("BMP") && sourceType != QLatin1String("JPG") &&
        sourceType != QLatin1String("PNG")) {
        filter += sourceType + QStringLiteral("ﾌｧｲﾙ(*.") + sourceType + QStringLiteral(")|*.") + sourceType +
                  QLatin1Char('|');
        types << SaveType::Source;
    }
    int chosen = 0;
    const QString path = chooseSavePath(owner, filter, QFileInfo(sourceFile).completeBaseName(), &chosen);
    if (path.isEmpty())
        return {};
    QString error;
    QString written = path;
    bool ok = false;
    const bool sameAsSource = !sourceType.isEmpty() && QFileInfo(path).suffix().toUpper() == sourceType;
    const SaveType type = sameAsSource ? SaveType::Source
                                       : TypeOfName(path).value_or(types.value(chosen - 1, SaveType::Bmp));
    if (type == SaveType::Source) {
        ok = copyWhole(sourceFile, path, &error);
        if (!ok) {
            written = path.left(path.size() - QFileInfo(path).suffix().size()) + QStringLiteral("BMP");
            ok = WritePicture(picture, written, 0, 0, &error);
        }
    } else {
        ok = writeSaveAs(picture, path, type, &error);
    }
    if (!ok) {
        // Every write goes through a temporary file: nothing partial is left to delete.
        m_host.ShowMessageBox(cannotSaveText(error, written, QStringLiteral("保存出来ません。")),
                              MsgBox::Exclamation);
        return {};
    }
    if (type != SaveType::Lzh)
        m_ctx.LastSaveDir = folderOf(path);
    return written;
}

QString ImageFiles::OpenPictureFile(QWidget *owner)
{
    const QString initDir = m_ctx.LastOpenDir.isEmpty() ? m_ctx.ProgramDir : m_ctx.LastOpenDir;
    return CMDFileDialog(0, owner, QStringLiteral("画像を開く"), kOpenFilter, initDir);
}

void ImageFiles::NoteOpened(const QString &path)
{
    m_ctx.LastOpenDir = folderOf(path);
}

QString ImageFiles::DetectGifFile(const QString &path)
{
    QFile file(path);
    if (file.size() == 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(10);
    if (head.size() < 3)
        return {};
    const auto is = [&](int i, char c) { return head[i] == c || head[i] == char(c - 'A' + 'a'); };
    return is(0, 'G') && is(1, 'I') && is(2, 'F') ? QStringLiteral("gif") : QString();
}

ImageFiles::Loaded ImageFiles::LoadPictureFile(const QString &path)
{
    Loaded result;
    if (DetectGifFile(path) == QLatin1String("gif")) {
        result.refusedGif = true;
        return result;
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!acceptedFormat(reader.format())) {
        result.notPicture = true;
        return result;
    }
    result.image = reader.read();
    if (result.image.isNull()) {
        result.notPicture = true;
        return result;
    }
    result.statusText =
        QStringLiteral("%1*%2 ﾋﾟｸﾁｬｰﾌｧｲﾙ").arg(result.image.width()).arg(result.image.height());
    return result;
}

QString ImageFiles::AutoSaveTarget(const QString &folder, const QString &baseName, const QString &numberText,
                                   int type)
{
    static const char *const extensions[] = {".BMP", ".LZH", ".JPG", ".PNG"};
    if (type < 0 || type > 3)
        return {};
    return FolderPath::join(folder, baseName + numberText + QLatin1String(extensions[type]));
}

QString ImageFiles::AutoSaveCapture(const QImage &picture)
{
    const Settings &s = m_ctx.settings;
    if (s.CaptAutoSave != 1 || s.CaptAutoSaveName.isEmpty())
        return {};
    return autoSave(picture, {s.CaptAutoSavePlace, s.CaptAutoSaveName, QString(), s.CaptAutoSaveType,
                              RunningNumber::AutoCaptNo, s.CaptAutoSaveNameConst == 1});
}

std::optional<ImageFiles::AutoSaveRule> ImageFiles::ReceiveRule(const Settings &s, const QString &machineName)
{
    if (s.RecvAutoSave != 1 || s.RecvAutoSavePlace.isEmpty())
        return std::nullopt;
    QString machine = machineName.section(QChar(0), 0, 0);
    for (QChar &c : machine) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            c = QLatin1Char('_');
    }
    return AutoSaveRule{s.RecvAutoSavePlace,
                        s.RecvAutoSaveName,
                        machine.isEmpty() ? QString() : QLatin1Char('-') + machine,
                        s.RecvAutoSaveType,
                        RunningNumber::AutoRecvNo,
                        s.RecvAutoSaveNameConst == 1};
}

QString ImageFiles::AutoSaveReceived(const QImage &picture, const QString &machineName)
{
    const std::optional<AutoSaveRule> rule = ReceiveRule(m_ctx.settings, machineName);
    return rule ? autoSave(picture, *rule) : QString();
}

QString ImageFiles::autoSave(const QImage &picture, const AutoSaveRule &rule)
{
    if (picture.isNull())
        return {};
    // The running number of an archive still being written is not stored yet: a picture
    // that comes meanwhile is saved after it, under the next number.
    if (m_lzh || !m_waiting.isEmpty()) {
        m_waiting.append({picture, rule});
        return {};
    }
    return saveNow(picture, rule);
}

QString ImageFiles::saveNow(const QImage &picture, const AutoSaveRule &rule)
{
    const RunningNumber number(SettingsFile(m_ctx.SettingsPath()), rule.counter, rule.fixedName);

    // A folder that does not exist is an error of its own rather than a save into some
    // other folder: the message is shown and the number is not used up.
    const QString stem = rule.baseName + number.text() + rule.suffix;
    const QString target = AutoSaveTarget(rule.folder, stem, QString(), rule.type);
    if (target.isEmpty())
        return {};

    QString error;
    setPanel2(QStringLiteral("保存中 ") + target);
    if (rule.folder.isEmpty() || !QFileInfo(rule.folder).isDir())
        error = kPathNotFound;
    else if (rule.type == 1)
        return startLzh(picture, target, stem, number);
    else if (WritePicture(picture, target, m_ctx.settings.JpegComp, m_ctx.settings.ProgJpeg, &error))
        return autoSaveDone(target, number);
    autoSaveFailed(error, target);
    return {};
}

// The bitmap goes into the work folder first; the archiver packs it into an archive there,
// which replaces the target in one step, so the target is never a half-written archive.
QString ImageFiles::startLzh(const QImage &picture, const QString &target, const QString &stem,
                             const RunningNumber &number)
{
    QDir().mkpath(m_ctx.WorkDir);
    LzhSave save{0, target, m_ctx.WorkDir + stem + QStringLiteral(".BMP"),
                 m_ctx.WorkDir + stem + QStringLiteral(".LZH"), number};
    QFile::remove(save.archive);
    QString error;
    if (!WritePicture(picture, save.temporary, 0, 0, &error)) {
        autoSaveFailed(error, target);
        return {};
    }
    // Without an engine there is no archiver; the save then takes the BMP fallback.
    constexpr int kNoEngine = -1;
    const ArchiverTicket ticket =
        m_engine ? m_engine->RunArchiver(save.archive, save.temporary, true) : ArchiverTicket{0, kNoEngine};
    if (!ticket.started())
        return finishLzh(save, ticket.result);
    save.id = ticket.id;
    m_lzh = save;
    return target;
}

// Any archiver result but 0 (busy included) keeps the picture as a bitmap under the
// target's name with "BMP" for its last three characters.
QString ImageFiles::finishLzh(const LzhSave &save, int code)
{
    QString written = save.target;
    QString error;
    bool ok = code == 0 && copyWhole(save.archive, save.target, &error);
    if (!ok) {
        written = save.target.left(save.target.size() - 3) + QStringLiteral("BMP");
        setPanel2(QStringLiteral("LHA保存失敗 C=%1→BMP保存中 ").arg(code) + written);
        ok = copyWhole(save.temporary, written, &error);
        setPanel2(QString());
    }
    QFile::remove(save.temporary);
    QFile::remove(save.archive);
    if (!ok) {
        autoSaveFailed(error, written);
        return {};
    }
    return autoSaveDone(written, save.number);
}

void ImageFiles::onArchiverFinished(int id, int result)
{
    if (!m_saveAsLzh.isEmpty() && m_saveAsLzh.constFirst().id == id)
        finishSaveAsLzh(m_saveAsLzh.takeFirst(), result);
    if (m_lzh && m_lzh->id == id) {
        const LzhSave save = *std::exchange(m_lzh, std::nullopt);
        finishLzh(save, result);
        while (!m_lzh && !m_waiting.isEmpty()) {
            const Waiting next = m_waiting.takeFirst();
            saveNow(next.picture, next.rule);
        }
    }
    // Whichever command ended, the archiver is free for the next file of the Save command.
    startPendingSaveAs();
}

QString ImageFiles::autoSaveDone(const QString &path, const RunningNumber &number)
{
    number.Commit();
    setPanel2(QString());
    emit autoSaveFinished(path);
    return path;
}

void ImageFiles::autoSaveFailed(const QString &error, const QString &path)
{
    setPanel2(QStringLiteral("保存失敗"));
    m_host.ShowMessageBox(cannotSaveText(error, path), MsgBox::Exclamation);
    setPanel2(QString());
    emit autoSaveFinished(QString());
}
