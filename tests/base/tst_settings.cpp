// zorvin.ini on real files: the profile-file reader and writer, the load rules of the
// settings record, the running numbers of automatic saving and the version stamp.
#include "base/RunningNumber.h"
#include "base/Settings.h"
#include "base/SettingsFile.h"
#include "base/SettingsLoader.h"
#include "base/SettingsTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TstSettings : public QObject
{
    Q_OBJECT

  private slots:
    void init();

    void readFollowsProfileRules_data();
    void readFollowsProfileRules();
    void longValuesAreCutAtWholeCharacters();
    void writeKeepsEveryOtherLine();
    void writeCreatesFileInCp932();
    void valueCannotAddLines();
    void protectedFilesAreLeftUntouched();
    void binaryFileIsReadSafelyAndOnlyAppendedTo();
    void hugeFileIsReadInPartAndKeptBesideBeforeAWrite();

    void emptyOrMissingFileGivesDefaults();
    void autoCaptTimVersionRule_data();
    void autoCaptTimVersionRule();
    void numberReaders_data();
    void numberReaders();
    void textRules();
    void storedFormsLoadBack();
    void storableTextsReadBackExactly_data();
    void storableTextsReadBackExactly();
    void everyTableRowRoundTrips();
    void tableRowsOutOfRangeOrAbsent();

    void runningNumbersWrapAndWaitForCommit();
    void fixedNameResetsRunningNumber();
    void versionStampIsWritten();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_ini;
    QString m_programDir;
    Settings load()
    {
        Settings s;
        LoadSettings(s, SettingsFile(m_ini), m_programDir);
        return s;
    }
};

void TstSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_programDir = m_dir->path() + QLatin1Char('/');
    m_ini = m_programDir + QStringLiteral("zorvin.ini");
}

void TstSettings::readFollowsProfileRules_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *section, const char *key, const char *expected) {
        QTest::newRow(name) << QString::fromUtf8(section) << QString::fromUtf8(key)
                            << QString::fromUtf8(expected);
    };
    row("exact", "ZorvinSetting", "Grp", "sales");
    row("names ignore case", "zorvinsetting", "GRP", "sales");
    row("blanks around name and value", "ZorvinSetting", "IntTimer", "5 6");
    row("LF-only line", "ZorvinSetting", "MsgLog", "1");
    row("CR-only line", "ZorvinSetting", "MsgLogType", "2");
    row("equals sign inside value", "ZorvinSetting", "PicEditApp", "a=b");
    row("quotes are kept", "ZorvinSetting", "MsgLogShowApp", "\"/usr/bin/x y\"");
    row("Japanese value", "ZorvinSetting", "Name", "ぞるびん");
    row("empty value", "ZorvinSetting", "KeyMenu", "");
    row("first of repeated keys", "ZorvinSetting", "AutoCapt", "1");
    row("repeated section searched too", "ZorvinSetting", "RecvPicMin", "1");
    row("commented key", "ZorvinSetting", "JpegComp", "");
    row("key before any section", "ZorvinSetting", "Stray", "");
    row("header without bracket ends section", "Broken", "Lost", "x");
    row("missing key", "ZorvinSetting", "SndMsgRRTim", "");
    row("missing section", "Nothing", "Grp", "");
    row("same key other section", "AdrEdit", "Grp", "");
}

void TstSettings::readFollowsProfileRules()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    writeBytes(m_ini, "Stray=1\r\n"
                      "; comment line\r\n"
                      "  [ ZorvinSetting ]  \r\n"
                      "Grp=sales\r\n"
                      "  IntTimer   =   5 6  \t\r\n"
                      "MsgLog=1\n"
                      "MsgLogType=2\r"
                      "PicEditApp=a=b\r\n"
                      "MsgLogShowApp=\"/usr/bin/x y\"\r\n"
                      "Name=\x82\xbc\x82\xe9\x82\xd1\x82\xf1\r\n"
                      "KeyMenu=\r\n"
                      "AutoCapt=1\r\n"
                      "AutoCapt=0\r\n"
                      ";JpegComp=5\r\n"
                      "\r\n"
                      "[AdrEdit]\r\n"
                      "AvailOnly=1\r\n"
                      "[Broken\r\n"
                      "Lost=x\r\n"
                      "[ZORVINSETTING]\r\n"
                      "RecvPicMin=1\r\n"
                      "Grp=other");
    QCOMPARE(SettingsFile(m_ini).ReadSetting(section, key), expected);
}

