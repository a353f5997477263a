#include "address/SendPanel.h"

#include "address/AddressBookModel.h"
#include "address/AddressListView.h"
#include "address/KeyIcons.h"
#include "pictures/SendJobs.h"
#include "base/ModZorvin.h"
#include "net/AddressStore.h"
#include "net/EngineHost.h"
#include "net/MessageDelivery.h"
#include "net/NetEngine.h"
#include "net/PeerKeys.h"
#include "net/TransferSealing.h"
#include "ui/FlipSort.h"
#include "ui/ListColumns.h"
#include "ui/ModZorvinUi.h"
#include "ui/Twips.h"

#include <QBrush>
#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The completion options in their order, with the notice code a job stores for each.
enum CompletionOption { OptMsgYes, OptMsgNorm, OptMsgFail, OptMsgNo };
constexpr int kNoticeOfOption[] = {2, 1, 3, 0};
// The send list's padlocks, a little smaller than the address book's: the panel is narrow.
constexpr int kPadlockPixels = 12;

} // namespace

SendPanel::SendPanel(NetEngine &engine, AddressListView &addresses, QWidget *parent)
    : QWidget(parent), m_engine(engine), m_addresses(addresses)
{
    setObjectName(QStringLiteral("SendPanel"));
    // In the window's bottom row, so it stays there (disabled) in the address book.
    m_cmdSend = new QPushButton(QStringLiteral("送信"), parent);
    m_cmdSend->setObjectName(QStringLiteral("CmdSend"));
    m_cmdSend->setAutoDefault(false);
    connect(m_cmdSend, &QPushButton::clicked, this, &SendPanel::onCmdSendClicked);
    buildControls();
    connect(&addresses, &AddressListView::rowActivated, this, &SendPanel::onCmdListAddClicked);
    connect(&engine.peerKeys(), &PeerKeys::trustChanged, this, &SendPanel::markSendList);
}

void SendPanel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        markSendList();
    QWidget::changeEvent(event);
}

void SendPanel::buildControls()
{
    m_sendList = new QTreeWidget(this);
    m_sendList->setObjectName(QStringLiteral("LVeSendList"));
    SetReportList(m_sendList, {QStringLiteral("名前"), QStringLiteral("IPｱﾄﾞﾚｽ")});
    // Both columns within the panel: the address takes what the name leaves. The name
    // keeps its width beside the padlock a row may show.
    m_sendList->header()->setStretchLastSection(false);
    m_sendList->setIconSize(QSize(kPadlockPixels, kPadlockPixels));
    m_sendList->header()->resizeSection(0, twipsToPixels(1200) + kPadlockPixels);
    m_sendList->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_sendListSort = new FlipSort(m_sendList, m_sendList->header());
    connect(m_sendList, &QTreeWidget::itemDoubleClicked, this, [this] { onCmdListDelClicked(); });

    const auto button = [this](const char *name, const QString &caption, void (SendPanel::*handler)()) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, handler);
        m_listButtons << b;
        return b;
    };
    auto *buttons = new QGridLayout;
    buttons->addWidget(button("CmdListAdd", QStringLiteral("> 追加"), &SendPanel::onCmdListAddClicked), 0, 0);
    buttons->addWidget(button("CmdListDel", QStringLiteral("削除 <"), &SendPanel::onCmdListDelClicked), 0, 1);
    buttons->addWidget(button("CmdListAddAll", QStringLiteral("全追加"), &SendPanel::onCmdListAddAllClicked),
                       1, 0);
    buttons->addWidget(button("CmdListDelAll", QStringLiteral("全削除"), &SendPanel::onCmdListDelAllClicked),
                       1, 1);

    const auto check = [this](const char *name, const QString &caption) {
        auto *box = new QCheckBox(caption, this);
        box->setObjectName(QString::fromLatin1(name));
        return box;
    };
    m_msgHide = check("ChkMsgHide", QStringLiteral("内容をふせて送信"));
    m_pwLock = check("ChkPWLock", QStringLiteral("パスワードロック"));
    m_open = check("ChkOpen", QStringLiteral("開封確認"));
    connect(m_msgHide, &QCheckBox::clicked, this, &SendPanel::onChkMsgHideClicked);

    m_fraSendMsg = new QGroupBox(QStringLiteral("送信完了ﾒｯｾｰｼﾞ"), this);
    m_fraSendMsg->setObjectName(QStringLiteral("FraSendMsg"));
    m_options = new QButtonGroup(this);
    auto *optionLayout = new QVBoxLayout(m_fraSendMsg);
    optionLayout->setSpacing(2);
    const std::pair<const char *, QString> options[] = {
        {"OptMsgYes", QStringLiteral("表示する")},
        {"OptMsgNorm", QStringLiteral("成功時のみ表示")},
        {"OptMsgFail", QStringLiteral("失敗時のみ表示")},
        {"OptMsgNo", QStringLiteral("表示しない")},
    };
    for (const auto &[name, caption] : options) {
        auto *option = new QRadioButton(caption, m_fraSendMsg);
        option->setObjectName(QString::fromLatin1(name));
        m_options->addButton(option, int(m_optionButtons.size()));
        m_optionButtons << option;
        optionLayout->addWidget(option);
    }

    auto *caption = new QLabel(QStringLiteral("送信先ﾘｽﾄ"), this);
    caption->setObjectName(QStringLiteral("LblSendList"));
    m_refusedNote = new QLabel(QStringLiteral("灰色の宛先には送れません。"), this);
    m_refusedNote->setObjectName(QStringLiteral("LblRefused"));
    m_refusedNote->setWordWrap(true);
    m_refusedNote->hide();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(caption);
    layout->addWidget(m_sendList, 1);
    layout->addWidget(m_refusedNote);
    layout->addWidget(m_msgHide);
    layout->addWidget(m_pwLock);
    layout->addWidget(m_open);
    layout->addWidget(m_fraSendMsg);
}

