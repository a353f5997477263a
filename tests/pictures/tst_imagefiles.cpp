// Image files on real files in temporary folders: the writers by the name's last three
// characters, loading by content, GIF refusal, the Save command through its real dialog,
// and the automatic save with its running number, folder errors and the LZH type.
#include "pictures/ImageFiles.h"
#include "support/FileBytes.h"
#include "support/RecordingHost.h"
#include "base/ModZorvin.h"
#include "net/NetEngine.h"
#include "net/UnlhaLibrary.h"
#include "support/RunArchiver.h"
#include "support/TestPort.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// A picture with distinct quadrants and a gradient, so that orientation, channel order
// and scaling faults all show.
QImage testPicture(const QSize &size = QSize(64, 48))
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(
                x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), (x < 32) == (y < 24) ? 200 : 30));
    return image;
}

// The first value of the first quantisation table of a JPEG file (-1 when absent).
int firstQuantValue(const QByteArray &jpeg)
{
    const int at = jpeg.indexOf(QByteArray("\xFF\xDB", 2));
    return at < 0 || at + 5 >= jpeg.size() ? -1 : int(uchar(jpeg[at + 5]));
}

int maxChannelDifference(const QImage &a, const QImage &b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

double meanChannelDifference(const QImage &a, const QImage &b)
{
    qint64 total = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            total +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return double(total) / (3.0 * a.width() * a.height());
}

// Fills the visible file dialog's name field with `path` and accepts it.
void answerFileDialog(const QString &path)
{
    QTimer::singleShot(0, qApp, [path] {
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

} // namespace

class TstImageFiles : public QObject
{
    Q_OBJECT
  private slots:
    void init();

    void writersFollowTheLastThreeCharacters_data();
    void writersFollowTheLastThreeCharacters();
    void jpegQualityAndProgressiveFollowTheSettings();
    void loadingDecidesByContent();
    void gifIsRefusedWhateverItsName();
    void failedWriteLeavesNoFileAndKeepsTheOldOne();
    void saveCommandWritesTheChosenFileAndRemembersItsFolder();
    void saveCommandFailureShowsTheMessage();
    void saveAddsTheChosenTypesExtension_data();
    void saveAddsTheChosenTypesExtension();

    void autoSaveTargets();
    void autoSaveNumbersFilesAndWrapsAfter99999();
    void autoSaveWithConstantNameOverwritesAndStoresZero();
    void autoSaveIntoMissingFolderFailsWithoutUsingANumber();
    void autoSaveLzhUnpacksToTheBitmap();
    void autoSaveLzhFallsBackToBmp();

  private:
    QString iniText() const { return QString::fromLatin1(fileBytesOrEmpty(m_ctx.SettingsPath())); }

    std::unique_ptr<QTemporaryDir> m_dir;
    ModZorvin m_ctx;
    RecordingHost m_host;
};

void TstImageFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ctx = ModZorvin();
    m_ctx.ProgramDir = m_dir->path() + QStringLiteral("/prog/");
    QVERIFY(QDir().mkpath(m_ctx.ProgramDir));
    m_ctx.MakeTempFolders(m_dir->path() + QStringLiteral("/tmp"));
    m_ctx.ImageLibLevel = 2;
    m_ctx.net.port = TestPort::port();
    m_host = RecordingHost();
}

void TstImageFiles::writersFollowTheLastThreeCharacters_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<bool>("lossless");
    QTest::newRow("bmp") << "a.bmp" << QByteArray("BM") << true;
    QTest::newRow("png") << "a.png" << QByteArray("\x89PNG") << true;
    QTest::newRow("upper-case PNG") << "a.PNG" << QByteArray("\x89PNG") << true;
    QTest::newRow("jpg") << "a.jpg" << QByteArray("\xFF\xD8\xFF") << false;
    // Only the last three characters count: "PEG" is not "JPG", so this is a bitmap.
    QTest::newRow("jpeg is a bitmap") << "a.jpeg" << QByteArray("BM") << true;
    QTest::newRow("no extension") << "picture" << QByteArray("BM") << true;
}

void TstImageFiles::writersFollowTheLastThreeCharacters()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, magic);
    QFETCH(bool, lossless);
    const QString path = m_dir->filePath(name);
    const QImage picture = testPicture();
    QString error;
    QVERIFY2(ImageFiles::WritePicture(picture, path, 10, 0, &error), qPrintable(error));
    const QByteArray bytes = fileBytesOrEmpty(path);
    QVERIFY(bytes.startsWith(magic));
    if (magic == "BM") {
        // A 24-bit bitmap: bits per pixel at offset 28, no compression at 30, and rows of
        // 64 * 3 bytes, so the file is 54 + 48 * 192 bytes long.
        QCOMPARE(uchar(bytes[28]), uchar(24));
        QCOMPARE(uchar(bytes[30]), uchar(0));
        QCOMPARE(bytes.size(), 54 + 48 * 192);
    }
    const ImageFiles::Loaded loaded = ImageFiles::LoadPictureFile(path);
    QVERIFY(!loaded.image.isNull());
    QCOMPARE(loaded.image.size(), picture.size());
    QCOMPARE(loaded.statusText, QStringLiteral("64*48 ﾋﾟｸﾁｬｰﾌｧｲﾙ"));
    if (lossless)
        QCOMPARE(maxChannelDifference(loaded.image, picture), 0);
    else
        QVERIFY(meanChannelDifference(loaded.image, picture) < 3.0);
}