void TstSettings::longValuesAreCutAtWholeCharacters()
{
    const SettingsFile file(m_ini);
    writeBytes(m_ini, "[S]\r\nA=" + QByteArray(1100, 'x') + "\r\nJ=" + QByteArray("\x82\xa0").repeated(550) +
                          "\r\nOdd=z" + QByteArray("\x82\xa0").repeated(550) + "\r\nAfter=1\r\n");
    QCOMPARE(file.ReadSetting("S", "A"), QString(1023, QLatin1Char('x')));
    // Byte 1023 would be the first half of a character: the value is one byte shorter.
    QCOMPARE(file.ReadSetting("S", "J"), QString(511, QChar(0x3042)));
    QCOMPARE(file.ReadSetting("S", "Odd"), QStringLiteral("z") + QString(511, QChar(0x3042)));
    QCOMPARE(file.ReadSetting("S", "After"), QStringLiteral("1"));
}

void TstSettings::writeKeepsEveryOtherLine()
{
    const QByteArray before = "; written by hand\r\n"
                              "[ZorvinSetting]\r\n"
                              "Unknown = keep me\r\n"
                              "\r\n"
                              "  Name = old  \r\n"
                              "; trailing comment\n"
                              "JpegComp=20\r\n"
                              "\r\n"
                              "; about AdrEdit\r\n"
                              "[AdrEdit]\r\n"
                              "AvailOnly=1";
    writeBytes(m_ini, before);
    const SettingsFile file(m_ini);
    file.WriteSetting("zorvinSETTING", "name", "新");
    file.WriteSetting("ZorvinSetting", "Grp", "g1");
    file.WriteSetting("AdrEdit", "AdrTVColHdWith1", "1440");
    file.WriteSetting("Zorvin", "Major", "2");
    QCOMPARE(readBytes(m_ini), QByteArray("; written by hand\r\n"
                                          "[ZorvinSetting]\r\n"
                                          "Unknown = keep me\r\n"
                                          "\r\n"
                                          "Name=\x90\x56\r\n"
                                          "; trailing comment\n"
                                          "JpegComp=20\r\n"
                                          "Grp=g1\r\n"
                                          "\r\n"
                                          "; about AdrEdit\r\n"
                                          "[AdrEdit]\r\n"
                                          "AvailOnly=1\r\n"
                                          "AdrTVColHdWith1=1440\r\n"
                                          "[Zorvin]\r\n"
                                          "Major=2\r\n"));
    QCOMPARE(file.ReadSetting("ZorvinSetting", "Name"), QStringLiteral("新"));
}

void TstSettings::writeCreatesFileInCp932()
{
    const SettingsFile file(m_ini);
    QVERIFY(!QFile::exists(m_ini));
    file.WriteSetting("ZorvinSetting", "Name", "ぞるびん");
    file.WriteSetting("ZorvinSetting", "MsgFontName", "ＭＳ Ｐゴシック");
    QCOMPARE(readBytes(m_ini),
             QByteArray("[ZorvinSetting]\r\n"
                        "Name=\x82\xbc\x82\xe9\x82\xd1\x82\xf1\r\n"
                        "MsgFontName=\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e\r\n"));
    QCOMPARE(file.ReadSetting("ZorvinSetting", "MsgFontName"), QStringLiteral("ＭＳ Ｐゴシック"));
    // The temporary file of the atomic replace is gone.
    QCOMPARE(QDir(m_programDir).entryList(QDir::Files), QStringList{QStringLiteral("zorvin.ini")});
}

