#include "address/FrmAdrEdit.h"

#include "address/AddressBookModel.h"
#include "address/KeyIcons.h"
#include "net/PeerKeys.h"
#include "net/AddressStore.h"
#include "address/AddressWindows.h"
#include "address/FrmAddAdr.h"
#include "address/FrmModAdr.h"
#include "address/LveAdrViewModel.h"
#include "address/SendJobs.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "base/SettingsFile.h"
#include "ui/WindowRegistry.h"
#include "net/MessageDelivery.h"
#include "net/NetEngine.h"
#include "ui/FlipSort.h"
#include "ui/ListColumns.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Default widths of the address list's columns in twips; state and version are hidden
// until the user widens them.
const QList<int> kColumnTwips = {1976, 529, 547, 0, 0};
constexpr int kColumnCount = AddressBookModel::ColumnCount;

constexpr int kAddressBookWidthTwips = 7425;
constexpr int kSendDialogWidthTwips = 10065;
constexpr int kHeightTwips = 6600;
// The send list, its buttons and the options take the width the send dialog adds.
constexpr int kSendPanelWidthTwips = kSendDialogWidthTwips - kAddressBookWidthTwips;
constexpr int kTreeWidthTwips = 2100;
constexpr int kSearchIntervalMs = 10000;

// The completion options in their order, with the notice code a job stores for each.
enum CompletionOption { OptMsgYes, OptMsgNorm, OptMsgFail, OptMsgNo };
constexpr int kNoticeOfOption[] = {2, 1, 3, 0};

const QString kNothingSelected = QStringLiteral("選択されてません。");
const QString kDeleteQuestion = QStringLiteral("選択されたアドレスを削除してもよろしいですか？");

QString columnKey(int column)
{
    return QStringLiteral("AdrTVColHdWith%1").arg(column + 1);
}

QIcon favouriteIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
        const double radius = i % 2 == 0 ? 7.5 : 3.2;
        const double angle = -M_PI / 2 + i * M_PI / 5;
        const QPointF point(8 + radius * std::cos(angle), 8.5 + radius * std::sin(angle));
        if (i == 0)
            star.moveTo(point);
        else
            star.lineTo(point);
    }
    star.closeSubpath();
    painter.setPen(QColor(180, 120, 0));
    painter.setBrush(QColor(255, 200, 40));
    painter.drawPath(star);
    return QIcon(pixmap);
}

} // namespace

FrmAdrEdit::FrmAdrEdit(NetEngine &engine, WindowRegistry &windows, QWidget *parent)
    : QWidget(parent), m_engine(engine), m_ctx(engine.context()), m_windows(windows)
{
    setObjectName(QStringLiteral("FrmAdrEdit"));
    setWindowIcon(QApplication::windowIcon());
    m_model = new AddressBookModel(engine.addresses(), this);
    m_model->setPeerKeys(&engine.peerKeys(), KeyIcons::pinned(), KeyIcons::changed());
    m_list = new LveAdrViewModel(m_model, this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSourceModel(m_list);
    m_sorted->setDynamicSortFilter(true);
    m_timer1.setInterval(kSearchIntervalMs);
    m_timer1.setSingleShot(true);

    buildControls();
    buildPopup();

    // The load: layout settings, the tree with the root selected, the list in store order.
    ReadWindowLayout();
    buildTree();
    // Presence writes into the open window: new groups get their node at once.
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { onStoreRowsChanged(first, last); });
    connect(
        m_model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &from, const QModelIndex &to) { onStoreRowsChanged(from.row(), to.row()); });
}

FrmAdrEdit::~FrmAdrEdit() = default;

AddressStore &FrmAdrEdit::store() const
{
    return m_engine.addresses();
}

// ---- controls --------------------------------------------------------------------------

