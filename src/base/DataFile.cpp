#include "base/DataFile.h"

#include <QFile>
#include <QFileInfo>

namespace DataFile {

Read readLimited(const QString &path, qint64 maxBytes)
{
    Read r;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return r;
    r.opened = true;
    r.bytes = file.read(maxBytes);
    if (file.error() != QFileDevice::NoError) {
        r.bytes.clear();
        r.opened = false;
        return r;
    }
    char more = 0;
    r.whole = file.read(&more, 1) == 0;
    if (!r.whole) {
        const qsizetype lastBreak = qMax(r.bytes.lastIndexOf('\n'), r.bytes.lastIndexOf('\r'));
        r.bytes.truncate(lastBreak + 1);
    }
    return r;
}

QString keepBeside(const QString &path)
{
    for (int i = 1; i <= 9; ++i) {
        const QString kept = path + QStringLiteral(".bak") + (i == 1 ? QString() : QString::number(i));
        if (QFileInfo::exists(kept) || QFileInfo(kept).isSymLink())
            continue;
        return QFile::rename(path, kept) ? kept : QString();
    }
    return QString();
}

QString keepBesideLine(const QString &path)
{
    const QString kept = keepBeside(path);
    const QString name = QFileInfo(path).fileName();
    return kept.isEmpty() ? name + QStringLiteral(" (残せませんでした)\r")
                          : name + QStringLiteral(" → ") + QFileInfo(kept).fileName() + QLatin1Char('\r');
}

QString keptFilesMessage(const QString &lines)
{
    return QStringLiteral("次のデータファイルは大きすぎるか壊れているため、読み込めた部分だけを使います。"
                          "元のファイルは名前を変えて残しました。\r\r") +
           lines;
}

} // namespace DataFile