void SendPanel::selectCompletionOption(int option)
{
    m_options->setExclusive(false);
    for (int i = 0; i < m_optionButtons.size(); ++i)
        m_optionButtons[i]->setChecked(i == option);
    m_options->setExclusive(true);
}

void SendPanel::clear()
{
    m_tag.clear();
    m_handOver = SendHandOver();
    m_cmdSend->setEnabled(false);
    for (QPushButton *b : std::as_const(m_listButtons))
        b->setEnabled(false);
    m_fraSendMsg->setEnabled(false);
    for (QRadioButton *option : std::as_const(m_optionButtons))
        option->setEnabled(false);
    for (QCheckBox *box : {m_msgHide, m_pwLock, m_open})
        box->setEnabled(false);
    selectCompletionOption(-1);
}

QString SendPanel::load(const SendHandOver &handOver)
{
    const Settings &s = m_engine.context().settings;
    QString caption;
    m_handOver = handOver;
    for (QRadioButton *option : std::as_const(m_optionButtons))
        option->setEnabled(true);
    switch (handOver.kind) {
    case 0:
        caption = QStringLiteral("画像送信ダイアログ");
        m_tag = QStringLiteral("IMG");
        m_msgHide->setEnabled(true);
        selectCompletionOption(s.SndCmpPicLevel);
        m_msgHide->setChecked(s.SndCmpPicHide == 1);
        m_pwLock->setChecked(s.SndCmpPicLock == 1);
        m_open->setChecked(s.SndPicOPChk == 1);
        onChkMsgHideClicked();
        break;
    case 1:
        caption = QStringLiteral("メッセージ送信ダイアログ");
        m_tag = QStringLiteral("MSG");
        m_msgHide->setEnabled(true);
        m_optionButtons[OptMsgNorm]->setEnabled(false);
        m_optionButtons[OptMsgFail]->setEnabled(false);
        selectCompletionOption(s.SndCmpMsgLevel == 0 ? OptMsgYes : s.SndCmpMsgLevel == 1 ? OptMsgNo : -1);
        m_msgHide->setChecked(s.SndCmpMsgHide == 1);
        m_pwLock->setChecked(s.SndCmpMsgLock == 1);
        m_open->setChecked(s.SndMsgOPChk == 1);
        onChkMsgHideClicked();
        break;
    default:
        caption = QStringLiteral("ファイル転送ダイアログ");
        m_tag = QStringLiteral("FILETRAN");
        for (QCheckBox *box : {m_msgHide, m_pwLock, m_open})
            box->setEnabled(false);
        selectCompletionOption(s.SndCmpFileLevel);
        // Files never go to the recipients of an earlier send.
        m_sendList->clear();
        break;
    }
    m_fraSendMsg->setEnabled(true);
    m_cmdSend->setEnabled(true);
    for (QPushButton *b : std::as_const(m_listButtons))
        b->setEnabled(true);
    // A message starts with an empty list, or with the sender of the message a reply
    // answers (the hand-over's tag) when that sender can receive.
    if (handOver.kind == 1) {
        m_sendList->clear();
        const int row = handOver.tag.isEmpty() ? -1 : m_addresses.store().indexOf(handOver.tag);
        if (row >= 0)
            addToSendList({row});
    }
    // A changed key refuses a transfer but not a message: the kind decides.
    markSendList();
    return caption;
}

