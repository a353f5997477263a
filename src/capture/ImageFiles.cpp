#include "capture/ImageFiles.h"

#include "capture/CaptureMath.h"
#include "core/EngineHost.h"
#include "core/ModZorvin.h"
#include "core/RunningNumber.h"
#include "core/SettingsFile.h"
#include "net/NetEngine.h"
#include "ui/cCommonDlg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

namespace {

const QString kSaveFilter2 =
    QStringLiteral("JPGﾌｧｲﾙ (*.jpg)|*.jpg|BMPﾌｧｲﾙ (*.bmp)|*.bmp|PNGﾌｧｲﾙ (*.png)|*.png|");
const QString kSaveFilter1 = QStringLiteral("JPGﾌｧｲﾙ (*.jpg)|*.jpg|BMPﾌｧｲﾙ (*.bmp)|*.bmp|");
const QString kSaveFilter0 = QStringLiteral("bmpﾌｧｲﾙ (*.bmp)|*.bmp|");
// PNG is added to the picture types, since it can be saved and users expect to reopen it.
const QString kOpenFilter = QStringLiteral(
    "ﾋﾟｸﾁｬｰﾌｧｲﾙ|*.bmp;*.emf;*.ico;*.jpg;*.jpeg;*.png;*.rle;*.wmf|BMPﾌｧｲﾙ(*.bmp)|*.bmp|EMFﾌｧｲﾙ(*.emf)|*.emf|"
    "ICOﾌｧｲﾙ(*.ico)|*.ico|JPGﾌｧｲﾙ(*.jpg;*.jpeg)|*.jpg;*.jpeg|PNGﾌｧｲﾙ(*.png)|*.png|RLEﾌｧｲﾙ(*.rle)|*.rle|"
    "WMFﾌｧｲﾙ(*.wmf)|*.wmf|");

const QString kCannotSave = QStringLiteral("保存出来ません ");
const QString kPathNotFound = QStringLiteral("パスが見つかりません。");
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

// Copies a file so that the target either is a complete copy or is left as it was.
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

ImageFiles::ImageFiles(ModZorvin &ctx, EngineHost &host, NetEngine *engine)
    : m_ctx(ctx), m_host(host), m_engine(engine)
{}

void ImageFiles::setPanel2(const QString &text)
{
    if (m_panel2)
        m_panel2(text);
}

bool ImageFiles::WritePicture(const QImage &picture, const QString &path, int jpegComp, int progJpeg,
                              QString *error)
{
    QString description;
    const QString kind = path.right(3).toUpper();
    QSaveFile file(path);
    if (picture.isNull() || !file.open(QIODevice::WriteOnly)) {
        description = picture.isNull() ? QStringLiteral("画像がありません。") : describeFileError(file, path);
        if (error)
            *error = description;
        return false;
    }
    QImageWriter writer(&file, QByteArray());
    bool written = false;
    if (kind == QLatin1String("JPG")) {
        writer.setFormat("jpeg");
        writer.setQuality(qBound(0, 100 - jpegComp, 100));
        writer.setProgressiveScanWrite(progJpeg == 1);
        written = writer.write(picture);
    } else if (kind == QLatin1String("PNG")) {
        writer.setFormat("png");
        written = writer.write(picture);
    } else {
        // Any other name, ".jpeg" included, is a 24-bit Windows bitmap.
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

QString ImageFiles::SavePictureAs(QWidget *owner, const QImage &picture, const QString &bmpOnlyFilter)
{
    const QString initDir = m_ctx.LastSaveDir.isEmpty() ? m_ctx.ProgramDir : m_ctx.LastSaveDir;
    const QString &filter = m_ctx.ImageLibLevel >= 2   ? kSaveFilter2
                            : m_ctx.ImageLibLevel == 1 ? kSaveFilter1
                            : bmpOnlyFilter.isEmpty()  ? kSaveFilter0
                                                       : bmpOnlyFilter;
    const QString path = CMDFileDialog(2, owner, QStringLiteral("画像の保存"), filter, initDir);
    if (path.isEmpty())
        return {};
    QString error;
    if (!WritePicture(picture, path, m_ctx.settings.JpegComp, m_ctx.settings.ProgJpeg, &error)) {
        // The write went to a temporary file, so the chosen path holds no partial file and
        // whatever was there before is kept.
        m_host.ShowMessageBox(kCannotSave + QLatin1Char('\r') + error, MsgBox::Information);
        return {};
    }
    m_ctx.LastSaveDir = folderOf(path);
    return path;
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
    QString target = folder;
    if (!target.endsWith(QLatin1Char('/')) && !target.endsWith(QLatin1Char('\\')))
        target += QLatin1Char('/');
    return target + baseName + numberText + QLatin1String(extensions[type]);
}

int ImageFiles::runArchiver(const QString &archivePath, const QString &secondPath)
{
    // Without an engine there is no archiver; the caller then takes the BMP fallback.
    constexpr int kNoEngine = -1;
    return m_engine ? m_engine->RunArchiver(archivePath, secondPath, true) : kNoEngine;
}

bool ImageFiles::writeLzh(const QImage &picture, const QString &target, const QString &stem,
                          QString *fallback, QString *error)
{
    const QString work =
        m_ctx.WorkDir.endsWith(QLatin1Char('/')) ? m_ctx.WorkDir : m_ctx.WorkDir + QLatin1Char('/');
    QDir().mkpath(work);
    const QString temporary = work + stem + QStringLiteral(".BMP");
    if (!WritePicture(picture, temporary, 0, 0, error))
        return false;
    const bool existed = QFileInfo::exists(target);
    const int code = runArchiver(target, temporary);
    bool ok = true;
    if (code != 0) {
        // A failed pack must not leave a broken new archive beside the BMP.
        if (!existed)
            QFile::remove(target);
        *fallback = target.left(target.size() - 3) + QStringLiteral("BMP");
        setPanel2(QStringLiteral("LHA保存失敗 C=%1→BMP保存中 ").arg(code) + *fallback);
        ok = copyWhole(temporary, *fallback, error);
        setPanel2(QString());
    }
    QFile::remove(temporary);
    return ok;
}

QString ImageFiles::AutoSaveCapture(const QImage &picture)
{
    const Settings &s = m_ctx.settings;
    if (s.CaptAutoSave != 1 || s.CaptAutoSaveName.isEmpty() || picture.isNull())
        return {};
    const RunningNumber number(SettingsFile(m_ctx.SettingsPath()), RunningNumber::AutoCaptNo,
                               s.CaptAutoSaveNameConst == 1);

    // A folder that does not exist is an error of its own rather than a save into some
    // other folder: the message is shown and the number is not used up.
    const QString folder = s.CaptAutoSavePlace;
    const QString target = AutoSaveTarget(folder, s.CaptAutoSaveName, number.text(), s.CaptAutoSaveType);
    if (target.isEmpty())
        return {};

    QString error;
    QString fallback;
    bool ok = false;
    setPanel2(QStringLiteral("保存中 ") + target);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        error = kPathNotFound;
    } else if (s.CaptAutoSaveType == 1) {
        ok = writeLzh(picture, target, s.CaptAutoSaveName + number.text(), &fallback, &error);
    } else {
        ok = WritePicture(picture, target, s.JpegComp, s.ProgJpeg, &error);
    }
    if (!ok) {
        setPanel2(QStringLiteral("保存失敗"));
        m_host.ShowMessageBox(kCannotSave + QLatin1Char('\r') + error, MsgBox::Information);
        setPanel2(QString());
        return {};
    }
    number.Commit();
    setPanel2(QString());
    return fallback.isEmpty() ? target : fallback;
}
