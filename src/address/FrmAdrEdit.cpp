#include "address/FrmAdrEdit.h"

#include "address/AddressBookModel.h"
#include "address/AddressListView.h"
#include "address/KeyIcons.h"
#include "net/AddressStore.h"
#include "net/PeerKeys.h"
#include "address/AddressWindows.h"
#include "address/FrmAddAdr.h"
#include "address/FrmModAdr.h"
#include "address/SendPanel.h"
#include "base/ModZorvin.h"
#include "base/SettingsFile.h"
#include "net/AddressStore.h"
#include "net/EngineHost.h"
#include "net/NetEngine.h"
#include "ui/ModZorvinUi.h"
#include "ui/Twips.h"
#include "ui/WindowRegistry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int kAddressBookWidthTwips = 7425;
constexpr int kSendDialogWidthTwips = 10065;
constexpr int kHeightTwips = 6600;
// The send list, its buttons and the options take the width the send dialog adds.
constexpr int kSendPanelWidthTwips = kSendDialogWidthTwips - kAddressBookWidthTwips;
constexpr int kSearchIntervalMs = 10000;

const QString kNothingSelected = QStringLiteral("選択されてません。");
const QString kDeleteQuestion = QStringLiteral("選択されたアドレスを削除してもよろしいですか？");
const QString kForgetKeyQuestion =
    QStringLiteral("この相手の鍵を忘れてもよろしいですか？\n暗号化しない送受信に戻り、次に相手が知らせてくる鍵を新しく固定します。");

} // namespace

FrmAdrEdit::FrmAdrEdit(NetEngine &engine, WindowRegistry &windows, QWidget *parent)
    : QWidget(parent), m_engine(engine), m_ctx(engine.context()), m_windows(windows)
{
    setObjectName(QStringLiteral("FrmAdrEdit"));
    setWindowIcon(QApplication::windowIcon());
    m_timer1.setInterval(kSearchIntervalMs);
    m_timer1.setSingleShot(true);

    buildControls();
    buildPopup();
}

FrmAdrEdit::~FrmAdrEdit() = default;

QString FrmAdrEdit::sendKind() const
{
    return m_sendPanel->sendKind();
}

LveAdrViewModel &FrmAdrEdit::listModel() const
{
    return m_listView->rows();
}

AddressStore &FrmAdrEdit::store() const
{
    return m_engine.addresses();
}

// ---- controls --------------------------------------------------------------------------

void FrmAdrEdit::buildControls()
{
    // The load: the list and its tree from the store with the saved layout.
    m_listView = new AddressListView(store(), SettingsFile(m_ctx.SettingsPath()),
                                     QString::fromLatin1(kSectionAdrEdit), this);
    // Each row shows whether this copy has pinned the peer's key, and whether it changed.
    m_listView->model().setPeerKeys(&m_engine.peerKeys(), KeyIcons::pinned(), KeyIcons::changed(),
                                    &m_engine.identity());
    connect(m_listView, &AddressListView::menuRequested, this, &FrmAdrEdit::onPopUpRequested);
    connect(m_listView, &AddressListView::deleteKeyPressed, this, &FrmAdrEdit::onCmdDelAdrClicked);

    const auto button = [this](const char *name, const QString &caption, void (FrmAdrEdit::*handler)()) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    m_cmdAdd = button("CmdAddAdr", QStringLiteral("追加"), &FrmAdrEdit::onCmdAddAdrClicked);
    m_cmdMod = button("CmdAdrMod", QStringLiteral("変更"), &FrmAdrEdit::onCmdAdrModClicked);
    m_cmdDel = button("CmdDelAdr", QStringLiteral("削除"), &FrmAdrEdit::onCmdDelAdrClicked);
    m_cmdSerch = button("CmdSerch", QStringLiteral("再検索"), &FrmAdrEdit::onCmdSerchClicked);
    m_sendPanel = new SendPanel(m_engine, *m_listView, this);
    m_sendPanel->setFixedWidth(twipsToPixels(kSendPanelWidthTwips));
    m_cmdClose = new QPushButton(QStringLiteral("閉じる"), this);
    m_cmdClose->setObjectName(QStringLiteral("CmdClose"));
    m_cmdClose->setAutoDefault(false);
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);
    // Tab goes from "送信" to "閉じる", then into the send panel.
    QWidget::setTabOrder(m_sendPanel->sendButton(), m_cmdClose);

    QHBoxLayout *listCommands = m_listView->commandRow();
    for (QPushButton *b : {m_cmdAdd, m_cmdMod, m_cmdDel})
        listCommands->addWidget(b);
    listCommands->addSpacing(8);
    listCommands->addWidget(m_cmdSerch);

    auto *columns = new QHBoxLayout;
    columns->addWidget(m_listView, 1);
    columns->addWidget(m_sendPanel);

    auto *closing = new QHBoxLayout;
    closing->addStretch(1);
    closing->addWidget(m_sendPanel->sendButton());
    closing->addWidget(m_cmdClose);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(columns, 1);
    layout->addLayout(closing);
}

