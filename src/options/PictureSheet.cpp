#include "options/PictureSheet.h"

#include "base/ModZorvin.h"
#include "net/EngineHost.h"
#include "options/OptionControls.h"
#include "ui/ModZorvinUi.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

PictureSheet::PictureSheet(ModZorvin &ctx) : OptionsSheet(ctx, 3)
{
    QVBoxLayout *layout = pageLayout(this);

    auto *send = makeFrame(this, "画像送信");
    auto *sendGrid = new QGridLayout(send);
    QGroupBox *levelFrame = nullptr;
    OptSCPMsgLevel = makeOptionFrame(send, "送信後の通知", "OptSCPMsgLevel", OptionCaptions::kNoticeLevels, 4,
                                     2, &levelFrame);
    ChkSPHide = makeCheck(send, "ChkSPHide", "画像を伏せて送信する。");
    ChkSPLock = makeCheck(send, "ChkSPLock", "ﾊﾟｽﾜｰﾄﾞでﾛｯｸする。");
    ChkPicOpen = makeCheck(send, "ChkPicOpen", "開封確認を要求する。");
    sendGrid->addWidget(levelFrame, 0, 0, 3, 1);
    sendGrid->addWidget(ChkSPHide, 0, 1);
    sendGrid->addWidget(ChkSPLock, 1, 1);
    sendGrid->addWidget(ChkPicOpen, 2, 1);
    connect(ChkSPHide, &QCheckBox::toggled, this, &PictureSheet::onHideToggled);
    layout->addWidget(send);

    QCheckBox *enabled = makeCheck(this, "ChkAutoRecvSave", "受信画像を自動的に保存する。");
    layout->addWidget(m_recvSave.build(this, enabled, false, ctx));

    auto *show = new QHBoxLayout;
    ChkRecvPicWin = makeCheck(this, "ChkRecvPicWin", "受信画像を表示しない。");
    ChkRecvPicMin = makeCheck(this, "ChkRecvPicMin", "受信画像を最小化して表示する。");
    show->addWidget(ChkRecvPicWin);
    show->addSpacing(12);
    show->addWidget(ChkRecvPicMin);
    show->addStretch(1);
    layout->addLayout(show);
    layout->addWidget(m_picSound.build(this, QStringLiteral("Pic"), QStringLiteral("画像受信時のサウンド")));

    m_bindings.choice("SndCmpPicLevel", OptSCPMsgLevel);
    m_bindings.flag("RecvAutoSave", m_recvSave.enabled);
    m_bindings.choice("RecvAutoSaveType", m_recvSave.type);
    m_bindings.text("RecvAutoSaveName", m_recvSave.name);
    m_bindings.text("RecvAutoSavePlace", m_recvSave.place);
    m_bindings.flag("RecvAutoSaveNameConst", m_recvSave.nameConst);
    m_bindings.flag("RecvPicWin", ChkRecvPicWin);
    m_bindings.text("RecvPicSoundPlace", m_picSound.path);
    m_bindings.choice("RecvPicSound", m_picSound.options);
    m_bindings.flag("SndCmpPicHide", ChkSPHide);
    m_bindings.flag("SndCmpPicLock", ChkSPLock);
    m_bindings.flag("SndPicOPChk", ChkPicOpen);
}

void PictureSheet::runEnablingRules()
{
    m_recvSave.update();
    onHideToggled();
    m_picSound.update();
}

bool PictureSheet::save(SheetSave &save)
{
    if (!save.checkTexts(QStringLiteral("画像転送"), {m_recvSave.name, m_recvSave.place, m_picSound.path}) ||
        !m_recvSave.offerMissingFolder(QStringLiteral("画像転送"), save))
        return false;
    if (ChkRecvPicWin->isChecked() &&
        !(m_recvSave.enabled->isChecked() && !m_recvSave.place->text().isEmpty()))
        ::ShowMessageBox(QStringLiteral("画像転送:｢受信画像を自動的に保存する。｣及び｢保存先｣を\r"
                                        "指定してない場合、受信画像は廃棄されます。"),
                         MsgBox::Exclamation, window());
    save.rest();
    return true;
}

void PictureSheet::onHideToggled()
{
    ChkSPLock->setEnabled(ChkSPHide->isChecked());
    ChkPicOpen->setEnabled(ChkSPHide->isChecked());
}