// ---- send list --------------------------------------------------------------------------

void SendPanel::addToSendList(const QList<int> &storeRows)
{
    if (!m_cmdSend->isEnabled())
        return;
    QSet<QString> names;
    for (int i = 0; i < m_sendList->topLevelItemCount(); ++i)
        names.insert(m_sendList->topLevelItem(i)->text(0));
    for (int row : storeRows) {
        const AddressEntry &entry = m_addresses.store().at(row);
        const QString name = m_addresses.displayName(row);
        // Two peers of the same name: only the first can be chosen.
        if (!entry.isAvail() || names.contains(name))
            continue;
        names.insert(name);
        m_sendList->addTopLevelItem(new QTreeWidgetItem({name, entry.EntryAddress}));
    }
    m_sendListSort->resort();
    markSendList();
}

void SendPanel::markSendList()
{
    bool anyRefused = false;
    for (int i = 0; i < m_sendList->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_sendList->topLevelItem(i);
        markRow(item);
        anyRefused = anyRefused || item->data(0, Qt::UserRole).toBool();
    }
    m_refusedNote->setVisible(anyRefused);
}

void SendPanel::markRow(QTreeWidgetItem *item) const
{
    const QString ip = item->text(1);
    const TransferSealing &sealing = m_engine.sealing();
    const TransferSealing::Peer peer = sealing.peerAt(ip);
    const QString refusal =
        m_tag == QLatin1String("MSG") ? sealing.messageRefusal(ip) : sealing.transferRefusal(ip);
    QString tip;
    switch (peer) {
    case TransferSealing::Peer::Sealed:
        item->setIcon(0, KeyIcons::pinned());
        tip = QStringLiteral("暗号化して送信します。");
        break;
    case TransferSealing::Peer::Changed:
        item->setIcon(0, KeyIcons::changed());
        break;
    case TransferSealing::Peer::Unsealed:
        item->setIcon(0, QIcon());
        if (refusal.isEmpty())
            tip = QStringLiteral("暗号化せずに送信します。");
        break;
    }
    if (!refusal.isEmpty())
        tip = refusal;
    if (const QString keyTip = AddressBookModel::keyTip(m_engine.peerKeys(), ip); !keyTip.isEmpty())
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + keyTip;
    const QBrush text = refusal.isEmpty() ? palette().brush(QPalette::Active, QPalette::Text)
                                          : palette().brush(QPalette::Disabled, QPalette::Text);
    for (int column = 0; column < 2; ++column) {
        item->setToolTip(column, tip);
        item->setForeground(column, text);
    }
    item->setData(0, Qt::UserRole, !refusal.isEmpty());
}