void TstImageFiles::jpegQualityAndProgressiveFollowTheSettings()
{
    // libjpeg scales the standard luminance table (first value 16) by quality: 90 gives
    // 3, 75 gives 8. JpegComp is the compression, so quality = 100 - JpegComp.
    const QImage picture = testPicture();
    const QString a = m_dir->filePath(QStringLiteral("q.jpg"));
    QVERIFY(ImageFiles::WritePicture(picture, a, 10, 0));
    QCOMPARE(firstQuantValue(fileBytesOrEmpty(a)), 3);
    QVERIFY(ImageFiles::WritePicture(picture, a, 25, 0));
    QCOMPARE(firstQuantValue(fileBytesOrEmpty(a)), 8);

    // Baseline frames start with SOF0 (FFC0), progressive ones with SOF2 (FFC2).
    QVERIFY(fileBytesOrEmpty(a).contains(QByteArray("\xFF\xC0", 2)));
    QVERIFY(!fileBytesOrEmpty(a).contains(QByteArray("\xFF\xC2", 2)));
    QVERIFY(ImageFiles::WritePicture(picture, a, 25, 1));
    QVERIFY(fileBytesOrEmpty(a).contains(QByteArray("\xFF\xC2", 2)));
    QVERIFY(!ImageFiles::LoadPictureFile(a).image.isNull());
}