void TstSettings::valueCannotAddLines()
{
    const SettingsFile file(m_ini);
    file.WriteSetting("ZorvinSetting", "Grp", "a\r\n[Zorvin]\r\nMajor=9\nb");
    QCOMPARE(readBytes(m_ini), QByteArray("[ZorvinSetting]\r\nGrp=a  [Zorvin]  Major=9 b\r\n"));
    QCOMPARE(file.ReadSetting("Zorvin", "Major"), QString());
    // Names that would not read back as written are refused.
    QVERIFY(!file.WriteSetting("Zorvin]x", "Major", "9"));
    file.WriteSetting("Zorvin", "Ma=jor", "9");
    file.WriteSetting("Zorvin", "", "9");
    QCOMPARE(readBytes(m_ini), QByteArray("[ZorvinSetting]\r\nGrp=a  [Zorvin]  Major=9 b\r\n"));
}

void TstSettings::protectedFilesAreLeftUntouched()
{
    const QByteArray before = "[ZorvinSetting]\r\nGrp=old\r\n";
    writeBytes(m_ini, before);
    QVERIFY(QFile::setPermissions(m_ini, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    // Each refusal says so, with its reason.
    QString error;
    QVERIFY(!SettingsFile(m_ini).WriteSetting("ZorvinSetting", "Grp", "new", &error));
    QCOMPARE(error, QStringLiteral("the file is read-only"));
    QCOMPARE(readBytes(m_ini), before);
    QCOMPARE(SettingsFile(m_ini).ReadSetting("ZorvinSetting", "Grp"), QStringLiteral("old"));

    // A folder where the file should be, and a folder that does not exist.
    const QString folder = m_programDir + QStringLiteral("folder.ini");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(!SettingsFile(folder).WriteSetting("ZorvinSetting", "Grp", "new", &error));
    QCOMPARE(error, QStringLiteral("not a file"));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(SettingsFile(folder).ReadSetting("ZorvinSetting", "Grp"), QString());
    const QString nowhere = m_programDir + QStringLiteral("missing/zorvin.ini");
    error.clear();
    QVERIFY(!SettingsFile(nowhere).WriteSetting("ZorvinSetting", "Grp", "new", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(m_programDir + QStringLiteral("missing")));
    QVERIFY(
        SettingsFile(m_programDir + QStringLiteral("fresh.ini")).WriteSetting("ZorvinSetting", "Grp", "new"));
}

void TstSettings::hugeFileIsReadInPartAndKeptBesideBeforeAWrite()
{
    // Keys at the start, then lines of a megabyte each: the keys read, the rest is not
    // read at all, and the first write keeps the whole file beside before replacing it.
    QByteArray head = "[ZorvinSetting]\r\nName=\x8e\x52\x93\x63\r\nGrp=g1\r\n";
    QByteArray huge = head;
    for (int i = 0; i < 6; ++i)
        huge += "Junk" + QByteArray::number(i) + '=' + QByteArray(1024 * 1024, 'x') + "\r\n";
    huge += "AutoCapt=1\r\n";
    writeBytes(m_ini, huge);
    Settings s;
    LoadSettings(s, SettingsFile(m_ini), m_programDir);
    QCOMPARE(s.Name, QStringLiteral("山田"));
    QCOMPARE(s.Grp, QStringLiteral("g1"));
    QCOMPARE(s.AutoCapt, 0); // beyond what is read

    const SettingsFile file(m_ini);
    file.WriteSetting("ZorvinSetting", "Grp", "g2");
    QCOMPARE(readBytes(m_ini + ".bak"), huge);
    QCOMPARE(readBytes(m_ini), QByteArray(head).replace("g1", "g2"));
    // Once is enough: the next write finds a file that is read whole.
    file.WriteSetting("ZorvinSetting", "Grp", "g3");
    QVERIFY(!QFileInfo::exists(m_ini + ".bak2"));

    // At start-up the original goes aside at once (an older copy there stays), and the part
    // read takes its place; a file read whole is left as it is.
    writeBytes(m_ini, huge);
    QCOMPARE(SettingsFile(m_ini).KeepUnreadOriginal(), QStringLiteral("zorvin.ini → zorvin.ini.bak2\r"));
    QCOMPARE(readBytes(m_ini + ".bak2"), huge);
    QCOMPARE(readBytes(m_ini), head);
    QCOMPARE(SettingsFile(m_ini).KeepUnreadOriginal(), QString());
    QVERIFY(!QFileInfo::exists(m_ini + ".bak3"));

    // One line longer than the limit and no line break: nothing is read, nothing is lost.
    writeBytes(m_ini, QByteArray(SettingsFile::kMaxFileBytes + 10, 'y'));
    QCOMPARE(file.ReadSetting("ZorvinSetting", "Name"), QString());
    file.WriteSetting("ZorvinSetting", "Name", "n");
    QCOMPARE(readBytes(m_ini + ".bak3").size(), SettingsFile::kMaxFileBytes + 10);
    QCOMPARE(readBytes(m_ini), QByteArray("[ZorvinSetting]\r\nName=n\r\n"));
}

void TstSettings::binaryFileIsReadSafelyAndOnlyAppendedTo()
{
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char((i * 7 + i / 256) & 0xFF);
    writeBytes(m_ini, binary);
    const SettingsFile file(m_ini);
    QCOMPARE(file.ReadSetting("ZorvinSetting", "Name"), QString());
    file.WriteSetting("Zorvin", "Major", "2");
    QCOMPARE(readBytes(m_ini), binary + "\r\n[Zorvin]\r\nMajor=2\r\n");
    QCOMPARE(file.ReadSetting("Zorvin", "Major"), QStringLiteral("2"));

    // Binary bytes inside a section: the value stops at a NUL, the key still reads.
    static const char raw[] = "[S]\r\nK=ab\0cd\r\n\xff\xfe[S\x82]\r\nL=1\r\n";
    writeBytes(m_ini, QByteArray(raw, sizeof raw - 1));
    QCOMPARE(file.ReadSetting("S", "K"), QStringLiteral("ab"));
    QCOMPARE(file.ReadSetting("S", "L"), QStringLiteral("1"));
}

void TstSettings::emptyOrMissingFileGivesDefaults()
{
    Settings expected;
    expected.Name = QStringLiteral("未設定");
    expected.ActCaptMode = 1;
    expected.IntTimer = QStringLiteral("2");
    expected.CaptAutoSaveName = QStringLiteral("CPT");
    expected.RecvAutoSaveName = QStringLiteral("CTR");
    expected.AutoCaptTim = 300;
    expected.MsgFontName = QStringLiteral("ＭＳ Ｐゴシック");
    expected.MsgFontSize = 9;
    expected.SndMsgWinCls = 1;
    expected.SndMsgRWinCls = 1;
    expected.SndMsgRWinCls1 = 1;
    expected.SndMsgRRChk = 1;
    expected.SndMsgRRTim = 15;
    expected.RecvFileSavePlace = m_programDir + QStringLiteral("RECVFILE");
    expected.MsgLogName = QStringLiteral("CTMSG");
    expected.MsgLogSavePlace = m_dir->path();
    expected.MsgLogShowApp = QStringLiteral("NOTEPAD");
    expected.JpegComp = 10;
    expected.LDblClick = 1;

    QVERIFY(load() == expected);
    QVERIFY(QFileInfo(m_programDir + QStringLiteral("RECVFILE")).isDir());

    // Loading again over a filled record gives the same, and keeps the password, which
    // comes from its own file.
    writeBytes(m_ini, QByteArray());
    Settings s;
    s.Password = QStringLiteral("pw");
    s.Grp = QStringLiteral("stale");
    s.AutoCapt = 1;
    LoadSettings(s, SettingsFile(m_ini), m_programDir);
    expected.Password = QStringLiteral("pw");
    QVERIFY(s == expected);
}

void TstSettings::autoCaptTimVersionRule_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("old file, minutes") << QByteArray() << QByteArray("5") << 300;
    QTest::newRow("old file, 2 minutes") << QByteArray() << QByteArray("2") << 120;
    QTest::newRow("stamped file, seconds") << QByteArray("Major=2\r\n") << QByteArray("5") << 5;
    QTest::newRow("any version part counts") << QByteArray("Revision=6\r\n") << QByteArray("5") << 5;
    QTest::newRow("zero version is old")
        << QByteArray("Major=0\r\nMinor=0\r\nRevision=0\r\n") << QByteArray("5") << 300;
    QTest::newRow("non-numeric version is old") << QByteArray("Major=abc\r\n") << QByteArray("3") << 180;
    QTest::newRow("zero, stamped") << QByteArray("Major=2\r\nMinor=66\r\nRevision=6\r\n") << QByteArray("0")
                                   << 300;
    QTest::newRow("zero, old") << QByteArray() << QByteArray("0") << 300;
    QTest::newRow("missing") << QByteArray("Major=2\r\n") << QByteArray() << 300;
    QTest::newRow("minutes that overflow") << QByteArray() << QByteArray("40000000") << 300;
}

void TstSettings::autoCaptTimVersionRule()
{
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, stored);
    QFETCH(int, expected);
    writeBytes(m_ini, "[ZorvinSetting]\r\nAutoCaptTim=" + stored + "\r\n[Zorvin]\r\n" + version);
    QCOMPARE(load().AutoCaptTim, expected);
}

void TstSettings::numberReaders_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("expected");
    // Keys with an own default take it only when empty; a value that does not convert
    // leaves 0.
    QTest::newRow("own default, empty") << QByteArray("ActCaptMode") << QByteArray("") << 1;
    QTest::newRow("own default, text") << QByteArray("ActCaptMode") << QByteArray("abc") << 0;
    QTest::newRow("own default, zero") << QByteArray("ActCaptMode") << QByteArray("0") << 0;
    QTest::newRow("own default, 256") << QByteArray("LDblClick") << QByteArray("256") << 0;
    QTest::newRow("own default, value") << QByteArray("JpegComp") << QByteArray("75") << 75;
    QTest::newRow("flag 1") << QByteArray("CaptAutoSave") << QByteArray("1") << 1;
    QTest::newRow("flag 256") << QByteArray("CaptAutoSave") << QByteArray("256") << 0;
    QTest::newRow("flag -1") << QByteArray("CaptAutoSave") << QByteArray("-1") << 0;
    QTest::newRow("flag fraction") << QByteArray("CaptAutoSave") << QByteArray("1.5") << 0;
    QTest::newRow("bold 255") << QByteArray("MsgFontBold") << QByteArray("255") << 255;
    QTest::newRow("bold 1") << QByteArray("MsgFontBold") << QByteArray("1") << 1;
    QTest::newRow("italic 255") << QByteArray("MsgFontItalic") << QByteArray("255") << 255;
    QTest::newRow("int16 own default, empty") << QByteArray("MsgFontSize") << QByteArray("") << 9;
    QTest::newRow("int16 own default, text") << QByteArray("SndMsgRRTim") << QByteArray("x") << 0;
    QTest::newRow("int16 too big") << QByteArray("MsgFontSize") << QByteArray("70000") << 0;
    QTest::newRow("int16 negative") << QByteArray("SndMsgRRTim") << QByteArray("-3") << -3;
    QTest::newRow("int32 position") << QByteArray("RPicPosTop") << QByteArray("-2400") << -2400;
    QTest::newRow("int32 too big") << QByteArray("RMsgPosLeft") << QByteArray("3000000000") << 0;
}

