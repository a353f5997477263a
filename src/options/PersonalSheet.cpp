#include "options/PersonalSheet.h"

#include "base/ModZorvin.h"
#include "base/SettingsTable.h"
#include "net/NetEngine.h"
#include "options/FrmOptGrpList.h"
#include "options/OptionControls.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PersonalSheet::PersonalSheet(ModZorvin &ctx, NetEngine &engine) : OptionsSheet(ctx, 1), m_engine(engine)
{
    auto *frame = makeFrame(this, "個人情報");
    TxtGrp = makeBox(frame, "TxtGrp", entryLimitOf("Grp"));
    TxtName = makeBox(frame, "TxtName", entryLimitOf("Name"));
    TxtName->setMinimumWidth(TxtName->fontMetrics().horizontalAdvance(QString(16, QChar(0x5168))));
    CmdGrpList = makeButton(frame, "CmdGrpList", "参照");
    connect(CmdGrpList, &QPushButton::clicked, this, &PersonalSheet::onCmdGrpListClicked);
    auto *grid = new QGridLayout(frame);
    grid->addWidget(makeLabel(frame, "ｸﾞﾙｰﾌﾟ名：", TxtGrp), 0, 0);
    grid->addWidget(TxtGrp, 0, 1);
    grid->addWidget(CmdGrpList, 0, 2);
    grid->addWidget(makeLabel(frame, "名前：", TxtName), 1, 0);
    grid->addWidget(TxtName, 1, 1);
    auto *explanation = makeLabel(this, "ｸﾞﾙｰﾌﾟ名及び名前は、ﾈｯﾄﾜｰｸ上の他の利用者のｱﾄﾞﾚｽ帳に\n"
                                        "表示されます。２４文字以内で入力してください。\n"
                                        "ｸﾞﾙｰﾌﾟ名は「参照」で既に使われているものから選べます。");
    explanation->setObjectName(QStringLiteral("LblPersonalExp"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);
    layout->addWidget(explanation);

    m_bindings.text("Grp", TxtGrp);
}

void PersonalSheet::load()
{
    OptionsSheet::load();
    // "未設定" is how the file says that no name was given.
    TxtName->setText(m_ctx.settings.Name == UnsetName() ? QString() : m_ctx.settings.Name);
}

bool PersonalSheet::save(SheetSave &save)
{
    if (!save.checkTexts(QStringLiteral("個人情報"), {TxtGrp, TxtName}))
        return false;
    save.settings().Name = textOf(TxtName).isEmpty() ? UnsetName() : textOf(TxtName);
    save.rest();
    return true;
}

void PersonalSheet::onCmdGrpListClicked()
{
    auto *list = new FrmOptGrpList(m_engine.addresses(), window());
    connect(list, &FrmOptGrpList::chosen, this, [this](const QString &group) { TxtGrp->setText(group); });
    connect(list, &QDialog::finished, list, &QObject::deleteLater);
    list->open();
}