void TstImageFiles::loadingDecidesByContent()
{
    // A PNG under a bitmap name opens; a text file under a picture name does not.
    const QString png = m_dir->filePath(QStringLiteral("really-png.bmp"));
    QVERIFY(testPicture().save(png, "PNG"));
    QCOMPARE(ImageFiles::LoadPictureFile(png).image.size(), QSize(64, 48));

    // A run-length encoded 4x2 bitmap (.rle): bottom row four blue pixels, top row two red
    // then two blue; palette 0 blue, 1 red.
    const QString rle = m_dir->filePath(QStringLiteral("runs.rle"));
    writeBytes(rle, QByteArray("BM\x48\x00\x00\x00\x00\x00\x00\x00\x3E\x00\x00\x00"
                              "\x28\x00\x00\x00\x04\x00\x00\x00\x02\x00\x00\x00\x01\x00\x08\x00"
                              "\x01\x00\x00\x00\x0A\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                              "\x02\x00\x00\x00\x00\x00\x00\x00"
                              "\xFF\x00\x00\x00\x00\x00\xFF\x00"
                              "\x04\x00\x00\x00\x02\x01\x02\x00\x00\x01",
                              72));
    const QImage runs = ImageFiles::LoadPictureFile(rle).image;
    QCOMPARE(runs.size(), QSize(4, 2));
    QCOMPARE(runs.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(runs.pixel(1, 0), qRgb(255, 0, 0));
    QCOMPARE(runs.pixel(2, 0), qRgb(0, 0, 255));
    QCOMPARE(runs.pixel(3, 1), qRgb(0, 0, 255));

    const QString text = m_dir->filePath(QStringLiteral("notes.jpg"));
    writeBytes(text, "just some words\n");
    const ImageFiles::Loaded refused = ImageFiles::LoadPictureFile(text);
    QVERIFY(refused.image.isNull());
    QVERIFY(refused.notPicture);
    QVERIFY(!refused.refusedGif);

    const QString empty = m_dir->filePath(QStringLiteral("empty.bmp"));
    writeBytes(empty, QByteArray());
    QVERIFY(ImageFiles::LoadPictureFile(empty).notPicture);
    QVERIFY(ImageFiles::LoadPictureFile(m_dir->filePath(QStringLiteral("missing.bmp"))).notPicture);
}

void TstImageFiles::gifIsRefusedWhateverItsName()
{
    const QString asJpg = m_dir->filePath(QStringLiteral("photo.jpg"));
    writeBytes(asJpg, QByteArray("GIF89a\x08\x00\x08\x00\x80\x00\x00", 13));
    QCOMPARE(ImageFiles::DetectGifFile(asJpg), QStringLiteral("gif"));
    const ImageFiles::Loaded loaded = ImageFiles::LoadPictureFile(asJpg);
    QVERIFY(loaded.refusedGif);
    QVERIFY(loaded.image.isNull());

    const QString lower = m_dir->filePath(QStringLiteral("lower.bmp"));
    writeBytes(lower, "gIf");
    QCOMPARE(ImageFiles::DetectGifFile(lower), QStringLiteral("gif"));
    const QString almost = m_dir->filePath(QStringLiteral("almost.gif"));
    writeBytes(almost, "GIX89a");
    QCOMPARE(ImageFiles::DetectGifFile(almost), QString());
    const QString shortFile = m_dir->filePath(QStringLiteral("short"));
    writeBytes(shortFile, "GI");
    QCOMPARE(ImageFiles::DetectGifFile(shortFile), QString());
    QCOMPARE(ImageFiles::DetectGifFile(m_dir->filePath(QStringLiteral("none"))), QString());
}

void TstImageFiles::failedWriteLeavesNoFileAndKeepsTheOldOne()
{
    QString error;
    QVERIFY(!ImageFiles::WritePicture(testPicture(), m_dir->filePath(QStringLiteral("no/such/folder/a.bmp")),
                                      0, 0, &error));
    QCOMPARE(error, QStringLiteral("パスが見つかりません。"));

    // A null picture writes nothing, and an existing file of that name stays as it was.
    const QString existing = m_dir->filePath(QStringLiteral("keep.bmp"));
    writeBytes(existing, "old contents");
    QVERIFY(!ImageFiles::WritePicture(QImage(), existing, 0, 0, &error));
    QCOMPARE(fileBytesOrEmpty(existing), QByteArray("old contents"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.bmp")});
}

void TstImageFiles::saveCommandWritesTheChosenFileAndRemembersItsFolder()
{
    ImageFiles files(m_ctx, m_host);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("pics"))));
    const QString target = m_dir->filePath(QStringLiteral("pics/shot.png"));
    answerFileDialog(target);
    QCOMPARE(files.SavePictureAs(nullptr, testPicture()), target);
    QVERIFY(fileBytesOrEmpty(target).startsWith("\x89PNG"));
    QCOMPARE(m_ctx.LastSaveDir, m_dir->filePath(QStringLiteral("pics")) + QLatin1Char('/'));
    QVERIFY(m_host.asked.isEmpty());

    // Cancelling ends the command quietly.
    QTimer::singleShot(0, qApp, [] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QApplication::activeModalWidget()->close();
    });
    QCOMPARE(files.SavePictureAs(nullptr, testPicture()), QString());
    QVERIFY(m_host.asked.isEmpty());
}

void TstImageFiles::saveCommandFailureShowsTheMessage()
{
    // /proc takes no new files, whoever runs the test.
    ImageFiles files(m_ctx, m_host);
    answerFileDialog(QStringLiteral("/proc/shot.bmp"));
    QCOMPARE(files.SavePictureAs(nullptr, testPicture()), QString());
    // A warning that names the file.
    QCOMPARE(m_host.asked,
             QStringList{QStringLiteral("保存出来ません \r書き込みできません。\r/proc/shot.bmp")});
    QCOMPARE(m_host.styles, QList<int>{MsgBox::Exclamation});
    QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/shot.bmp")));
    QCOMPARE(m_ctx.LastSaveDir, QString());
}

