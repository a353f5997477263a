// "画像転送": how pictures are sent (notice, face down, lock, open receipt) and what happens
// to received ones (automatic save, showing, sound).
#pragma once

#include "options/OptionBlocks.h"
#include "options/OptionsSheet.h"

class QButtonGroup;
class QCheckBox;

class PictureSheet : public OptionsSheet
{
    Q_OBJECT
  public:
    explicit PictureSheet(ModZorvin &ctx);

    void runEnablingRules() override;
    bool save(SheetSave &save) override;
    // Sits here, but the message sheet saves it.
    QCheckBox *recvPicMinBox() const { return ChkRecvPicMin; }

  private:
    void onHideToggled();

    QButtonGroup *OptSCPMsgLevel = nullptr;
    QCheckBox *ChkSPHide = nullptr;
    QCheckBox *ChkSPLock = nullptr;
    QCheckBox *ChkPicOpen = nullptr;
    AutoSaveBlock m_recvSave;
    QCheckBox *ChkRecvPicWin = nullptr;
    QCheckBox *ChkRecvPicMin = nullptr;
    SoundBlock m_picSound;
};
