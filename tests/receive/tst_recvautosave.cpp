// The automatic save of received pictures: names with the machine suffix for every type
// (the LZH archive through the real archiver, pictures that come meanwhile saved after
// it), the counter's restart at 0, the fixed name, and a failure that leaves nothing.
#include "pictures/ImageFiles.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "net/NetEngine.h"
#include "receive/ReceiveSetup.h"
#include "support/FileBytes.h"
#include "support/TestPort.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QImage testPicture(const QSize &size = QSize(40, 30))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    return image;
}

} // namespace

class TstRecvAutoSave : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void everyTypeIsNamedWithTheMachineAndTheCounterRestartsAtZero();
    void fixedNameOverwritesAndOffSavesNothing();
    void missingFolderTellsAndLeavesNothing();

  private:
    QString iniText() const { return QString::fromLatin1(fileBytesOrEmpty(m_ctx.SettingsPath())); }
    void setCounter(const QByteArray &value)
    {
        QFile file(m_ctx.SettingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[ZorvinSetting]\r\nAutoRecvNo=" + value + "\r\n");
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    ModZorvin m_ctx;
    RecordingHost m_host;
    QString m_folder;
};

void TstRecvAutoSave::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_ctx = ModZorvin();
    placeCopy(m_ctx, QStringLiteral("127.0.0.5"), m_dir->path());
    m_folder = m_dir->filePath(QStringLiteral("auto"));
    QVERIFY(QDir().mkpath(m_folder));
    Settings &s = m_ctx.settings;
    s.RecvAutoSave = 1;
    s.RecvAutoSaveName = QStringLiteral("CTR");
    s.RecvAutoSavePlace = m_folder;
    m_host.asked.clear();
}

void TstRecvAutoSave::cleanup()
{
    m_dir.reset();
}

void TstRecvAutoSave::everyTypeIsNamedWithTheMachineAndTheCounterRestartsAtZero()
{
    NetEngine engine(m_ctx, m_host);
    engine.CheckArchiver();
    QVERIFY(m_ctx.ArchiverReady);
    ImageFiles files(m_ctx, m_host, &engine);
    setCounter("99998");
    Settings &s = m_ctx.settings;

    s.RecvAutoSaveType = 3;
    QCOMPARE(files.AutoSaveReceived(testPicture(), QStringLiteral("h2")),
             m_folder + QStringLiteral("/CTR99999-h2.PNG"));
    QVERIFY(fileBytesOrEmpty(m_folder + QStringLiteral("/CTR99999-h2.PNG")).startsWith("\x89PNG"));
    s.RecvAutoSaveType = 0;
    QCOMPARE(files.AutoSaveReceived(testPicture(), QStringLiteral("h2")),
             m_folder + QStringLiteral("/CTR00000-h2.BMP"));
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoRecvNo=00000\r\n"));
    s.RecvAutoSaveType = 2;
    // A name from the network never leads out of the folder.
    QCOMPARE(files.AutoSaveReceived(testPicture(), QStringLiteral("../up")),
             m_folder + QStringLiteral("/CTR00001-.._up.JPG"));
    QVERIFY(fileBytesOrEmpty(m_folder + QStringLiteral("/CTR00001-.._up.JPG")).startsWith("\xFF\xD8"));

    // The archive is packed on the archiver's thread; a picture that comes meanwhile waits
    // and takes the next number.
    s.RecvAutoSaveType = 1;
    QSignalSpy finished(&files, &ImageFiles::autoSaveFinished);
    QCOMPARE(files.AutoSaveReceived(testPicture(QSize(300, 200)), QStringLiteral("h2")),
             m_folder + QStringLiteral("/CTR00002-h2.LZH"));
    QVERIFY(!QFile::exists(m_folder + QStringLiteral("/CTR00002-h2.LZH")));
    QCOMPARE(files.AutoSaveReceived(testPicture(), QStringLiteral("h3")), QString());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 30000);
    QCOMPARE(finished.at(0).at(0).toString(), m_folder + QStringLiteral("/CTR00002-h2.LZH"));
    QCOMPARE(finished.at(1).at(0).toString(), m_folder + QStringLiteral("/CTR00003-h3.LZH"));
    const QByteArray archive = fileBytesOrEmpty(m_folder + QStringLiteral("/CTR00002-h2.LZH"));
    QCOMPARE(archive.mid(2, 3), QByteArray("-lh"));
    QVERIFY(archive.contains("CTR00002-h2.BMP"));
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoRecvNo=00003\r\n"));
    // Nothing of the packing is left in the work folder.
    QCOMPARE(QDir(m_ctx.WorkDir).entryList(QDir::Files), QStringList());
    QVERIFY(m_host.asked.isEmpty());
}

void TstRecvAutoSave::fixedNameOverwritesAndOffSavesNothing()
{
    ImageFiles files(m_ctx, m_host);
    setCounter("41");
    m_ctx.settings.RecvAutoSaveNameConst = 1;
    const QString target = m_folder + QStringLiteral("/CTR-h2.BMP");
    QCOMPARE(files.AutoSaveReceived(testPicture(QSize(10, 10)), QStringLiteral("h2")), target);
    QCOMPARE(files.AutoSaveReceived(testPicture(QSize(20, 10)), QStringLiteral("h2")), target);
    QCOMPARE(QImage(target).size(), QSize(20, 10));
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoRecvNo=0\r\n"));
    // Without a machine name there is no suffix.
    QCOMPARE(files.AutoSaveReceived(testPicture(), QString()), m_folder + QStringLiteral("/CTR.BMP"));

    m_ctx.settings.RecvAutoSave = 0;
    QCOMPARE(files.AutoSaveReceived(testPicture(), QStringLiteral("h2")), QString());
    m_ctx.settings.RecvAutoSave = 1;
    m_ctx.settings.RecvAutoSavePlace.clear();
    QCOMPARE(files.AutoSaveReceived(testPicture(), QStringLiteral("h2")), QString());
    QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), 2);
}

void TstRecvAutoSave::missingFolderTellsAndLeavesNothing()
{
    ImageFiles files(m_ctx, m_host);
    setCounter("7");
    m_ctx.settings.RecvAutoSavePlace = m_dir->filePath(QStringLiteral("gone"));
    QCOMPARE(files.AutoSaveReceived(testPicture(), QStringLiteral("h2")), QString());
    QCOMPARE(m_host.asked, QStringList{QStringLiteral("保存出来ません \rパスが見つかりません。\r") +
                                       m_dir->filePath(QStringLiteral("gone"))});
    QCOMPARE(iniText(), QStringLiteral("[ZorvinSetting]\r\nAutoRecvNo=7\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("zorvin.ini")});
}

QTEST_MAIN(TstRecvAutoSave)
#include "tst_recvautosave.moc"
