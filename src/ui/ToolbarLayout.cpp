#include "ui/ToolbarLayout.h"

#include <QSet>
#include <QSettings>

#include <array>

namespace ToolbarLayout {

namespace {

constexpr std::array<ToolButtonDef, 27> kButtons{{
    {1, "FileOpen", "開く"},
    {2, "FileSave", "保存"},
    {3, "Print", "印刷"},
    {4, "", ""},
    {5, "CaptDeskTop", "ﾃﾞｽｸﾄｯﾌﾟ全体"},
    {6, "CaptDeskTop1", "ﾃﾞｽｸﾄｯﾌﾟ全体･ﾀｽｸﾊﾞｰ領域除く"},
    {7, "CaptRect", "ﾃﾞｽｸﾄｯﾌﾟ領域指定"},
    {8, "CaptAct", "ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･全領域"},
    {9, "CaptAct1", "ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･ｸﾗｲｱﾝﾄ領域"},
    {10, "CaptClear", "ｸﾘｱ"},
    {11, "", ""},
    {12, "PicTran", "画像転送"},
    {13, "MessTran", "ﾒｯｾｰｼﾞ送信"},
    {14, "FileTran", "ﾌｧｲﾙ転送"},
    {15, "", ""},
    {16, "ClipCut", "切り取り"},
    {17, "ClipCopy", "ｺﾋﾟｰ"},
    {18, "ClipPest", "貼り付け"},
    {19, "", ""},
    {20, "WallCenter", "壁紙･中央に表示"},
    {21, "WallTile", "壁紙･並べて表示"},
    {22, "", ""},
    {23, "AddrBook", "ｱﾄﾞﾚｽ帳"},
    {24, "Paint", "外部ﾂｰﾙ"},
    {25, "", ""},
    {26, "Config", "設定"},
    {27, "Help", "ﾍﾙﾌﾟ"},
}};

} // namespace

std::span<const ToolButtonDef> Buttons()
{
    return kButtons;
}

const ToolButtonDef *ButtonByKey(const QString &key)
{
    if (key.isEmpty())
        return nullptr;
    for (const ToolButtonDef &def : kButtons) {
        if (key == QLatin1String(def.key))
            return &def;
    }
    return nullptr;
}

const ToolButtonDef *ButtonAt(int position)
{
    if (position < 1 || position > int(kButtons.size()))
        return nullptr;
    return &kButtons[size_t(position - 1)];
}

QStringList DefaultLayout()
{
    QStringList layout;
    for (const ToolButtonDef &def : kButtons)
        layout << (def.isSeparator() ? QString::fromLatin1(kSeparator) : QString::fromLatin1(def.key));
    return layout;
}

QStringList Sanitized(const QStringList &layout)
{
    QStringList result;
    QSet<QString> seen;
    bool hasButton = false;
    for (const QString &entry : layout) {
        if (entry == QLatin1String(kSeparator)) {
            result << entry;
            continue;
        }
        if (!ButtonByKey(entry) || seen.contains(entry))
            continue;
        seen.insert(entry);
        result << entry;
        hasButton = true;
    }
    return hasButton ? result : DefaultLayout();
}

QStringList Load()
{
    QSettings store(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    const QStringList saved = store.value(QString::fromLatin1(kKey)).toStringList();
    return saved.isEmpty() ? DefaultLayout() : Sanitized(saved);
}

void Save(const QStringList &layout)
{
    QSettings store(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    store.setValue(QString::fromLatin1(kKey), Sanitized(layout));
}

} // namespace ToolbarLayout