void TstSettings::numberReaders()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, stored);
    QFETCH(int, expected);
    writeBytes(m_ini, "[Zorvin]\r\nMajor=2\r\n[ZorvinSetting]\r\n" + key + "=" + stored + "\r\n");
    const Settings s = load();
    const QHash<QByteArray, int> fields{{"ActCaptMode", s.ActCaptMode}, {"LDblClick", s.LDblClick},
                                        {"JpegComp", s.JpegComp},       {"CaptAutoSave", s.CaptAutoSave},
                                        {"MsgFontBold", s.MsgFontBold}, {"MsgFontItalic", s.MsgFontItalic},
                                        {"MsgFontSize", s.MsgFontSize}, {"SndMsgRRTim", s.SndMsgRRTim},
                                        {"RPicPosTop", s.RPicPosTop},   {"RMsgPosLeft", s.RMsgPosLeft}};
    QVERIFY(fields.contains(key));
    QCOMPARE(fields.value(key), expected);
}

void TstSettings::textRules()
{
    writeBytes(m_ini, "[ZorvinSetting]\r\n"
                      "Name=\r\n"
                      "Grp=\x89\x63\x8b\xc6\r\n"
                      "CaptAutoSaveName=Noting\r\n"
                      "RecvAutoSaveName=noting\r\n"
                      "MsgLogType=1\r\n"
                      "MsgLogName=\r\n"
                      "RecvFileSavePlace=/srv/in\r\n"
                      "MsgLogSavePlace=/var/log/z\r\n"
                      "KeyMenu=Ctrl+Alt+M\r\n"
                      "KeyCapt4=Ctrl+4\r\n");
    const Settings s = load();
    QCOMPARE(s.Name, QStringLiteral("未設定"));
    QCOMPARE(s.Grp, QStringLiteral("営業"));
    QCOMPARE(s.CaptAutoSaveName, QString());
    // Only the exact word stands for the empty prefix.
    QCOMPARE(s.RecvAutoSaveName, QStringLiteral("noting"));
    QCOMPARE(s.MsgLogName, QString());
    QCOMPARE(s.RecvFileSavePlace, QStringLiteral("/srv/in"));
    QVERIFY(!QFileInfo::exists(m_programDir + QStringLiteral("RECVFILE")));
    QCOMPARE(s.MsgLogSavePlace, QStringLiteral("/var/log/z"));
    const std::array<QString, 6> keys{
        QStringLiteral("Ctrl+Alt+M"), QString(), QString(), QString(), QString(), QStringLiteral("Ctrl+4")};
    QCOMPARE(s.HotKeys, keys);
}

