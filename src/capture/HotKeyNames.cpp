#include "capture/HotKeyNames.h"

#include "base/SettingsTable.h"

#include <array>

namespace HotKeyNames {

namespace {

struct NamedKey
{
    const char16_t *name;
    int code;
};

// The names that are not a letter, a digit or a function key.
constexpr std::array<NamedKey, 12> kNamedKeys{{
    {u"Space", 32},
    {u"Tab", 9},
    {u"Esc", 27},
    {u"Page Up", 33},
    {u"Page Down", 34},
    {u"Home", 36},
    {u"Insert", 45},
    {u"Delete", 46},
    {u"↑", 38},
    {u"↓", 40},
    {u"←", 37},
    {u"→", 39},
}};

} // namespace

QString IdText(int item)
{
    return QString::number(kFirstId + item);
}

QString SettingKey(int item)
{
    return QLatin1String(HotKeyRow(item).key);
}

QString FailureLabel(int item)
{
    static const char16_t *const labels[kCount] = {
        u"ﾒﾆｭｰ表示 : ",        u"ﾃﾞｽｸﾄｯﾌﾟ全体 : ",        u"ﾃﾞｽｸﾄｯﾌﾟ全体･ﾀｽｸﾊﾞｰ領域除く : ",
        u"ﾃﾞｽｸﾄｯﾌﾟ領域指定 :", u"ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･全領域 : ", u"ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･ｸﾗｲｱﾝﾄ領域 : ",
    };
    return item >= 0 && item < kCount ? QString::fromUtf16(labels[item]) : QString();
}

QString Caption(int item)
{
    static const char16_t *const captions[kCount] = {
        u"ﾒﾆｭｰ表示",         u"ﾃﾞｽｸﾄｯﾌﾟ全体",        u"ﾃﾞｽｸﾄｯﾌﾟ全体･ﾀｽｸﾊﾞｰ領域除く",
        u"ﾃﾞｽｸﾄｯﾌﾟ領域指定", u"ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･全領域", u"ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳ･ｸﾗｲｱﾝﾄ領域",
    };
    return item >= 0 && item < kCount ? QString::fromUtf16(captions[item]) : QString();
}

QString GetstrKey(const QString &keyText)
{
    const qsizetype plus = keyText.lastIndexOf(u'+');
    return plus < 0 ? keyText : keyText.mid(plus + 1);
}

int ModifierMask(const QString &keyText)
{
    int mask = 0;
    if (keyText.contains(QLatin1String("Ctrl")))
        mask |= kCtrl;
    if (keyText.contains(QLatin1String("Alt")))
        mask |= kAlt;
    if (keyText.contains(QLatin1String("Shift")))
        mask |= kShift;
    return mask;
}

int VirtualKeyCode(const QString &keyName)
{
    for (const NamedKey &key : kNamedKeys) {
        if (keyName == QStringView(key.name))
            return key.code;
    }
    if (keyName.size() >= 2 && keyName.startsWith(u'F')) {
        bool ok = false;
        const int number = keyName.mid(1).toInt(&ok);
        // Only plain digits: "F+1" or "F 1" name no key.
        if (ok && number >= 1 && number <= 12 && keyName.mid(1) == QString::number(number))
            return 111 + number;
    }
    if (keyName.size() == 1) {
        const char16_t c = keyName.front().unicode();
        if ((c >= u'A' && c <= u'Z') || (c >= u'1' && c <= u'9'))
            return int(c);
    }
    return 0;
}

QString KeyText(bool ctrl, bool alt, bool shift, const QString &keyName)
{
    QString text;
    if (ctrl)
        text += QLatin1String("Ctrl+");
    if (alt)
        text += QLatin1String("Alt+");
    if (shift)
        text += QLatin1String("Shift+");
    return text + keyName;
}

QList<KeyListEntry> KeyList()
{
    QList<KeyListEntry> keys;
    for (char16_t c = u'A'; c <= u'Z'; ++c)
        keys.append({QString(QChar(c)), int(c)});
    for (int n = 1; n <= 12; ++n)
        keys.append({QStringLiteral("F%1").arg(n), 111 + n});
    for (const NamedKey &key : kNamedKeys)
        keys.append({QString::fromUtf16(key.name), key.code});
    for (char16_t c = u'1'; c <= u'9'; ++c)
        keys.append({QString(QChar(c)), int(c)});
    return keys;
}

} // namespace HotKeyNames