void SendPanel::onCmdListAddClicked()
{
    const QList<int> rows = m_addresses.selectedStoreRows();
    addToSendList(rows);
    if (!m_cmdSend->isEnabled())
        return;
    // A peer that does not answer cannot be sent to. Chosen by hand, it gets a reason
    // rather than a button that seems to do nothing.
    QStringList silent;
    for (int row : rows) {
        const AddressEntry &entry = m_addresses.store().at(row);
        if (!entry.isAvail())
            silent << m_addresses.displayName(row) + QStringLiteral(" (") + entry.EntryAddress +
                          QLatin1Char(')');
    }
    if (!silent.isEmpty())
        ::ShowMessageBox(QStringLiteral("以下の宛先は応答がないため、送信先ﾘｽﾄに追加できません。\r\r") +
                             silent.join(QLatin1Char('\r')) + QStringLiteral("\r\r相手の") +
                             QString::fromUtf8(kProductName) +
                             QStringLiteral("が起動しているか、「再検索」で確かめてください。"),
                         MsgBox::Exclamation, window());
}

void SendPanel::onCmdListAddAllClicked()
{
    addToSendList(m_addresses.visibleStoreRows());
}

void SendPanel::onCmdListDelClicked()
{
    if (!m_cmdSend->isEnabled())
        return;
    qDeleteAll(m_sendList->selectedItems());
    markSendList();
}

void SendPanel::onCmdListDelAllClicked()
{
    m_sendList->clear();
    markSendList();
}

QList<SendRecipient> SendPanel::sendListRows() const
{
    QList<SendRecipient> rows;
    for (int i = 0; i < m_sendList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_sendList->topLevelItem(i);
        rows.append({item->text(0), item->text(1)});
    }
    return rows;
}

void SendPanel::onChkMsgHideClicked()
{
    // Open receipt and password lock only apply to face-down sending.
    const bool faceDown = m_msgHide->isChecked();
    m_open->setEnabled(faceDown);
    m_pwLock->setEnabled(faceDown);
}

// ---- send -------------------------------------------------------------------------------

void SendPanel::onCmdSendClicked()
{
    if (m_sending || m_tag.isEmpty() || m_sendList->topLevelItemCount() == 0)
        return;
    m_sending = true;
    const QList<SendRecipient> recipients = sendListRows();
    if (m_tag == QLatin1String("MSG")) {
        sendMessage(recipients);
        window()->close();
        return;
    }
    // Hidden first; the jobs are queued once the screen has caught up with that.
    window()->hide();
    QTimer::singleShot(0, this, [this, recipients] {
        if (m_engine.context().StartupDone != StartupQuitting)
            queueTransfers(recipients);
        window()->close();
    });
}

void SendPanel::queueTransfers(const QList<SendRecipient> &recipients)
{
    const auto flag = [](const QCheckBox *box) { return QLatin1Char(box->isChecked() ? 'Y' : 'N'); };
    SendChoices choices;
    const int option = m_options->checkedId();
    choices.notice = option >= 0 ? kNoticeOfOption[option] : 0;
    choices.faceDown = flag(m_msgHide);
    choices.passwordLock = flag(m_pwLock);
    choices.openReceipt = flag(m_open);
    SendJobs jobs(m_engine);
    if (m_tag == QLatin1String("IMG"))
        jobs.SendPicture(m_handOver.picture, m_handOver.tag, recipients, choices);
    else
        jobs.SendFiles(SendJobs::FilesOfTag(m_handOver.tag), recipients, choices);
}

void SendPanel::sendMessage(const QList<SendRecipient> &recipients)
{
    MessageOptions options;
    const int option = m_options->checkedId();
    options.receipt = option == OptMsgYes || option == OptMsgNorm;
    const bool faceDown = m_msgHide->isChecked();
    options.displayMode = !faceDown ? u'N' : m_pwLock->isChecked() ? u'L' : u'Y';
    options.openReceipt = faceDown && m_open->isChecked();
    options.messageId = m_handOver.messageId;
    QList<MessageRecipient> list;
    for (const SendRecipient &to : recipients)
        list.append({to.name, to.address});
    m_engine.messages().SendMessageToList(list, m_handOver.text, options);
}
