#include "app/StartupChecks.h"

#include "base/ModZorvin.h"
#include "base/Settings.h"

#include <QFileInfo>

namespace {

// An empty path is a folder that was never configured, not a missing one.
bool folderMissing(const QString &path)
{
    return !path.isEmpty() && !QFileInfo(path).isDir();
}

QString line(const QString &label, const QString &path)
{
    return label + path + QLatin1Char('\r');
}

} // namespace

QString MissingFolderLines(const Settings &s)
{
    QString lines;
    if (s.CaptAutoSave == 1 && folderMissing(s.CaptAutoSavePlace))
        lines += line(QStringLiteral("キャプチャ画像の自動保存先："), s.CaptAutoSavePlace);
    if (s.RecvAutoSave == 1 && folderMissing(s.RecvAutoSavePlace))
        lines += line(QStringLiteral("受信画像の自動保存先："), s.RecvAutoSavePlace);
    if (folderMissing(s.RecvFileSavePlace))
        lines += line(QStringLiteral("受信ファイルの保存先："), s.RecvFileSavePlace);
    if (s.MsgLog == 1 && folderMissing(s.MsgLogSavePlace))
        lines += line(QStringLiteral("メッセージログファイルの保存先："), s.MsgLogSavePlace);
    return lines;
}

QString MissingFoldersMessage(const QString &lines)
{
    return QStringLiteral("オプションで指定されている以下のフォルダが見つかりません。\r\r") + lines;
}

QString PortInUseAdvice(quint16 port)
{
    return QStringLiteral("ポート %1 は他のプログラム、または既に起動している別の%2が使用しています。")
               .arg(port)
               .arg(QString::fromUtf8(kProductName)) +
           QLatin1Char('\r') +
           QStringLiteral("--bind-address で別のアドレスを、--port で別のポートを指定して起動できます。");
}
