#include "options/CaptureSheet.h"

#include "base/ModZorvin.h"
#include "base/SettingsTable.h"
#include "options/OptionControls.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
const QString kIntervalMissing = QStringLiteral("ｷｬﾌﾟﾁｬ:ｲﾝﾀｰﾊﾞﾙﾀｲﾏ値を指定して下さい。");
const QString kIntervalZero = QStringLiteral("ｷｬﾌﾟﾁｬ:ｲﾝﾀｰﾊﾞﾙﾀｲﾏ０秒は指定できません。");
} // namespace

CaptureSheet::CaptureSheet(ModZorvin &ctx) : OptionsSheet(ctx, 2)
{
    QVBoxLayout *layout = pageLayout(this);

    auto *active = makeFrame(this, "");
    active->setTitle(QStringLiteral("ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳのｷｬﾌﾟﾁｬ設定"));
    auto *activeGrid = new QGridLayout(active);
    static const char *const modes[] = {"一定時間後にｱｸﾃｨﾌﾞなｳｨﾝﾄﾞｳをｷｬﾌﾟﾁｬする。",
                                        "ｳｨﾝﾄﾞｳをｸﾘｯｸしたﾀｲﾐﾝｸﾞでｷｬﾌﾟﾁｬする。"};
    OptActWinCaptMode = new QButtonGroup(active);
    OptActWinCaptMode->setObjectName(QStringLiteral("OptActWinCaptMode"));
    auto *timerRow = new QHBoxLayout;
    TxtActWindCaptTim = makeNumberBox(active, "TxtActWindCaptTim", entryLimitOf("IntTimer"));
    auto *before = makeLabel(active, "ｷｬﾌﾟﾁｬ開始：", TxtActWindCaptTim);
    auto *after = makeLabel(active, "秒後");
    m_actWindCaptTimLabels = {before, after};
    for (int i = 0; i < 2; ++i) {
        auto *option = new QRadioButton(u8(modes[i]), active);
        option->setObjectName(QStringLiteral("OptActWinCaptMode(%1)").arg(i));
        OptActWinCaptMode->addButton(option, i);
    }
    timerRow->addSpacing(24);
    timerRow->addWidget(before);
    timerRow->addWidget(TxtActWindCaptTim);
    timerRow->addWidget(after);
    timerRow->addStretch(1);
    activeGrid->addWidget(OptActWinCaptMode->button(0), 0, 0);
    activeGrid->addLayout(timerRow, 1, 0);
    activeGrid->addWidget(OptActWinCaptMode->button(1), 2, 0);
    connect(OptActWinCaptMode, &QButtonGroup::idToggled, this, &CaptureSheet::onActWinCaptModeChanged);
    layout->addWidget(active);

    auto *after1 = makeFrame(this, "ｷｬﾌﾟﾁｬ時の動作");
    auto *afterGrid = new QGridLayout(after1);
    ChkCaptExeHide1 = makeCheck(after1, "ChkCaptExeHide1", "ﾃﾞｽｸﾄｯﾌﾟをｷｬﾌﾟﾁｬする時、ﾒｲﾝｳｨﾝﾄﾞｳを隠す。");
    ChkCaptExeHide2 = makeCheck(after1, "ChkCaptExeHide2", "範囲を指定してｷｬﾌﾟﾁｬする時、ﾒｲﾝｳｨﾝﾄﾞｳを隠す。");
    ChkAutoCaptTran = makeCheck(after1, "ChkAutoCaptTran", "ｷｬﾌﾟﾁｬ後、自動的に画像を転送する。");
    ChkAutoCaptClip = makeCheck(after1, "ChkAutoCaptClip", "ｷｬﾌﾟﾁｬ後、ｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰする。");
    afterGrid->addWidget(ChkCaptExeHide1, 0, 0);
    afterGrid->addWidget(ChkCaptExeHide2, 1, 0);
    afterGrid->addWidget(ChkAutoCaptTran, 2, 0);
    afterGrid->addWidget(ChkAutoCaptClip, 3, 0);
    layout->addWidget(after1);

    QCheckBox *enabled = makeCheck(this, "ChkAutoCaptSave", "ｷｬﾌﾟﾁｬ後、自動的に保存する。");
    layout->addWidget(m_captSave.build(this, enabled, true, ctx));

    auto *interval = new QHBoxLayout;
    ChkAutoCapt = makeCheck(this, "ChkAutoCapt", "一定間隔でﾃﾞｽｸﾄｯﾌﾟをｷｬﾌﾟﾁｬする。");
    TxtAutoCaptTim = makeNumberBox(this, "TxtAutoCaptTim", entryLimitOf("AutoCaptTim"));
    m_autoCaptTimLabel = makeLabel(this, "秒間隔", TxtAutoCaptTim);
    interval->addWidget(ChkAutoCapt);
    interval->addSpacing(12);
    interval->addWidget(TxtAutoCaptTim);
    interval->addWidget(m_autoCaptTimLabel);
    interval->addStretch(1);
    connect(ChkAutoCapt, &QCheckBox::toggled, this, &CaptureSheet::onAutoCaptToggled);
    layout->addLayout(interval);

    // IntTimer is taken from its box only in timer mode (save).
    m_bindings.choice("ActCaptMode", OptActWinCaptMode);
    m_bindings.flag("CaptExeHide1", ChkCaptExeHide1);
    m_bindings.flag("CaptExeHide2", ChkCaptExeHide2);
    m_bindings.flag("CaptAutoTran", ChkAutoCaptTran);
    m_bindings.flag("CaptAutoClip", ChkAutoCaptClip);
    m_bindings.flag("CaptAutoSave", m_captSave.enabled);
    m_bindings.choice("CaptAutoSaveType", m_captSave.type);
    m_bindings.text("CaptAutoSaveName", m_captSave.name);
    m_bindings.text("CaptAutoSavePlace", m_captSave.place);
    m_bindings.flag("CaptAutoSaveNameConst", m_captSave.nameConst);
    m_bindings.flag("AutoCapt", ChkAutoCapt);
    m_bindings.number("AutoCaptTim", TxtAutoCaptTim);
}