void TstSettings::storedFormsLoadBack()
{
    const SettingsFile file(m_ini);
    file.WriteSetting("ZorvinSetting", "CaptAutoSaveName", StoredAutoSavePrefix(QString()));
    file.WriteSetting("ZorvinSetting", "RecvAutoSaveName", StoredAutoSavePrefix(QStringLiteral("pic")));
    file.WriteSetting("ZorvinSetting", "MsgFontBold", StoredFontFlag(true));
    file.WriteSetting("ZorvinSetting", "MsgFontItalic", StoredFontFlag(false));
    QCOMPARE(readBytes(m_ini),
             QByteArray("[ZorvinSetting]\r\nCaptAutoSaveName=Noting\r\nRecvAutoSaveName=pic\r\n"
                        "MsgFontBold=255\r\nMsgFontItalic=0\r\n"));
    const Settings s = load();
    QCOMPARE(s.CaptAutoSaveName, QString());
    QCOMPARE(s.RecvAutoSaveName, QStringLiteral("pic"));
    QCOMPARE(s.MsgFontBold, 255);
    QCOMPARE(s.MsgFontItalic, 0);
}

void TstSettings::storableTextsReadBackExactly_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("storable");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("japanese") << QStringLiteral("営業 ｶﾅ／部") << true;
    QTest::newRow("inner blanks") << QStringLiteral("a b\tc") << true;
    QTest::newRow("1023 bytes") << QString(511, QChar(0x55B6)) + u'x' << true;
    QTest::newRow("1024 bytes") << QString(512, QChar(0x55B6)) << false;
    QTest::newRow("leading blank") << QStringLiteral(" a") << false;
    QTest::newRow("trailing tab") << QStringLiteral("a\t") << false;
    QTest::newRow("outside cp932") << QStringLiteral("caf\u00e9") << false;
    QTest::newRow("emoji") << QStringLiteral("a\U0001F600") << false;
    QTest::newRow("line break") << QStringLiteral("a\nb") << false;
}

