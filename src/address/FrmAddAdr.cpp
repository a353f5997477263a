#include "address/FrmAddAdr.h"

#include "net/AddressStore.h"
#include "address/FrmAdrEdit.h"
#include "address/LveAdrViewModel.h"
#include "net/EngineHost.h"
#include "ui/ModZorvinUi.h"
#include "net/NetEngine.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>

FrmAddAdr::FrmAddAdr(NetEngine &engine, WindowRegistry &windows, QWidget *parent)
    : AdrDialog(engine, windows, QStringLiteral("アドレス登録"), QPoint(500, 200), parent)
{
    setObjectName(QStringLiteral("FrmAddAdr"));
}

void FrmAddAdr::onCmdOKClicked()
{
    if (!addressAccepted())
        return;
    AddressStore &store = m_engine.addresses();
    const QString address = TxtAdr()->text();
    const int existing = store.indexOf(address);
    if (existing >= 0) {
        const QString head = QStringLiteral("IPｱﾄﾞﾚｽ ") + address + QStringLiteral(" は登録済みです。　");
        if (store.at(existing).isManual()) {
            ::ShowMessageBox(head + QStringLiteral("追加できません。"), MsgBox::Information, this);
            return;
        }
        const QPointer<FrmAddAdr> alive(this);
        const int answer = ::ShowMessageBox(head + QStringLiteral("上書きしますか？"),
                                            MsgBox::Question | MsgBox::OkCancel, this);
        // Closed meanwhile (the address book went, or the program quits): nothing more.
        if (!alive || !isVisible() || answer != MsgBox::IdOk)
            return;
    }

    // The learnt row goes (found again: presence may have moved rows while the question
    // was open); its group is lost until the peer answers again.
    FrmAdrEdit *book = addressBook();
    bool wasListed = false;
    const int learnt = store.indexOf(address);
    if (learnt >= 0) {
        if (book)
            wasListed =
                book->listModel().mapFromSource(book->listModel().sourceModel()->index(learnt, 0)).isValid();
        store.removeAt(learnt);
    }
    AddressEntry entry;
    entry.EntryName = typedName();
    entry.EntryAddress = address;
    entry.EntryType = ChkAuto()->isChecked() ? QStringLiteral("MT") : QStringLiteral("M");
    entry.EntryState = kStateUnavail;
    entry.EntryFavourite = ChkOki()->isChecked() ? QStringLiteral("1") : QString();
    store.append(entry);
    // The list shows the new row in place of the one it replaced, or below the others
    // when every entry is shown; under a group node it waits for the next rebuild.
    if (book) {
        LveAdrViewModel &list = book->listModel();
        if (wasListed || (list.hasSelectedNode() && list.selectedNode() == LveAdrViewModel::rootNodeText()))
            list.include(store.size() - 1);
    }

    announceTo(address);
    focusAddressBook();
    close();
}
