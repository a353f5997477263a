// The password file: its exact bytes (ASCII, Japanese, a 12-character password that reuses
// the key's start), the way back, missing, empty and unreadable files, owner-only access.
#include "base/ModZorvin.h"
#include "password/PasswordFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_PasswordFile : public QObject
{
    Q_OBJECT
  private slots:
    void bytesOfAStoredPassword_data();
    void bytesOfAStoredPassword();
    void missingEmptyOrUnreadableFileMeansNoPassword();
    void damagedFileNeverGivesTheOldPassword();
    void fileIsReplacedAndOwnerOnly();
    void charactersOutsideTheCodePageAreNotStorable();
};

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void tst_PasswordFile::bytesOfAStoredPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QStringLiteral("abc") << QByteArray::fromHex("2d170e");
    // Bytes 11 and 12 take the key's first two letters again.
    QTest::newRow("twelve characters")
        << QStringLiteral("Secret-Pass1") << QByteArray::fromHex("1f100e1b310648352a2b3f44");
    // Two characters, four bytes: the key runs over bytes, not characters.
    QTest::newRow("japanese") << QStringLiteral("パス") << QByteArray::fromHex("cf05ee31");
    QTest::newRow("half-width kana and digits")
        << QStringLiteral("ﾊﾟｽ12") << QByteArray::fromHex("86aad05866");
}

void tst_PasswordFile::bytesOfAStoredPassword()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    ModZorvin ctx;
    ctx.ProgramDir = dir.path() + QLatin1Char('/');
    QVERIFY(PasswordFile::save(ctx.PasswordPath(), password));
    QCOMPARE(readAll(ctx.PasswordPath()), bytes);

    ctx.settings.Password = QStringLiteral("stale");
    PasswordFile::LoadPassword(ctx);
    QCOMPARE(ctx.settings.Password, password);
}

void tst_PasswordFile::missingEmptyOrUnreadableFileMeansNoPassword()
{
    QTemporaryDir dir;
    ModZorvin ctx;
    ctx.ProgramDir = dir.path() + QLatin1Char('/');
    ctx.settings.Password = QStringLiteral("stale");
    PasswordFile::LoadPassword(ctx);
    QCOMPARE(ctx.settings.Password, QString());

    // An empty password is stored as an empty file, which loads as no password.
    QVERIFY(PasswordFile::save(ctx.PasswordPath(), QStringLiteral("x")));
    QVERIFY(PasswordFile::save(ctx.PasswordPath(), QString()));
    QCOMPARE(QFileInfo(ctx.PasswordPath()).size(), 0);
    ctx.settings.Password = QStringLiteral("stale");
    PasswordFile::LoadPassword(ctx);
    QCOMPARE(ctx.settings.Password, QString());

    // A folder in the file's place can be neither read nor replaced.
    QVERIFY(QFile::remove(ctx.PasswordPath()));
    QVERIFY(QDir().mkpath(ctx.PasswordPath()));
    ctx.settings.Password = QStringLiteral("stale");
    PasswordFile::LoadPassword(ctx);
    QCOMPARE(ctx.settings.Password, QString());
    QVERIFY(!PasswordFile::save(ctx.PasswordPath(), QStringLiteral("abc")));
}

void tst_PasswordFile::damagedFileNeverGivesTheOldPassword()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zorvinpw.dat"));
    QVERIFY(PasswordFile::save(path, QStringLiteral("パス")));
    // The second byte of a double-byte character lost: what is left does not decode, and
    // loading must neither fail nor come back as the password or its first character.
    QByteArray bytes = readAll(path);
    bytes.truncate(3);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    const QString loaded = PasswordFile::load(path);
    QVERIFY(loaded.startsWith(QStringLiteral("パ")));
    QVERIFY(loaded != QStringLiteral("パス"));
    QVERIFY(loaded != QStringLiteral("パ"));
}

void tst_PasswordFile::fileIsReplacedAndOwnerOnly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zorvinpw.dat"));
    QVERIFY(PasswordFile::save(path, QStringLiteral("a-long-pass!")));
    QVERIFY(PasswordFile::save(path, QStringLiteral("ab")));
    // The shorter password leaves nothing of the longer one behind.
    QCOMPARE(readAll(path), QByteArray::fromHex("2d17"));
    QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                         QFileDevice::WriteGroup | QFileDevice::WriteOther),
             QFileDevice::Permissions());
    QVERIFY(QFile::permissions(path) & QFileDevice::ReadOwner);
    // No temporary file stays beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("zorvinpw.dat")});
}

void tst_PasswordFile::charactersOutsideTheCodePageAreNotStorable()
{
    QVERIFY(PasswordFile::storable(QString()));
    QVERIFY(PasswordFile::storable(QStringLiteral("Abc-ﾊﾟｽワード漢字")));
    QVERIFY(!PasswordFile::storable(QStringLiteral("pass€")));
    QVERIFY(!PasswordFile::storable(QStringLiteral("한글")));
    QVERIFY(!PasswordFile::storable(QStringLiteral("pass?") + QChar(0x00e9)));
}

QTEST_GUILESS_MAIN(tst_PasswordFile)
#include "tst_passwordfile.moc"