void TstSettings::storableTextsReadBackExactly()
{
    QFETCH(QString, value);
    QFETCH(bool, storable);
    QCOMPARE(IsStorableSettingText(value), storable);
    // What the check accepts, the file gives back unchanged; what it refuses, it would not.
    const SettingsFile file(m_ini);
    file.WriteSetting(QStringLiteral("S"), QStringLiteral("K"), value);
    QCOMPARE(file.ReadSetting(QStringLiteral("S"), QStringLiteral("K")) == value, storable);
    QCOMPARE(TrimSettingBlanks(QStringLiteral(" \t x y\t ")), QStringLiteral("x y"));
}

// Every key of the table, set to something other than its default, written by its row and
// loaded back: the whole record comes back, the file holds the keys in table order in their
// stored forms, and a key the program does not know stays where it was.
void TstSettings::everyTableRowRoundTrips()
{
    writeBytes(m_ini, "[Zorvin]\r\nMajor=2\r\n[ZorvinSetting]\r\nFutureKey=x\r\n; note\r\n");
    Settings expected = load();
    QStringList keys;
    for (const SettingRow &row : SettingRows()) {
        keys << QLatin1String(row.key);
        if (IsTextSetting(row)) {
            SettingText(expected, row) = QStringLiteral("値") + QLatin1String(row.key);
        } else {
            // Inside every type, and neither 0 nor any default (1, 9, 10, 15, 300).
            const qint64 sample = row.form == SettingForm::FontFlag ? 255 : 7 + keys.size();
            QVERIFY(SetSettingNumber(expected, row, sample));
        }
    }
    QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    QCOMPARE(keys.size(), 74); // every field of the record but the password

    for (const SettingRow &row : SettingRows()) {
        QString error;
        QVERIFY2(WriteSettingRow(SettingsFile(m_ini), expected, row, &error), qPrintable(error));
    }
    const QByteArray bytes = readBytes(m_ini);
    QVERIFY(bytes.startsWith("[Zorvin]\r\nMajor=2\r\n[ZorvinSetting]\r\nFutureKey=x\r\n"));
    QVERIFY(bytes.endsWith("; note\r\n"));
    QVERIFY(bytes.contains("\r\nMsgFontBold=255\r\n"));
    QVERIFY(bytes.contains("\r\nName=\x92\x6c" + QByteArray("Name") + "\r\n"));
    qsizetype at = 0;
    for (const QString &key : keys) {
        const qsizetype next = bytes.indexOf("\r\n" + key.toLatin1() + '=', at);
        QVERIFY2(next > at, qPrintable(key));
        at = next;
    }
    Settings loaded = load();
    QCOMPARE(loaded, expected);
    QCOMPARE(SettingsFile(m_ini).ReadSetting("ZorvinSetting", "FutureKey"), QStringLiteral("x"));

    // Empty prefixes go through their stored form.
    expected.CaptAutoSaveName.clear();
    expected.RecvAutoSaveName.clear();
    QVERIFY(WriteSettingKey(SettingsFile(m_ini), expected, QLatin1StringView("CaptAutoSaveName")));
    QVERIFY(WriteSettingKey(SettingsFile(m_ini), expected, QLatin1StringView("RecvAutoSaveName")));
    QVERIFY(readBytes(m_ini).contains("\r\nCaptAutoSaveName=Noting\r\n"));
    loaded = load();
    QCOMPARE(loaded, expected);
}

