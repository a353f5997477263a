#include "address/FrmModAdr.h"

#include "address/AddressListView.h"
#include "address/FrmAdrEdit.h"
#include "net/AddressStore.h"
#include "net/NetEngine.h"

#include <QCheckBox>
#include <QLineEdit>

FrmModAdr::FrmModAdr(NetEngine &engine, WindowRegistry &windows, QWidget *parent)
    : AdrDialog(engine, windows, QStringLiteral("アドレスの変更"), QPoint(700, 250), parent)
{
    setObjectName(QStringLiteral("FrmModAdr"));
}

void FrmModAdr::fill(const AddressEntry &entry, bool favourite)
{
    m_oldAddress = entry.EntryAddress;
    TxtName()->setText(entry.EntryName);
    TxtAdr()->setText(entry.EntryAddress);
    TxtName()->setEnabled(entry.isManual());
    TxtAdr()->setEnabled(entry.isManual());
    ChkAuto()->setChecked(entry.isAutoTransferTarget());
    ChkOki()->setChecked(favourite);
}

void FrmModAdr::onCmdOKClicked()
{
    if (!addressAccepted())
        return;
    AddressStore &store = m_engine.addresses();
    // The row that had the old address is the one the user edited, even when the
    // address itself changes.
    const int row = store.indexOf(m_oldAddress);
    if (row < 0)
        return;
    const bool manual = TxtName()->isEnabled();
    AddressEntry entry = store.at(row);
    if (manual)
        entry.EntryName = typedName();
    entry.EntryAddress = TxtAdr()->text();
    entry.EntryType =
        QString::fromLatin1(manual ? "M" : "") + QString::fromLatin1(ChkAuto()->isChecked() ? "T" : "");
    entry.EntryFavourite = ChkOki()->isChecked() ? QStringLiteral("1") : QString();
    store.replace(row, entry);
    m_oldAddress = entry.EntryAddress;

    // A favourite cleared while the favourites are shown leaves the list.
    FrmAdrEdit *book = addressBook();
    if (book && !ChkOki()->isChecked())
        book->listView().favouriteCleared(row);

    announceTo(entry.EntryAddress);
    close();
    focusAddressBook();
}
