// "ｷｬﾌﾟﾁｬ": how the active window is captured, what follows a capture (hiding, transfer,
// clipboard, automatic save) and the interval capture.
#pragma once

#include "options/OptionBlocks.h"
#include "options/OptionsSheet.h"

class QButtonGroup;
class QCheckBox;
class QLabel;

class CaptureSheet : public OptionsSheet
{
    Q_OBJECT
  public:
    explicit CaptureSheet(ModZorvin &ctx);

    void load() override;
    void runEnablingRules() override;
    bool save(SheetSave &save) override;

  signals:
    // Saved: the interval capture applies AutoCapt and AutoCaptTim.
    void autoCaptureSettingsChanged();

  private:
    void onActWinCaptModeChanged();
    void onAutoCaptToggled();

    QButtonGroup *OptActWinCaptMode = nullptr;
    QLineEdit *TxtActWindCaptTim = nullptr;
    QList<QWidget *> m_actWindCaptTimLabels;
    QCheckBox *ChkCaptExeHide1 = nullptr;
    QCheckBox *ChkCaptExeHide2 = nullptr;
    QCheckBox *ChkAutoCaptTran = nullptr;
    QCheckBox *ChkAutoCaptClip = nullptr;
    AutoSaveBlock m_captSave;
    QCheckBox *ChkAutoCapt = nullptr;
    QLineEdit *TxtAutoCaptTim = nullptr;
    QLabel *m_autoCaptTimLabel = nullptr;
};