// Every number key with a value its type cannot hold or that is no number, and every key
// left empty: the first leave 0 (the reset record; AutoCaptTim then takes its 300), the
// empty ones give the table's default.
void TstSettings::tableRowsOutOfRangeOrAbsent()
{
    const Settings defaults = load();
    for (const SettingRow &row : SettingRows()) {
        const QByteArray key(row.key);
        if (IsTextSetting(row)) {
            writeBytes(m_ini, "[Zorvin]\r\nMajor=2\r\n[ZorvinSetting]\r\n" + key + "=\r\n");
            QCOMPARE(SettingText(load(), row), SettingText(defaults, row));
            continue;
        }
        const qint64 low = std::holds_alternative<uint8_t Settings::*>(row.field)   ? 0
                           : std::holds_alternative<int16_t Settings::*>(row.field) ? -32768
                                                                                    : -2147483648LL;
        const qint64 high = std::holds_alternative<uint8_t Settings::*>(row.field)   ? 255
                            : std::holds_alternative<int16_t Settings::*>(row.field) ? 32767
                                                                                     : 2147483647LL;
        const qint64 refused = row.absent == SettingAbsent::FallbackAlsoForZero ? 300 : 0;
        for (const auto &[stored, expected] :
             std::initializer_list<std::pair<QByteArray, qint64>>{{QByteArray::number(low - 1), refused},
                                                                  {QByteArray::number(high + 1), refused},
                                                                  {"12abc", refused},
                                                                  {QByteArray::number(high), high},
                                                                  {"", SettingNumber(defaults, row)}}) {
            writeBytes(m_ini, "[Zorvin]\r\nMajor=2\r\n[ZorvinSetting]\r\n" + key + "=" + stored + "\r\n");
            QVERIFY2(SettingNumber(load(), row) == expected, key + '=' + stored);
        }
    }
}

