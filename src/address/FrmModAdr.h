// "アドレスの変更": changes the entry chosen in the address book. Name and address can be
// changed for manual entries only; the favourite and auto-transfer marks for every entry.
#pragma once

#include "address/AdrDialog.h"

struct AddressEntry;

class FrmModAdr : public AdrDialog
{
    Q_OBJECT
  public:
    FrmModAdr(NetEngine &engine, WindowRegistry &windows, QWidget *parent = nullptr);

    // Fills the dialog from a row of the address list: name, address, the marks; the
    // name and address boxes are enabled for manual entries only.
    void fill(const AddressEntry &entry, bool favourite);
    // The address the edited row had when the dialog was filled.
    QString editedAddress() const { return m_oldAddress; }

  protected:
    void onCmdOKClicked() override;

  private:
    QString m_oldAddress;
};
