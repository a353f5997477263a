#include "password/PasswordFile.h"

#include "base/AnsiCodec.h"
#include "base/DataFile.h"
#include "base/ModZorvin.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace PasswordFile {

namespace {
constexpr char kKey[] = "LumiTreeKX";
constexpr qsizetype kKeyLength = sizeof(kKey) - 1;
} // namespace

QByteArray scramble(QByteArrayView bytes)
{
    QByteArray out(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = char(bytes[i] ^ kKey[i % kKeyLength]);
    return out;
}

QString load(const QString &path, bool *whole)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.read(kMaxFileBytes);
    char more = 0;
    const bool all = file.read(&more, 1) == 0;
    if (whole)
        *whole = all;
    const QString password = AnsiCodec::decode(scramble(bytes));
    return all ? password : password.left(kMaxChars);
}

bool save(const QString &path, const QString &password)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The password is a secret even if a weak one: other users of the machine keep out.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = scramble(AnsiCodec::encode(password));
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool storable(const QString &password)
{
    return AnsiCodec::decode(AnsiCodec::encode(password)) == password;
}

QString LoadPassword(ModZorvin &ctx)
{
    bool whole = true;
    ctx.settings.Password = load(ctx.PasswordPath(), &whole);
    if (whole)
        return QString();
    const QString line = DataFile::keepBesideLine(ctx.PasswordPath());
    if (!QFileInfo::exists(ctx.PasswordPath()))
        save(ctx.PasswordPath(), ctx.settings.Password);
    return line;
}

} // namespace PasswordFile