void TstSettings::runningNumbersWrapAndWaitForCommit()
{
    const SettingsFile file(m_ini);
    QCOMPARE(RunningNumber(file, RunningNumber::AutoCaptNo, false).text(), QStringLiteral("00001"));
    QCOMPARE(RunningNumber(file, RunningNumber::AutoRecvNo, false).text(), QStringLiteral("00001"));
    // Nothing is written until the caller says its file exists.
    QVERIFY(!QFile::exists(m_ini));

    writeBytes(m_ini, "[ZorvinSetting]\r\nAutoCaptNo=99999\r\nAutoRecvNo=99999\r\n");
    const RunningNumber capture(file, RunningNumber::AutoCaptNo, false);
    const RunningNumber receive(file, RunningNumber::AutoRecvNo, false);
    QCOMPARE(capture.text(), QStringLiteral("00001"));
    QCOMPARE(receive.text(), QStringLiteral("00000"));
    capture.Commit();
    receive.Commit();
    QCOMPARE(readBytes(m_ini), QByteArray("[ZorvinSetting]\r\nAutoCaptNo=00001\r\nAutoRecvNo=00000\r\n"));
    QCOMPARE(RunningNumber(file, RunningNumber::AutoCaptNo, false).text(), QStringLiteral("00002"));
    QCOMPARE(RunningNumber(file, RunningNumber::AutoRecvNo, false).text(), QStringLiteral("00001"));

    QCOMPARE(RunningNumber::next(QStringLiteral("41"), RunningNumber::AutoCaptNo), 42);
    QCOMPARE(RunningNumber::next(QStringLiteral("99998"), RunningNumber::AutoRecvNo), 99999);
    QCOMPARE(RunningNumber::next(QStringLiteral("junk"), RunningNumber::AutoCaptNo), 1);
    QCOMPARE(RunningNumber::next(QStringLiteral("-7"), RunningNumber::AutoRecvNo), 1);
}

void TstSettings::fixedNameResetsRunningNumber()
{
    writeBytes(m_ini, "[ZorvinSetting]\r\nAutoCaptNo=00041\r\n");
    const SettingsFile file(m_ini);
    const RunningNumber fixed(file, RunningNumber::AutoCaptNo, true);
    QCOMPARE(fixed.text(), QString());
    QCOMPARE(readBytes(m_ini), QByteArray("[ZorvinSetting]\r\nAutoCaptNo=00041\r\n"));
    fixed.Commit();
    QCOMPARE(readBytes(m_ini), QByteArray("[ZorvinSetting]\r\nAutoCaptNo=0\r\n"));
    QCOMPARE(RunningNumber(file, RunningNumber::AutoCaptNo, false).text(), QStringLiteral("00001"));
}

void TstSettings::versionStampIsWritten()
{
    writeBytes(m_ini, "[ZorvinSetting]\r\nAutoCaptTim=5\r\n");
    QCOMPARE(load().AutoCaptTim, 300);
    WriteVersionStamp(SettingsFile(m_ini));
    QCOMPARE(
        readBytes(m_ini),
        QByteArray("[ZorvinSetting]\r\nAutoCaptTim=5\r\n[Zorvin]\r\nMajor=2\r\nMinor=66\r\nRevision=6\r\n"));
    QCOMPARE(load().AutoCaptTim, 5);
}

QTEST_APPLESS_MAIN(TstSettings)
#include "tst_settings.moc"