void FrmAdrEdit::buildPopup()
{
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("mnuPopUpAdrView"));
    const auto item = [this](const char *name, const QString &caption) {
        QAction *action = m_popup->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    m_mnuOki = item("mnuPAdrViewOki", QStringLiteral("お気に入りに設定"));
    m_mnuAutoTran = item("mnuPAdrViewAutoTranPic", QStringLiteral("自動画像転送先として設定"));
    m_popup->addSeparator();
    m_mnuMod = item("mnuPAdrViewMod", QStringLiteral("変更"));
    m_mnuDel = item("mnuPArdViewDel", QStringLiteral("削除"));
    m_popup->addSeparator();
    m_mnuAcceptKey = item("mnuPAdrViewAcceptKey", QStringLiteral("新しい鍵を承認"));
    connect(m_mnuAcceptKey, &QAction::triggered, this, [this] {
        if (const int row = m_listView->selectedStoreRow(); row >= 0)
            m_engine.AcceptPeerKey(store().at(row).EntryAddress);
    });
    m_mnuForgetKey = item("mnuPAdrViewForgetKey", QStringLiteral("鍵を忘れる"));
    connect(m_mnuForgetKey, &QAction::triggered, this, [this] {
        const int row = m_listView->selectedStoreRow();
        if (row < 0 || ::ShowMessageBox(kForgetKeyQuestion, MsgBox::Question | MsgBox::YesNo, this) != MsgBox::IdYes)
            return;
        // Looked up after the question: presence may have moved the rows while it was open.
        if (const int now = m_listView->selectedStoreRow(); now >= 0)
            m_engine.ForgetPeerKey(store().at(now).EntryAddress);
    });
    // The check marks show the row's state when the menu opens; a click toggles it.
    for (QAction *toggle : {m_mnuOki, m_mnuAutoTran})
        toggle->setCheckable(true);
    connect(m_mnuOki, &QAction::triggered, this, &FrmAdrEdit::onMnuPAdrViewOkiTriggered);
    connect(m_mnuAutoTran, &QAction::triggered, this, &FrmAdrEdit::onMnuPAdrViewAutoTranPicTriggered);
    connect(m_mnuMod, &QAction::triggered, this, &FrmAdrEdit::onCmdAdrModClicked);
    connect(m_mnuDel, &QAction::triggered, this, &FrmAdrEdit::onCmdDelAdrClicked);
}

// ---- opening, layout and closing --------------------------------------------------------

void FrmAdrEdit::WriteWindowLayout()
{
    m_listView->writeLayout(SettingsFile(m_ctx.SettingsPath()), QString::fromLatin1(kSectionAdrEdit));
}

void FrmAdrEdit::centreOnScreen(int widthTwips)
{
    resize(twipsToPixels(widthTwips), twipsToPixels(kHeightTwips));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2,
             area.y() + (area.height() - (height() + twipsToPixels(150))) / 2);
    }
}

void FrmAdrEdit::showRaised()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void FrmAdrEdit::LoadmnuEditAddr()
{
    setWindowTitle(QStringLiteral("アドレス帳"));
    m_sendPanel->clear();
    // The address book is the narrower window; the send list and its options lie beyond
    // its right edge.
    m_sendPanel->setVisible(false);
    centreOnScreen(kAddressBookWidthTwips);
    showRaised();
}

void FrmAdrEdit::LoadSendAddr(const SendHandOver &handOver)
{
    setWindowTitle(m_sendPanel->load(handOver));
    m_sendPanel->setVisible(true);
    centreOnScreen(kSendDialogWidthTwips);
    showRaised();
    setFocus();
}

void FrmAdrEdit::closeEvent(QCloseEvent *event)
{
    WriteWindowLayout();
    for (const QLatin1String kind : {WindowKind::AddAdr, WindowKind::ModAdr}) {
        if (QWidget *dialog = m_windows.find(kind))
            dialog->close();
    }
    event->accept();
}