void TstImageFiles::saveAddsTheChosenTypesExtension_data()
{
    QTest::addColumn<int>("type"); // the row of the type in the dialog's list
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QByteArray>("magic");
    QTest::newRow("JPG") << 0 << "out1"
                         << "out1.jpg" << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("BMP") << 1 << "out1"
                         << "out1.bmp" << QByteArray("BM");
    QTest::newRow("PNG") << 2 << "out1"
                         << "out1.png" << QByteArray("\x89PNG");
    QTest::newRow("LZH") << 3 << "out1"
                         << "out1.lzh" << QByteArray("-lh");
    // A typed extension that names a type writes that type, whatever is chosen in the list.
    QTest::newRow("typed .jpeg") << 1 << "out1.jpeg"
                                 << "out1.jpeg" << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("typed .JPG") << 2 << "OUT1.JPG"
                                << "OUT1.JPG" << QByteArray("\xFF\xD8\xFF");
    QTest::newRow("typed .bmp") << 0 << "out1.bmp"
                                << "out1.bmp" << QByteArray("BM");
    QTest::newRow("typed .png") << 1 << "out1.Png"
                                << "out1.Png" << QByteArray("\x89PNG");
    QTest::newRow("typed .lzh") << 0 << "out1.LZH"
                                << "out1.LZH" << QByteArray("-lh");
    // Any other extension gets the chosen type.
    QTest::newRow("other extension") << 2 << "out1.v2"
                                     << "out1.v2" << QByteArray("\x89PNG");
    QTest::newRow("other extension, JPG") << 0 << "shot.2024"
                                          << "shot.2024" << QByteArray("\xFF\xD8\xFF");
    // The proposed name, taken as it is.
    QTest::newRow("proposal") << 2 << ""
                              << "20240521-093015.png" << QByteArray("\x89PNG");
}

void TstImageFiles::saveAddsTheChosenTypesExtension()
{
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QByteArray, magic);
    // With the archiver ready the dialog offers LZH as well.
    NetEngine engine(m_ctx, m_host);
    engine.CheckArchiver();
    QVERIFY(m_ctx.ArchiverReady);
    ImageFiles files(m_ctx, m_host, &engine);
    m_ctx.LastSaveDir = m_dir->path() + QLatin1Char('/');
    QString proposed;
    QStringList offered;
    QTimer::singleShot(0, qApp, [&] {
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())));
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        proposed = name->text();
        // The type is chosen as a user does, with the keyboard on the type list.
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; i < types->count(); ++i)
            offered << types->itemText(i);
        for (int i = 0; i < type; ++i)
            QTest::keyClick(types, Qt::Key_Down);
        QCOMPARE(types->currentIndex(), type);
        if (!typed.isEmpty())
            name->setText(typed);
        if (const QString shots = qEnvironmentVariable("ZORVIN_SHOTS"); !shots.isEmpty() && type == 3)
            dialog->grab().save(shots + QStringLiteral("/save-dialog.png"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    const QString path =
        files.SavePictureAs(nullptr, testPicture(), QString(), QStringLiteral("20240521-093015"));
    QCOMPARE(proposed, QStringLiteral("20240521-093015"));
    QCOMPARE(offered, (QStringList{QStringLiteral("JPGﾌｧｲﾙ (*.jpg)"), QStringLiteral("BMPﾌｧｲﾙ (*.bmp)"),
                                   QStringLiteral("PNGﾌｧｲﾙ (*.png)"), QStringLiteral("LZHﾌｧｲﾙ (*.lzh)")}));
    QCOMPARE(path, m_dir->filePath(written));
    if (magic != "-lh") {
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{written});
        QVERIFY(fileBytesOrEmpty(path).startsWith(magic));
        QCOMPARE(QImage(path).size(), testPicture().size());
        QCOMPARE(m_ctx.LastSaveDir, m_dir->path() + QLatin1Char('/'));
        return;
    }
    // The archive is packed on the archiver's thread; it holds the bitmap under the
    // archive's own name, and nothing is left in the work folder.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path), 30000);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{written});
    QCOMPARE(fileBytesOrEmpty(path).mid(2, 3), magic);
    QTRY_COMPARE(QDir(m_ctx.WorkDir).entryList({QStringLiteral("save*")}, QDir::AllEntries | QDir::Hidden),
                 QStringList());
    QVERIFY(m_host.asked.isEmpty());
    if (QStandardPaths::findExecutable(QStringLiteral("lhasa")).isEmpty())
        QSKIP("lhasa is not installed (scripts/setup installs it)");
    const QString out = m_dir->filePath(QStringLiteral("unpacked"));
    QVERIFY(QDir().mkpath(out));
    QProcess lhasa;
    lhasa.setWorkingDirectory(out);
    lhasa.start(QStringLiteral("lhasa"), {QStringLiteral("xf"), path});
    QVERIFY(lhasa.waitForFinished(30000));
    QCOMPARE(lhasa.exitCode(), 0);
    const QString bitmap = out + u'/' + QFileInfo(path).completeBaseName() + QStringLiteral(".BMP");
    QVERIFY2(QFileInfo::exists(bitmap), qPrintable(QDir(out).entryList().join(u' ')));
    QVERIFY(fileBytesOrEmpty(bitmap).startsWith("BM"));
    QCOMPARE(maxChannelDifference(QImage(bitmap), testPicture()), 0);
}