void FrmAdrEdit::buildControls()
{
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("TreGrpView"));
    m_tree->setHeaderHidden(true);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setFixedWidth(twipsToPixels(kTreeWidthTwips));
    m_tree->viewport()->installEventFilter(this);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &FrmAdrEdit::onTreeSelectionChanged);
    connect(m_tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        if (item && item == std::exchange(m_reclicked, nullptr))
            m_list->selectNode(item->text(0));
    });

    // A table rather than a tree: a row that joins the list costs it no layout of the
    // other rows, which matters with thousands of peers and presence arriving.
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("LveAdrView"));
    m_view->setModel(m_sorted);
    m_view->setShowGrid(false);
    m_view->setWordWrap(false);
    m_view->setCornerButtonEnabled(false);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *header = m_view->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(false);
    SetDesignColumnWidths(m_view, header, kColumnTwips,
                          {QString(), QStringLiteral("255.255.255.255"), QStringLiteral("MT")});
    m_view->installEventFilter(this);
    new FlipSort(m_view, header);
    connect(m_view, &QTableView::customContextMenuRequested, this, &FrmAdrEdit::onPopUpRequested);
    connect(m_view, &QTableView::doubleClicked, this, [this] { onCmdListAddClicked(); });

    m_availOnly = new QCheckBox(QStringLiteral("送信可のみ表示"), this);
    m_availOnly->setObjectName(QStringLiteral("ChkAvailOnly"));
    connect(m_availOnly, &QCheckBox::clicked, this, &FrmAdrEdit::onChkAvailOnlyClicked);

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
    m_cmdSend = button("CmdSend", QStringLiteral("送信"), &FrmAdrEdit::onCmdSendClicked);
    m_cmdClose = new QPushButton(QStringLiteral("閉じる"), this);
    m_cmdClose->setObjectName(QStringLiteral("CmdClose"));
    m_cmdClose->setAutoDefault(false);
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);

    auto *lists = new QHBoxLayout;
    lists->addWidget(m_tree);
    lists->addWidget(m_view, 1);
    auto *listCommands = new QHBoxLayout;
    listCommands->addWidget(m_availOnly);
    listCommands->addStretch(1);
    for (QPushButton *b : {m_cmdAdd, m_cmdMod, m_cmdDel})
        listCommands->addWidget(b);
    listCommands->addSpacing(8);
    listCommands->addWidget(m_cmdSerch);
    auto *addressColumn = new QVBoxLayout;
    addressColumn->addLayout(lists, 1);
    addressColumn->addLayout(listCommands);

    m_sendPanel = buildSendPanel();
    auto *columns = new QHBoxLayout;
    columns->addLayout(addressColumn, 1);
    columns->addWidget(m_sendPanel);

    auto *closing = new QHBoxLayout;
    closing->addStretch(1);
    closing->addWidget(m_cmdSend);
    closing->addWidget(m_cmdClose);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(columns, 1);
    layout->addLayout(closing);
}

