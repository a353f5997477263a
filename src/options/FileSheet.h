// "ﾌｧｲﾙ転送": the notice after sending files, the sound of an arriving file and where
// received files go.
#pragma once

#include "options/OptionBlocks.h"
#include "options/OptionsSheet.h"

class QButtonGroup;
class QCheckBox;

class FileSheet : public OptionsSheet
{
    Q_OBJECT
  public:
    explicit FileSheet(ModZorvin &ctx);

    void runEnablingRules() override;
    bool save(SheetSave &save) override;

  private:
    QButtonGroup *OptSCFMsgLevel = nullptr;
    SoundBlock m_fileSound;
    QLineEdit *TxtRecvFileSavePlace = nullptr;
    QCheckBox *ChkFileRecvOpenFol = nullptr;
};
