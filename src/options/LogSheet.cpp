#include "options/LogSheet.h"

#include "base/ModZorvin.h"
#include "base/SettingsTable.h"
#include "options/OptionControls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const char *const kLogTypes[] = {"ﾌｧｲﾙ名固定", "年単位にﾛｸﾞ作成", "月単位にﾛｸﾞ作成", "日単位にﾛｸﾞ作成"};
} // namespace

LogSheet::LogSheet(ModZorvin &ctx) : OptionsSheet(ctx, 6)
{
    QVBoxLayout *layout = pageLayout(this);

    ChkMsgLog = makeCheck(this, "ChkMsgLog", "ﾒｯｾｰｼﾞのﾛｸﾞを作成する。");
    connect(ChkMsgLog, &QCheckBox::toggled, this, &LogSheet::onMsgLogToggled);
    layout->addWidget(ChkMsgLog);

    auto *frame = makeFrame(this, "ﾛｸﾞﾌｧｲﾙ");
    auto *grid = new QGridLayout(frame);
    QGroupBox *typeFrame = nullptr;
    OptMsgLogType = makeOptionFrame(frame, "ﾛｸﾞの作成単位", "OptMsgLogType", kLogTypes, 4, 2, &typeFrame);
    TxtMsgLogName = makeBox(frame, "TxtMsgLogName", entryLimitOf("MsgLogName"));
    new KeyFilter(TxtMsgLogName, KeyFilter::LettersAndDigits);
    TxtMsgLogName->setFixedWidth(TxtMsgLogName->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWWWW")) +
                                 12);
    TxtMsgLogSavePlace = makeBox(frame, "TxtMsgLogSavePlace");
    TxtMsgLogShowPath = makeBox(frame, "TxtMsgLogShowPath");
    auto *placeBrowse = makeButton(frame, "CmdMsgLogSavePlace", "参照");
    auto *showBrowse = makeButton(frame, "CmdMsgLogSet", "参照");
    auto *nameLabel = makeLabel(frame, "ﾌｧｲﾙ名：", TxtMsgLogName);
    auto *extLabel = makeLabel(frame, "(.log)");
    auto *placeLabel = makeLabel(frame, "保存先：", TxtMsgLogSavePlace);
    auto *showLabel = makeLabel(frame, "表示ﾌﾟﾛｸﾞﾗﾑ：", TxtMsgLogShowPath);
    grid->addWidget(typeFrame, 0, 0, 1, 3);
    grid->addWidget(nameLabel, 1, 0);
    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(TxtMsgLogName);
    nameRow->addWidget(extLabel);
    nameRow->addStretch(1);
    grid->addLayout(nameRow, 1, 1, 1, 2);
    grid->addWidget(placeLabel, 2, 0);
    grid->addWidget(TxtMsgLogSavePlace, 2, 1);
    grid->addWidget(placeBrowse, 2, 2);
    grid->addWidget(showLabel, 3, 0);
    grid->addWidget(TxtMsgLogShowPath, 3, 1);
    grid->addWidget(showBrowse, 3, 2);
    grid->setColumnStretch(1, 1);
    m_logControls = {typeFrame,  TxtMsgLogName, TxtMsgLogSavePlace, TxtMsgLogShowPath, placeBrowse,
                     showBrowse, nameLabel,     extLabel,           placeLabel,        showLabel};
    for (QAbstractButton *option : OptMsgLogType->buttons())
        m_logControls.append(option);
    connect(placeBrowse, &QPushButton::clicked, this, [this] {
        browseFolder(window(), TxtMsgLogSavePlace,
                     QStringLiteral("メッセージログファイルの保存先を指定してください。"));
    });
    connect(showBrowse, &QPushButton::clicked, this, [this] {
        browseProgram(window(), TxtMsgLogShowPath,
                      QStringLiteral("メッセージログを表示するアプリケーション"));
    });
    layout->addWidget(frame);

    // The name and folder boxes count only while logging is on (save).
    m_bindings.choice("MsgLogType", OptMsgLogType);
    m_bindings.flag("MsgLog", ChkMsgLog);
    m_bindings.text("MsgLogShowApp", TxtMsgLogShowPath);
}

void LogSheet::load()
{
    OptionsSheet::load();
    TxtMsgLogName->setText(m_ctx.settings.MsgLogName);
    TxtMsgLogSavePlace->setText(m_ctx.settings.MsgLogSavePlace);
}

void LogSheet::runEnablingRules()
{
    onMsgLogToggled();
}

bool LogSheet::save(SheetSave &save)
{
    if (!save.checkTexts(QStringLiteral("ﾛｸﾞ"), {TxtMsgLogName, TxtMsgLogSavePlace, TxtMsgLogShowPath}))
        return false;
    save.through("MsgLog");
    Settings &s = save.settings();
    // Off, the record keeps the name and folder it has, and they are written again.
    if (s.MsgLog == 1) {
        const QString name = textOf(TxtMsgLogName);
        s.MsgLogName = name.isEmpty() ? SettingFallback(SettingRowOf(QLatin1StringView("MsgLogName")), s,
                                                        m_ctx.ProgramDir)
                                      : name;
        const QString folder = textOf(TxtMsgLogSavePlace);
        s.MsgLogSavePlace =
            folder.isEmpty()
                ? SettingFallback(SettingRowOf(QLatin1StringView("MsgLogSavePlace")), s, m_ctx.ProgramDir)
                : folder;
    }
    save.rest();
    return true;
}

void LogSheet::onMsgLogToggled()
{
    for (QWidget *w : m_logControls)
        w->setEnabled(ChkMsgLog->isChecked());
}