QWidget *FrmAdrEdit::buildSendPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("SendPanel"));
    panel->setFixedWidth(twipsToPixels(kSendPanelWidthTwips));

    m_sendList = new QTreeWidget(panel);
    m_sendList->setObjectName(QStringLiteral("LVeSendList"));
    SetReportList(m_sendList, {QStringLiteral("名前"), QStringLiteral("IPｱﾄﾞﾚｽ")});
    // Both columns within the panel: the address takes what the name leaves.
    m_sendList->header()->setStretchLastSection(false);
    m_sendList->header()->resizeSection(0, twipsToPixels(1200));
    m_sendList->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_sendListSort = new FlipSort(m_sendList, m_sendList->header());
    connect(m_sendList, &QTreeWidget::itemDoubleClicked, this, [this] { onCmdListDelClicked(); });

    const auto button = [this, panel](const char *name, const QString &caption,
                                      void (FrmAdrEdit::*handler)()) {
        auto *b = new QPushButton(caption, panel);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, handler);
        m_listButtons << b;
        return b;
    };
    auto *buttons = new QGridLayout;
    buttons->addWidget(button("CmdListAdd", QStringLiteral("> 追加"), &FrmAdrEdit::onCmdListAddClicked), 0,
                       0);
    buttons->addWidget(button("CmdListDel", QStringLiteral("削除 <"), &FrmAdrEdit::onCmdListDelClicked), 0,
                       1);
    buttons->addWidget(button("CmdListAddAll", QStringLiteral("全追加"), &FrmAdrEdit::onCmdListAddAllClicked),
                       1, 0);
    buttons->addWidget(button("CmdListDelAll", QStringLiteral("全削除"), &FrmAdrEdit::onCmdListDelAllClicked),
                       1, 1);

    const auto check = [panel](const char *name, const QString &caption) {
        auto *box = new QCheckBox(caption, panel);
        box->setObjectName(QString::fromLatin1(name));
        return box;
    };
    m_msgHide = check("ChkMsgHide", QStringLiteral("内容をふせて送信"));
    m_pwLock = check("ChkPWLock", QStringLiteral("パスワードロック"));
    m_open = check("ChkOpen", QStringLiteral("開封確認"));
    connect(m_msgHide, &QCheckBox::clicked, this, &FrmAdrEdit::onChkMsgHideClicked);

    m_fraSendMsg = new QGroupBox(QStringLiteral("送信完了ﾒｯｾｰｼﾞ"), panel);
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

    auto *caption = new QLabel(QStringLiteral("送信先ﾘｽﾄ"), panel);
    caption->setObjectName(QStringLiteral("LblSendList"));
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(caption);
    layout->addWidget(m_sendList, 1);
    layout->addWidget(m_msgHide);
    layout->addWidget(m_pwLock);
    layout->addWidget(m_open);
    layout->addWidget(m_fraSendMsg);
    return panel;
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
        if (const int row = selectedStoreRow(); row >= 0)
            m_engine.AcceptPeerKey(store().at(row).EntryAddress);
    });
    // The check marks show the row's state when the menu opens; a click toggles it.
    for (QAction *toggle : {m_mnuOki, m_mnuAutoTran})
        toggle->setCheckable(true);
    connect(m_mnuOki, &QAction::triggered, this, &FrmAdrEdit::onMnuPAdrViewOkiTriggered);
    connect(m_mnuAutoTran, &QAction::triggered, this, &FrmAdrEdit::onMnuPAdrViewAutoTranPicTriggered);
    connect(m_mnuMod, &QAction::triggered, this, &FrmAdrEdit::onCmdAdrModClicked);
    connect(m_mnuDel, &QAction::triggered, this, &FrmAdrEdit::onCmdDelAdrClicked);
}

// ---- load, layout and closing ------------------------------------------------------------

void FrmAdrEdit::ReadWindowLayout()
{
    const SettingsFile file(m_ctx.SettingsPath());
    const QString section = QString::fromLatin1(kSectionAdrEdit);
    double widths[kColumnCount] = {};
    bool anySaved = false;
    for (int column = 0; column < kColumnCount; ++column) {
        widths[column] = file.ReadSetting(section, columnKey(column)).trimmed().toDouble();
        anySaved = anySaved || widths[column] > 0;
    }
    if (anySaved) {
        for (int column = 0; column < kColumnCount; ++column)
            m_view->horizontalHeader()->resizeSection(column, std::max(0, twipsToPixels(widths[column])));
    }
    const bool availOnly =
        file.ReadSetting(section, QStringLiteral("AvailOnly")).trimmed() == QLatin1String("1");
    m_availOnly->setChecked(availOnly);
    m_list->setAvailOnly(availOnly);
}