void TstImageFiles::autoSaveTargets()
{
    QCOMPARE(ImageFiles::AutoSaveTarget(QStringLiteral("/data/caps"), QStringLiteral("CPT"),
                                        QStringLiteral("00007"), 0),
             QStringLiteral("/data/caps/CPT00007.BMP"));
    QCOMPARE(ImageFiles::AutoSaveTarget(QStringLiteral("/data/caps/"), QStringLiteral("CPT"),
                                        QStringLiteral("00007"), 0),
             QStringLiteral("/data/caps/CPT00007.BMP"));
    QCOMPARE(ImageFiles::AutoSaveTarget(QStringLiteral("/d"), QStringLiteral("x"), QString(), 1),
             QStringLiteral("/d/x.LZH"));
    QCOMPARE(ImageFiles::AutoSaveTarget(QStringLiteral("/d"), QStringLiteral("x"), QString(), 2),
             QStringLiteral("/d/x.JPG"));
    QCOMPARE(ImageFiles::AutoSaveTarget(QStringLiteral("/d"), QStringLiteral("x"), QString(), 3),
             QStringLiteral("/d/x.PNG"));
    QCOMPARE(ImageFiles::AutoSaveTarget(QStringLiteral("/d"), QStringLiteral("x"), QString(), 4), QString());
}

void TstImageFiles::autoSaveNumbersFilesAndWrapsAfter99999()
{
    const QString folder = m_dir->filePath(QStringLiteral("auto"));
    QVERIFY(QDir().mkpath(folder));
    m_ctx.settings.CaptAutoSave = 1;
    m_ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    m_ctx.settings.CaptAutoSavePlace = folder;
    m_ctx.settings.CaptAutoSaveType = 3;
    writeBytes(m_ctx.SettingsPath(), "[ZorvinSetting]\r\nAutoCaptNo=99998\r\n");
    QStringList panel;
    ImageFiles files(m_ctx, m_host);
    files.setStatusPanel([&panel](const QString &text) { panel << text; });

    QCOMPARE(files.AutoSaveCapture(testPicture()), folder + QStringLiteral("/CPT99999.PNG"));
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoCaptNo=99999\r\n"));
    QCOMPARE(panel,
             (QStringList{QStringLiteral("保存中 ") + folder + QStringLiteral("/CPT99999.PNG"), QString()}));

    m_ctx.settings.CaptAutoSaveType = 0;
    QCOMPARE(files.AutoSaveCapture(testPicture()), folder + QStringLiteral("/CPT00001.BMP"));
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoCaptNo=00001\r\n"));
    m_ctx.settings.CaptAutoSaveType = 2;
    QCOMPARE(files.AutoSaveCapture(testPicture()), folder + QStringLiteral("/CPT00002.JPG"));
    QVERIFY(fileBytesOrEmpty(folder + QStringLiteral("/CPT00002.JPG")).startsWith("\xFF\xD8"));
    QVERIFY(fileBytesOrEmpty(folder + QStringLiteral("/CPT00001.BMP")).startsWith("BM"));

    // Switched off, nameless, of an unknown type or with an empty picture (a window
    // capture that found no window): nothing is written, no number is used.
    QCOMPARE(files.AutoSaveCapture(QImage()), QString());
    m_ctx.settings.CaptAutoSaveType = 7;
    QCOMPARE(files.AutoSaveCapture(testPicture()), QString());
    m_ctx.settings.CaptAutoSaveType = 0;
    m_ctx.settings.CaptAutoSaveName.clear();
    QCOMPARE(files.AutoSaveCapture(testPicture()), QString());
    m_ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    m_ctx.settings.CaptAutoSave = 0;
    QCOMPARE(files.AutoSaveCapture(testPicture()), QString());
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoCaptNo=00002\r\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
    QVERIFY(m_host.asked.isEmpty());
}