// ---- search -----------------------------------------------------------------------------

void FrmAdrEdit::onCmdSerchClicked()
{
    m_cmdSerch->setEnabled(false);
    m_listView->deselectNode();
    if (!m_timer1.isActive())
        store().markAllUnavail();
    // The three datagrams to the broadcast address, then to every manual entry, which
    // may sit beyond the broadcast's reach.
    m_engine.Announce();
    m_cmdSerch->setEnabled(true);
    m_cmdSerch->setFocus();
    m_timer1.start();
}

// ---- add, change, delete ----------------------------------------------------------------

void FrmAdrEdit::onCmdAddAdrClicked()
{
    auto *dialog = m_windows.load<FrmAddAdr>(WindowKind::AddAdr);
    if (!dialog)
        return;
    dialog->placeBeside(this);
    m_windows.open(WindowKind::AddAdr);
}

void FrmAdrEdit::onCmdAdrModClicked()
{
    const int row = m_listView->selectedStoreRow();
    if (row < 0) {
        ::ShowMessageBox(kNothingSelected, MsgBox::Exclamation, this);
        return;
    }
    auto *dialog = m_windows.load<FrmModAdr>(WindowKind::ModAdr);
    if (!dialog)
        return;
    const AddressEntry &entry = store().at(row);
    dialog->fill(entry, store().FindAddressByIp(entry.EntryAddress).EntryFavourite == QLatin1String("1"));
    dialog->placeBeside(this);
    m_windows.open(WindowKind::ModAdr);
}

void FrmAdrEdit::onCmdDelAdrClicked()
{
    if (m_listView->selectedStoreRow() < 0) {
        ::ShowMessageBox(kNothingSelected, MsgBox::Exclamation, this);
        return;
    }
    if (::ShowMessageBox(kDeleteQuestion, MsgBox::Question | MsgBox::YesNo, this) != MsgBox::IdYes)
        return;
    // Looked at after the question: presence may have changed the rows while it was open.
    QStringList addresses;
    for (int row : m_listView->selectedStoreRows()) {
        const AddressEntry &entry = store().at(row);
        // Peers that are there and were learnt from the network come back at once anyway.
        if (entry.isManual() || !entry.isAvail())
            addresses << entry.EntryAddress;
    }
    for (const QString &address : std::as_const(addresses)) {
        const int row = store().indexOf(address);
        if (row >= 0)
            store().removeAt(row);
    }
}

// ---- pop-up menu ------------------------------------------------------------------------

void FrmAdrEdit::onPopUpRequested(const QPoint &globalPosition)
{
    const int row = m_listView->selectedStoreRow();
    if (row < 0)
        return;
    const AddressEntry &entry = store().at(row);
    m_mnuMod->setEnabled(entry.isManual());
    m_mnuDel->setEnabled(true);
    const int trust = m_listView->model().index(row, 0).data(AddressBookModel::KeyTrustRole).toInt();
    m_mnuAcceptKey->setEnabled(trust == int(PeerKeys::Trust::Changed));
    m_mnuForgetKey->setEnabled(trust != int(PeerKeys::Trust::None));
    m_mnuAutoTran->setChecked(entry.isAutoTransferTarget());
    m_mnuOki->setChecked(store().FindAddressByIp(entry.EntryAddress).EntryFavourite == QLatin1String("1"));
    m_popup->popup(globalPosition);
}

void FrmAdrEdit::onMnuPAdrViewAutoTranPicTriggered()
{
    const int row = m_listView->selectedStoreRow();
    if (row < 0)
        return;
    const AddressEntry &entry = store().at(row);
    const QString type = QString::fromLatin1(entry.isManual() ? "M" : "") +
                         QString::fromLatin1(entry.isAutoTransferTarget() ? "" : "T");
    const int target = store().indexOf(entry.EntryAddress);
    store().editable(target).EntryType = type;
    store().notifyChanged(target);
}

void FrmAdrEdit::onMnuPAdrViewOkiTriggered()
{
    const int row = m_listView->selectedStoreRow();
    if (row < 0)
        return;
    const int target = store().indexOf(store().at(row).EntryAddress);
    const bool wasFavourite = store().at(target).EntryFavourite == QLatin1String("1");
    store().editable(target).EntryFavourite = wasFavourite ? QString() : QStringLiteral("1");
    store().notifyChanged(target);
    if (wasFavourite)
        m_listView->favouriteCleared(row);
}
