// "アドレス登録": adds a manual entry to the address store (replacing a row learnt from
// the network when the user agrees) and asks the new address for its presence.
#pragma once

#include "address/AdrDialog.h"

class FrmAddAdr : public AdrDialog
{
    Q_OBJECT
  public:
    FrmAddAdr(NetEngine &engine, WindowRegistry &windows, QWidget *parent = nullptr);

  protected:
    void onCmdOKClicked() override;
};