void TstImageFiles::autoSaveWithConstantNameOverwritesAndStoresZero()
{
    const QString folder = m_dir->filePath(QStringLiteral("const"));
    QVERIFY(QDir().mkpath(folder));
    m_ctx.settings.CaptAutoSave = 1;
    m_ctx.settings.CaptAutoSaveName = QStringLiteral("latest");
    m_ctx.settings.CaptAutoSavePlace = folder + QLatin1Char('/');
    m_ctx.settings.CaptAutoSaveNameConst = 1;
    writeBytes(m_ctx.SettingsPath(), "[ZorvinSetting]\r\nAutoCaptNo=41\r\n");
    ImageFiles files(m_ctx, m_host);
    QCOMPARE(files.AutoSaveCapture(testPicture(QSize(10, 10))), folder + QStringLiteral("/latest.BMP"));
    QCOMPARE(files.AutoSaveCapture(testPicture(QSize(20, 10))), folder + QStringLiteral("/latest.BMP"));
    QCOMPARE(ImageFiles::LoadPictureFile(folder + QStringLiteral("/latest.BMP")).image.size(), QSize(20, 10));
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoCaptNo=0\r\n"));
}

void TstImageFiles::autoSaveIntoMissingFolderFailsWithoutUsingANumber()
{
    m_ctx.settings.CaptAutoSave = 1;
    m_ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    m_ctx.settings.CaptAutoSavePlace = m_dir->filePath(QStringLiteral("gone"));
    writeBytes(m_ctx.SettingsPath(), "[ZorvinSetting]\r\nAutoCaptNo=00005\r\n");
    QStringList panel;
    ImageFiles files(m_ctx, m_host);
    files.setStatusPanel([&panel](const QString &text) { panel << text; });
    QCOMPARE(files.AutoSaveCapture(testPicture()), QString());
    // The missing folder is named.
    QCOMPARE(m_host.asked, QStringList{QStringLiteral("保存出来ません \rパスが見つかりません。\r") +
                                       m_dir->filePath(QStringLiteral("gone"))});
    QCOMPARE(m_host.styles, QList<int>{MsgBox::Exclamation});
    QCOMPARE(panel.mid(1), (QStringList{QStringLiteral("保存失敗"), QString()}));
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoCaptNo=00005\r\n"));
    QVERIFY(!QFileInfo::exists(m_ctx.settings.CaptAutoSavePlace));
}

void TstImageFiles::autoSaveLzhUnpacksToTheBitmap()
{
    if (QStandardPaths::findExecutable(QStringLiteral("lhasa")).isEmpty())
        QSKIP("lhasa is not installed (scripts/setup installs it)");
    const QString folder = m_dir->filePath(QStringLiteral("lzh"));
    QVERIFY(QDir().mkpath(folder));
    m_ctx.settings.CaptAutoSave = 1;
    m_ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    m_ctx.settings.CaptAutoSavePlace = folder;
    m_ctx.settings.CaptAutoSaveType = 1;
    NetEngine engine(m_ctx, m_host);
    ImageFiles files(m_ctx, m_host, &engine);
    QStringList panel;
    files.setStatusPanel([&panel](const QString &text) { panel << text; });
    QSignalSpy finished(&files, &ImageFiles::autoSaveFinished);
    const QImage picture = testPicture();
    // The archive is written on the archiver's thread; the call returns its path at once.
    QCOMPARE(files.AutoSaveCapture(picture), folder + QStringLiteral("/CPT00001.LZH"));
    QCOMPARE(panel, QStringList{QStringLiteral("保存中 ") + folder + QStringLiteral("/CPT00001.LZH")});
    // A capture that comes meanwhile is saved after it, under the next number.
    QCOMPARE(files.AutoSaveCapture(testPicture(QSize(20, 10))), QString());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 30000);
    QCOMPARE(finished[0].at(0).toString(), folder + QStringLiteral("/CPT00001.LZH"));
    QCOMPARE(finished[1].at(0).toString(), folder + QStringLiteral("/CPT00002.LZH"));
    QCOMPARE(panel.last(), QString());
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             (QStringList{QStringLiteral("CPT00001.LZH"), QStringLiteral("CPT00002.LZH")}));
    // The temporary bitmaps in the work folder are gone.
    QVERIFY(QDir(m_ctx.WorkDir).entryList(QDir::Files).isEmpty());

    const QString out = m_dir->filePath(QStringLiteral("unpacked"));
    QVERIFY(QDir().mkpath(out));
    QProcess lhasa;
    lhasa.setWorkingDirectory(out);
    lhasa.start(QStringLiteral("lhasa"), {QStringLiteral("xf"), folder + QStringLiteral("/CPT00001.LZH")});
    QVERIFY(lhasa.waitForFinished(30000));
    QCOMPARE(lhasa.exitCode(), 0);
    const QString unpacked = out + QStringLiteral("/CPT00001.BMP");
    QVERIFY2(QFileInfo::exists(unpacked), qPrintable(QDir(out).entryList().join(QLatin1Char(' '))));
    const QByteArray bmp = fileBytesOrEmpty(unpacked);
    QVERIFY(bmp.startsWith("BM"));
    QCOMPARE(bmp.size(), 54 + 48 * 192);
    QCOMPARE(maxChannelDifference(ImageFiles::LoadPictureFile(unpacked).image, picture), 0);
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoCaptNo=00002\r\n"));
    QVERIFY(m_host.asked.isEmpty());
}

