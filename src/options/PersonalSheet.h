// "個人情報": the group and name that the other copies show in their address books.
#pragma once

#include "options/OptionsSheet.h"

class NetEngine;
class QPushButton;

class PersonalSheet : public OptionsSheet
{
    Q_OBJECT
  public:
    PersonalSheet(ModZorvin &ctx, NetEngine &engine);

    void load() override;
    bool save(SheetSave &save) override;

  private:
    void onCmdGrpListClicked();

    NetEngine &m_engine;
    QLineEdit *TxtGrp = nullptr;
    QLineEdit *TxtName = nullptr;
    QPushButton *CmdGrpList = nullptr;
};
