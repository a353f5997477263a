// "ﾛｸﾞ": whether messages are logged, how the log files are named, where they go and which
// program shows them.
#pragma once

#include "options/OptionsSheet.h"

class QButtonGroup;
class QCheckBox;

class LogSheet : public OptionsSheet
{
    Q_OBJECT
  public:
    explicit LogSheet(ModZorvin &ctx);

    void load() override;
    void runEnablingRules() override;
    bool save(SheetSave &save) override;

  private:
    void onMsgLogToggled();

    QCheckBox *ChkMsgLog = nullptr;
    QButtonGroup *OptMsgLogType = nullptr;
    QLineEdit *TxtMsgLogName = nullptr;
    QLineEdit *TxtMsgLogSavePlace = nullptr;
    QLineEdit *TxtMsgLogShowPath = nullptr;
    QList<QWidget *> m_logControls;
};