void TstImageFiles::autoSaveLzhFallsBackToBmp()
{
    const QString folder = m_dir->filePath(QStringLiteral("fallback"));
    QVERIFY(QDir().mkpath(folder));
    m_ctx.settings.CaptAutoSave = 1;
    m_ctx.settings.CaptAutoSaveName = QStringLiteral("CPT");
    m_ctx.settings.CaptAutoSavePlace = folder;
    m_ctx.settings.CaptAutoSaveType = 1;
    // An archive that cannot be added to: the target name is taken by a folder.
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/CPT00001.LZH")));
    NetEngine engine(m_ctx, m_host);
    QStringList panel;
    ImageFiles files(m_ctx, m_host, &engine);
    files.setStatusPanel([&panel](const QString &text) { panel << text; });
    QSignalSpy finished(&files, &ImageFiles::autoSaveFinished);
    QCOMPARE(files.AutoSaveCapture(testPicture()), folder + QStringLiteral("/CPT00001.LZH"));
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished[0].at(0).toString(), folder + QStringLiteral("/CPT00001.BMP"));
    QVERIFY(fileBytesOrEmpty(folder + QStringLiteral("/CPT00001.BMP")).startsWith("BM"));
    QCOMPARE(panel.size(), 4);
    QVERIFY2(panel[1].startsWith(QStringLiteral("LHA保存失敗 C=")) &&
                 panel[1].endsWith(QStringLiteral("→BMP保存中 ") + folder + QStringLiteral("/CPT00001.BMP")),
             qPrintable(panel[1]));
    QCOMPARE(panel[2], QString());
    QVERIFY(QDir(m_ctx.WorkDir).entryList(QDir::Files).isEmpty());
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoCaptNo=00001\r\n"));
    QVERIFY(m_host.asked.isEmpty());

    // An archiver busy with another command (a transfer) is a failed pack as well: the
    // bitmap is kept at once.
    // Busy lasts until the other command's finished is handled on this thread, however
    // fast its worker is.
    const QString other = m_dir->filePath(QStringLiteral("other.txt"));
    writeBytes(other, "another command's file");
    const ArchiverTicket otherCommand =
        engine.RunArchiver(m_dir->filePath(QStringLiteral("other.lzh")), other, true);
    QVERIFY(otherCommand.started());
    panel.clear();
    QCOMPARE(files.AutoSaveCapture(testPicture()), folder + QStringLiteral("/CPT00002.BMP"));
    QCOMPARE(panel.value(1), QStringLiteral("LHA保存失敗 C=%1→BMP保存中 ").arg(UnlhaLibrary::kBusy) + folder +
                                 QStringLiteral("/CPT00002.BMP"));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/CPT00002.LZH")));
    QCOMPARE(waitForArchiver(engine.archiver(), otherCommand), 0);
}

QTEST_MAIN(TstImageFiles)

#include "tst_imagefiles.moc"
