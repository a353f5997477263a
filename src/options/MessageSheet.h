// "ﾒｯｾｰｼﾞ": how messages are sent (notice, face down, lock, receipts, closing windows), how
// received ones are shown and sound, and the message font.
#pragma once

#include "options/OptionBlocks.h"
#include "options/OptionsSheet.h"

class QButtonGroup;
class QCheckBox;
class QLabel;

class MessageSheet : public OptionsSheet
{
    Q_OBJECT
  public:
    // `recvPicMin` is the picture sheet's box that this sheet saves.
    MessageSheet(ModZorvin &ctx, QCheckBox *recvPicMin);

    void load() override;
    void runEnablingRules() override;
    bool save(SheetSave &save) override;

  signals:
    // A message-font key changed: open message windows take the font from the settings.
    void messageFontChanged();

  private:
    void onHideToggled();
    void onRRToggled();
    void onCmdMsgFontSetClicked();
    // Writes the font keys that differ from the record; true when one did.
    bool saveFont(SheetSave &save);

    QButtonGroup *OptSCMMsgLevel = nullptr;
    QCheckBox *ChkSMHide = nullptr;
    QCheckBox *ChkSMLock = nullptr;
    QCheckBox *ChkMsgOpen = nullptr;
    QCheckBox *ChkRecvMsgMin = nullptr;
    QCheckBox *ChkSendMsgClose = nullptr;
    QCheckBox *ChkSendMsgRClose = nullptr;
    QCheckBox *ChkSendMsgRClose1 = nullptr;
    QCheckBox *ChkRR = nullptr;
    QLineEdit *TxtRRTim = nullptr;
    QLabel *m_rrTimLabel = nullptr;
    SoundBlock m_msgSound;
    QLineEdit *TxtMsgFontName = nullptr;
    QLineEdit *TxtMsgFontSize = nullptr;
    QLabel *LblMsgFontShown = nullptr;
    QPushButton *CmdMsgFontSet = nullptr;
};