void FrmAdrEdit::WriteWindowLayout()
{
    const SettingsFile file(m_ctx.SettingsPath());
    const QString section = QString::fromLatin1(kSectionAdrEdit);
    for (int column = 0; column < kColumnCount; ++column)
        file.WriteSetting(section, columnKey(column),
                          QString::number(pixelsToTwips(m_view->horizontalHeader()->sectionSize(column))));
    file.WriteSetting(section, QStringLiteral("AvailOnly"),
                      m_availOnly->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void FrmAdrEdit::buildTree()
{
    m_tree->clear();
    m_leafTexts.clear();
    // One icon for every group node: the style makes a new one at each call.
    m_groupIcon = style()->standardIcon(QStyle::SP_DirIcon);
    m_root = new QTreeWidgetItem(m_tree, {LveAdrViewModel::rootNodeText()});
    m_root->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
    auto *favourites = new QTreeWidgetItem(m_root, {LveAdrViewModel::favouritesNodeText()});
    favourites->setIcon(0, favouriteIcon());
    m_leafTexts.insert(favourites->text(0));
    m_root->setExpanded(true);
    {
        // The list is filled for the root once, below, not on this selection.
        const QSignalBlocker quiet(m_tree);
        m_tree->setCurrentItem(m_root);
    }
    onStoreRowsChanged(0, store().size() - 1);
    m_list->selectNode(m_root->text(0));
}

void FrmAdrEdit::addGroupNode(const QString &group)
{
    auto *node = new QTreeWidgetItem(m_root, {group});
    node->setIcon(0, m_groupIcon);
    m_leafTexts.insert(group);
}

void FrmAdrEdit::onStoreRowsChanged(int first, int last)
{
    // A group gets a node unless a node without children has its text already, so a group
    // named "お気に入り" shares the favourites node, and one named like the root gets its own.
    const AddressStore &rows = store();
    for (int row = std::max(0, first); row <= last && row < rows.size(); ++row) {
        const QString &group = rows.at(row).EntryGroup;
        if (!group.isEmpty() && !m_leafTexts.contains(group))
            addGroupNode(group);
    }
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

void FrmAdrEdit::setSendPanelShown(bool shown)
{
    // The address book is the narrower window; the send list and its options lie beyond
    // its right edge.
    m_sendPanel->setVisible(shown);
}

void FrmAdrEdit::selectCompletionOption(int option)
{
    m_options->setExclusive(false);
    for (int i = 0; i < m_optionButtons.size(); ++i)
        m_optionButtons[i]->setChecked(i == option);
    m_options->setExclusive(true);
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
    m_tag.clear();
    m_handOver = SendHandOver();
    setWindowTitle(QStringLiteral("アドレス帳"));
    m_cmdSend->setEnabled(false);
    for (QPushButton *b : std::as_const(m_listButtons))
        b->setEnabled(false);
    m_fraSendMsg->setEnabled(false);
    for (QRadioButton *option : std::as_const(m_optionButtons))
        option->setEnabled(false);
    for (QCheckBox *box : {m_msgHide, m_pwLock, m_open})
        box->setEnabled(false);
    selectCompletionOption(-1);
    setSendPanelShown(false);
    centreOnScreen(kAddressBookWidthTwips);
    showRaised();
}

void FrmAdrEdit::LoadSendAddr(const SendHandOver &handOver)
{
    const Settings &s = m_ctx.settings;
    m_handOver = handOver;
    for (QRadioButton *option : std::as_const(m_optionButtons))
        option->setEnabled(true);
    switch (handOver.kind) {
    case 0:
        setWindowTitle(QStringLiteral("画像送信ダイアログ"));
        m_tag = QStringLiteral("IMG");
        m_msgHide->setEnabled(true);
        selectCompletionOption(s.SndCmpPicLevel);
        m_msgHide->setChecked(s.SndCmpPicHide == 1);
        m_pwLock->setChecked(s.SndCmpPicLock == 1);
        m_open->setChecked(s.SndPicOPChk == 1);
        onChkMsgHideClicked();
        break;
    case 1:
        setWindowTitle(QStringLiteral("メッセージ送信ダイアログ"));
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
        setWindowTitle(QStringLiteral("ファイル転送ダイアログ"));
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
        const int row = handOver.tag.isEmpty() ? -1 : store().indexOf(handOver.tag);
        if (row >= 0)
            addToSendList({row});
    }
    setSendPanelShown(true);
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

// ---- tree and list ----------------------------------------------------------------------

bool FrmAdrEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_tree->viewport() && event->type() == QEvent::MouseButtonPress) {
        // A click on the selected node does not change the selection, yet refills the list.
        QTreeWidgetItem *item = m_tree->itemAt(static_cast<QMouseEvent *>(event)->position().toPoint());
        m_reclicked = item && item->isSelected() ? item : nullptr;
    } else if (watched == m_view && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        onCmdDelAdrClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FrmAdrEdit::onTreeSelectionChanged()
{
    const QList<QTreeWidgetItem *> selected = m_tree->selectedItems();
    if (!selected.isEmpty())
        m_list->selectNode(selected.front()->text(0));
}

void FrmAdrEdit::onChkAvailOnlyClicked(bool checked)
{
    m_list->setAvailOnly(checked);
}

QList<int> FrmAdrEdit::visibleStoreRows() const
{
    QList<int> rows;
    for (int row = 0; row < m_sorted->rowCount(); ++row)
        rows << m_list->mapToSource(m_sorted->mapToSource(m_sorted->index(row, 0))).row();
    return rows;
}

QList<int> FrmAdrEdit::selectedStoreRows() const
{
    QModelIndexList selected = m_view->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QList<int> rows;
    for (const QModelIndex &index : std::as_const(selected))
        rows << m_list->mapToSource(m_sorted->mapToSource(index)).row();
    return rows;
}

int FrmAdrEdit::selectedStoreRow() const
{
    const QList<int> rows = selectedStoreRows();
    return rows.isEmpty() ? -1 : rows.front();
}

// ---- search -----------------------------------------------------------------------------

void FrmAdrEdit::onCmdSerchClicked()
{
    m_cmdSerch->setEnabled(false);
    {
        // With no node selected, answers fill the store only until a node is chosen again.
        const QSignalBlocker quiet(m_tree);
        m_tree->clearSelection();
        m_tree->setCurrentItem(nullptr);
    }
    m_list->deselectNode();
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
    const int row = selectedStoreRow();
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
    if (selectedStoreRow() < 0) {
        ::ShowMessageBox(kNothingSelected, MsgBox::Exclamation, this);
        return;
    }
    if (::ShowMessageBox(kDeleteQuestion, MsgBox::Question | MsgBox::YesNo, this) != MsgBox::IdYes)
        return;
    // Looked at after the question: presence may have changed the rows while it was open.
    QStringList addresses;
    for (int row : selectedStoreRows()) {
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

void FrmAdrEdit::onPopUpRequested(const QPoint &position)
{
    const int row = selectedStoreRow();
    if (row < 0)
        return;
    const AddressEntry &entry = store().at(row);
    m_mnuMod->setEnabled(entry.isManual());
    m_mnuDel->setEnabled(true);
    m_mnuAcceptKey->setEnabled(m_model->index(row, 0).data(AddressBookModel::KeyTrustRole).toInt() ==
                               int(PeerKeys::Trust::Changed));
    m_mnuAutoTran->setChecked(entry.isAutoTransferTarget());
    m_mnuOki->setChecked(store().FindAddressByIp(entry.EntryAddress).EntryFavourite == QLatin1String("1"));
    m_popup->popup(m_view->viewport()->mapToGlobal(position));
}

void FrmAdrEdit::onMnuPAdrViewAutoTranPicTriggered()
{
    const int row = selectedStoreRow();
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
    const int row = selectedStoreRow();
    if (row < 0)
        return;
    const int target = store().indexOf(store().at(row).EntryAddress);
    const bool wasFavourite = store().at(target).EntryFavourite == QLatin1String("1");
    store().editable(target).EntryFavourite = wasFavourite ? QString() : QStringLiteral("1");
    store().notifyChanged(target);
    if (wasFavourite && m_list->hasSelectedNode() &&
        m_list->selectedNode() == LveAdrViewModel::favouritesNodeText())
        m_list->removeFromList(m_list->mapFromSource(m_model->index(row, 0)).row());
}

// ---- send list --------------------------------------------------------------------------

void FrmAdrEdit::addToSendList(const QList<int> &storeRows)
{
    if (!m_cmdSend->isEnabled())
        return;
    QSet<QString> names;
    for (int i = 0; i < m_sendList->topLevelItemCount(); ++i)
        names.insert(m_sendList->topLevelItem(i)->text(0));
    for (int row : storeRows) {
        const AddressEntry &entry = store().at(row);
        const QString name = m_model->index(row, AddressBookModel::ColName).data().toString();
        // Two peers of the same name: only the first can be chosen.
        if (!entry.isAvail() || names.contains(name))
            continue;
        names.insert(name);
        m_sendList->addTopLevelItem(new QTreeWidgetItem({name, entry.EntryAddress}));
    }
    m_sendListSort->resort();
}

void FrmAdrEdit::onCmdListAddClicked()
{
    const QList<int> rows = selectedStoreRows();
    addToSendList(rows);
    if (!m_cmdSend->isEnabled())
        return;
    // A peer that does not answer cannot be sent to. Chosen by hand, it gets a reason
    // rather than a button that seems to do nothing.
    QStringList silent;
    for (int row : rows) {
        const AddressEntry &entry = store().at(row);
        if (!entry.isAvail())
            silent << m_model->index(row, AddressBookModel::ColName).data().toString() + QStringLiteral(" (") +
                          entry.EntryAddress + QLatin1Char(')');
    }
    if (!silent.isEmpty())
        ::ShowMessageBox(QStringLiteral("以下の宛先は応答がないため、送信先ﾘｽﾄに追加できません。\r\r") +
                             silent.join(QLatin1Char('\r')) + QStringLiteral("\r\r相手の") +
                             QString::fromUtf8(kProductName) +
                             QStringLiteral("が起動しているか、「再検索」で確かめてください。"),
                         MsgBox::Exclamation, this);
}

void FrmAdrEdit::onCmdListAddAllClicked()
{
    addToSendList(visibleStoreRows());
}

void FrmAdrEdit::onCmdListDelClicked()
{
    if (!m_cmdSend->isEnabled())
        return;
    qDeleteAll(m_sendList->selectedItems());
}

void FrmAdrEdit::onCmdListDelAllClicked()
{
    m_sendList->clear();
}

QList<SendRecipient> FrmAdrEdit::sendListRows() const
{
    QList<SendRecipient> rows;
    for (int i = 0; i < m_sendList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_sendList->topLevelItem(i);
        rows.append({item->text(0), item->text(1)});
    }
    return rows;
}

void FrmAdrEdit::onChkMsgHideClicked()
{
    // Open receipt and password lock only apply to face-down sending.
    const bool faceDown = m_msgHide->isChecked();
    m_open->setEnabled(faceDown);
    m_pwLock->setEnabled(faceDown);
}

// ---- send -------------------------------------------------------------------------------

void FrmAdrEdit::onCmdSendClicked()
{
    if (m_sending || m_tag.isEmpty() || m_sendList->topLevelItemCount() == 0)
        return;
    m_sending = true;
    const QList<SendRecipient> recipients = sendListRows();
    if (m_tag == QLatin1String("MSG")) {
        sendMessage(recipients);
        close();
        return;
    }
    // Hidden first; the jobs are queued once the screen has caught up with that.
    hide();
    QTimer::singleShot(0, this, [this, recipients] {
        if (m_ctx.StartupDone != StartupQuitting)
            queueTransfers(recipients);
        close();
    });
}

void FrmAdrEdit::queueTransfers(const QList<SendRecipient> &recipients)
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

void FrmAdrEdit::sendMessage(const QList<SendRecipient> &recipients)
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
