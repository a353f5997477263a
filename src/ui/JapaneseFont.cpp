#include "ui/JapaneseFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QRegularExpression>
#include <QStringList>

namespace JapaneseFont {

namespace {

// In order of preference within each style; the IPA fonts come with the package. Qt lists
// a family under its name in the user's language, so both names are looked for.
const QStringList kGothicProportional{
    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),    QStringLiteral("IPA Pゴシック"),
    QStringLiteral("IPAexGothic"),      QStringLiteral("IPAexゴシック"), QStringLiteral("VL PGothic"),
    QStringLiteral("TakaoPGothic"),     QStringLiteral("IPAGothic"),     QStringLiteral("IPAゴシック")};
const QStringList kGothicFixed{
    QStringLiteral("IPAGothic"),     QStringLiteral("IPAゴシック"), QStringLiteral("Noto Sans Mono CJK JP"),
    QStringLiteral("VL Gothic"),     QStringLiteral("TakaoGothic"), QStringLiteral("IPAexGothic"),
    QStringLiteral("IPAexゴシック"), QStringLiteral("IPAPGothic"),  QStringLiteral("IPA Pゴシック")};
const QStringList kMinchoProportional{QStringLiteral("Noto Serif CJK JP"), QStringLiteral("IPAPMincho"),
                                      QStringLiteral("IPA P明朝"),         QStringLiteral("IPAexMincho"),
                                      QStringLiteral("IPAex明朝"),         QStringLiteral("TakaoPMincho"),
                                      QStringLiteral("IPAMincho"),         QStringLiteral("IPA明朝")};
const QStringList kMinchoFixed{QStringLiteral("IPAMincho"),   QStringLiteral("IPA明朝"),
                               QStringLiteral("TakaoMincho"), QStringLiteral("IPAexMincho"),
                               QStringLiteral("IPAex明朝"),   QStringLiteral("IPAPMincho"),
                               QStringLiteral("IPA P明朝"),   QStringLiteral("Noto Serif CJK JP")};

} // namespace

bool coversJapanese(const QString &family)
{
    return !family.isEmpty() && QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese);
}

QString installedFamily(const QString &like)
{
    const bool mincho =
        like.contains(QStringLiteral("明朝")) || like.contains(QStringLiteral("Mincho"), Qt::CaseInsensitive);
    // "ＭＳ Ｐゴシック", "MS PGothic": the P names are the proportional ones.
    static const QRegularExpression proportional(QStringLiteral("(Ｐ|P)\\s*(ゴシック|明朝|Gothic|Mincho)"),
                                                 QRegularExpression::CaseInsensitiveOption);
    const bool fixed = !like.isEmpty() && !proportional.match(like).hasMatch();
    const QStringList &choices =
        mincho ? (fixed ? kMinchoFixed : kMinchoProportional) : (fixed ? kGothicFixed : kGothicProportional);
    const QStringList installed = QFontDatabase::families(QFontDatabase::Japanese);
    for (const QString &family : choices) {
        for (const QString &listed : installed) {
            if (listed.compare(family, Qt::CaseInsensitive) == 0)
                return listed;
        }
    }
    return installed.value(0);
}

QFont uiFont(const QFont &desktop)
{
    if (coversJapanese(QFontInfo(desktop).family()))
        return desktop;
    const QString family = installedFamily();
    if (family.isEmpty())
        return desktop;
    QFont font = desktop;
    font.setFamilies({family});
    return font;
}

QString shownFamily(const QString &name)
{
    const QString matched = QFontInfo(QFont(name)).family();
    if (coversJapanese(matched))
        return matched;
    const QString family = installedFamily(name);
    return family.isEmpty() ? matched : family;
}

} // namespace JapaneseFont