void CaptureSheet::load()
{
    OptionsSheet::load();
    TxtActWindCaptTim->setText(m_ctx.settings.IntTimer);
}

void CaptureSheet::runEnablingRules()
{
    onActWinCaptModeChanged();
    onAutoCaptToggled();
    m_captSave.update();
}

bool CaptureSheet::save(SheetSave &save)
{
    if (!save.checkTexts(QStringLiteral("ｷｬﾌﾟﾁｬ"), {m_captSave.name, m_captSave.place}) ||
        !m_captSave.offerMissingFolder(QStringLiteral("ｷｬﾌﾟﾁｬ"), save))
        return false;
    Settings &s = save.settings();
    save.through("ActCaptMode");
    // In click mode the delay box is not used: the stored delay is written again as it is.
    if (s.ActCaptMode == 0) {
        const QString delay = TxtActWindCaptTim->text();
        if (delay.isEmpty())
            return save.fail(kIntervalMissing, TxtActWindCaptTim);
        if (ParseSettingNumber<int>(delay).value_or(-1) == 0)
            return save.fail(kIntervalZero, TxtActWindCaptTim);
        s.IntTimer = delay;
    }
    save.through("AutoCapt");
    if (s.AutoCapt == 1) {
        const QString period = TxtAutoCaptTim->text();
        if (period.isEmpty())
            return save.fail(kIntervalMissing, TxtAutoCaptTim);
        if (ParseSettingNumber<int32_t>(period).value_or(-1) == 0)
            return save.fail(kIntervalZero, TxtAutoCaptTim);
    }
    save.rest();
    emit autoCaptureSettingsChanged();
    return true;
}

void CaptureSheet::onActWinCaptModeChanged()
{
    const bool timed = OptActWinCaptMode->checkedId() == 0;
    TxtActWindCaptTim->setEnabled(timed);
    for (QWidget *label : m_actWindCaptTimLabels)
        label->setEnabled(timed);
}

void CaptureSheet::onAutoCaptToggled()
{
    TxtAutoCaptTim->setEnabled(ChkAutoCapt->isChecked());
    m_autoCaptTimLabel->setEnabled(ChkAutoCapt->isChecked());
}
