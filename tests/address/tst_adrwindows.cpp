// The address book window and send dialog under a private X server, over engines on
// 127.0.0.x that answer presence: the group tree, the show-available-only rule, the
// search's datagrams, the add, modify and delete commands, the send list, and pictures and
// messages sent through the window to two peers with their lines in FrmSend.
#include "address/AddressBookModel.h"
#include "net/AddressStore.h"
#include "address/AddressWindows.h"
#include "address/FrmAddAdr.h"
#include "address/FrmAdrEdit.h"
#include "address/FrmModAdr.h"
#include "address/FrmSend.h"
#include "address/KeyIcons.h"
#include "address/LveAdrViewModel.h"
#include "capture/FrmMain.h"
#include "ui/Commands.h"
#include "app/FrmSket.h"
#include "base/SettingsFile.h"
#include "ui/WindowRegistry.h"
#include "base/Protocol.h"
#include "net/Identity.h"
#include "net/PeerKeys.h"
#include "net/TransferSealing.h"
#include "support/AddressRows.h"
#include "support/ChildNamed.h"
#include "support/FirstRun.h"
#include "support/LoopbackEngine.h"
#include "support/NextMessageBox.h"
#include "support/RawPeer.h"
#include "support/WindowShot.h"
#include "support/XvfbSession.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QString kA = QStringLiteral("127.0.0.2");
const QString kB = QStringLiteral("127.0.0.3");
const QString kC = QStringLiteral("127.0.0.4");
// Where the window's engine broadcasts, and a manual entry: both raw listeners.
const QString kBroadcastListener = QStringLiteral("127.0.0.8");
const QString kManualListener = QStringLiteral("127.0.0.9");

// A peer that also records what arrives for it.
struct Peer : LoopbackEngine
{
    Peer(const QString &ip, const QString &name, const QString &group) : LoopbackEngine(ip, name, group, kA)
    {
        ctx.MakeTempFolders(dir.path() + QStringLiteral("/tmp/"));
        ctx.ProgramDir = dir.path() + u'/';
        QObject::connect(&engine.events(), &EngineEvents::imageArrived, &engine,
                         [this](const ArrivedImage &a) { images << QImage(a.path); });
        QObject::connect(&engine.events(), &EngineEvents::messageArrived, &engine,
                         [this](const ReceivedMessage &m) { messages << m; });
    }
    bool start()
    {
        // Our own archiver: a packed picture is unpacked here as it is sent.
        engine.CheckArchiver();
        return LoopbackEngine::start();
    }
    QString displayName() const
    {
        return ctx.settings.Name + QStringLiteral(" (") + ctx.LocalHostName + u')';
    }
    QTemporaryDir dir;
    QList<QImage> images;
    QList<ReceivedMessage> messages;
};

// The engine a window works on, with the registry, the commands and the wiring the
// program sets up.
struct Desk
{
    Desk() : a(kA, QStringLiteral("山田"), QStringLiteral("総務"), kBroadcastListener)
    {
        a.ctx.ProgramDir = dir.path() + u'/';
        a.ctx.MakeTempFolders(dir.path() + QStringLiteral("/tmp/"));
    }
    bool start()
    {
        a.ctx.NetworkReady = a.start();
        return a.ctx.NetworkReady;
    }
    AddressStore &store() { return a.engine.addresses(); }
    FrmAdrEdit *openBook()
    {
        commands.run(QStringLiteral("mnuAdrEdit"));
        return windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    }

    QTemporaryDir dir;
    LoopbackEngine a;
    WindowRegistry windows;
    Commands commands{a.ctx, a.engine, windows};
    AddressWindows wiring{a.engine, windows, commands};
};

// `engine` asks `peer` for its presence and waits until the answer made its row "avail"
// with the peer's version.
bool learn(NetEngine &engine, Peer &peer)
{
    engine.BCastMsgSend(Protocol::kAnnounce, peer.ctx.LocalIp);
    return QTest::qWaitFor([&] {
        const AddressEntry row = engine.addresses().FindAddressByIp(peer.ctx.LocalIp);
        return row.isAvail() && row.EntryVersion == QLatin1String("266");
    });
}

QTreeWidget *tree(FrmAdrEdit *book)
{
    return child<QTreeWidget>(book, "TreGrpView");
}

QTableView *view(FrmAdrEdit *book)
{
    return child<QTableView>(book, "LveAdrView");
}

QStringList nodeTexts(FrmAdrEdit *book)
{
    QStringList texts;
    QTreeWidgetItem *root = tree(book)->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i)
        texts << root->child(i)->text(0);
    return texts;
}

void clickNode(FrmAdrEdit *book, QTreeWidgetItem *item)
{
    const QRect rect = tree(book)->visualItemRect(item);
    QTest::mouseClick(tree(book)->viewport(), Qt::LeftButton, {}, rect.center());
}

QTreeWidgetItem *groupNode(FrmAdrEdit *book, const QString &text)
{
    QTreeWidgetItem *root = tree(book)->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->text(0) == text)
            return root->child(i);
    }
    return nullptr;
}

// The addresses the list shows, in its order.
QStringList listed(FrmAdrEdit *book)
{
    QStringList addresses;
    const QAbstractItemModel *model = view(book)->model();
    for (int row = 0; row < model->rowCount(); ++row)
        addresses << model->index(row, AddressBookModel::ColAddress).data().toString();
    return addresses;
}

void selectAddresses(FrmAdrEdit *book, const QStringList &addresses)
{
    QTableView *list = view(book);
    list->clearSelection();
    const QAbstractItemModel *model = list->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (addresses.contains(model->index(row, AddressBookModel::ColAddress).data().toString()))
            list->selectionModel()->select(model->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QStringList sendList(FrmAdrEdit *book)
{
    QStringList rows;
    auto *list = child<QTreeWidget>(book, "LVeSendList");
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + u'/' + list->topLevelItem(i)->text(1);
    return rows;
}

void click(QWidget *window, const char *button)
{
    auto *b = child<QAbstractButton>(window, button);
    QVERIFY2(b, button);
    QVERIFY2(b->isEnabled(), button);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(4, b->height() / 2));
}

// The controls Tab reaches from the group tree, one per press, until it is back there.
QStringList tabOrder(QWidget *window)
{
    QWidget *first = child<QWidget>(window, "TreGrpView");
    window->activateWindow();
    first->setFocus();
    if (!QTest::qWaitFor([first] { return first->hasFocus(); }))
        return {QStringLiteral("no focus")};
    QStringList names{first->objectName()};
    for (int press = 0; press < 40; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *now = QApplication::focusWidget();
        if (!now || now == first)
            return names;
        names << now->objectName();
    }
    return names << QStringLiteral("never back");
}

// Clicks `button` and answers the message box it opens with `answer`; gives the box's text.
QString clickAnswering(QWidget *window, const char *button, QMessageBox::StandardButton answer)
{
    QString text;
    onNextBox([&](QMessageBox *box) {
        text = box->text();
        box->button(answer)->click();
    });
    child<QAbstractButton>(window, button)->click();
    return text;
}

} // namespace

class tst_AdrWindows : public QObject
{
    Q_OBJECT
  public:
    tst_AdrWindows(XvfbSession &session, const QString &skipReason)
        : m_session(session), m_skipReason(skipReason)
    {}

  private slots:
    void initTestCase()
    {
        if (!m_skipReason.isEmpty())
            QSKIP(qPrintable(m_skipReason));
    }
    void treeListsEachGroupOnceAndFollowsPresence();
    void availOnlyKeepsRowsThatTurnUnavailUntilRebuilt();
    void searchAnnouncesAndKeepsAvailabilityForTenSeconds();
    void addReplacesALearntRowAndRefusesAManualOne();
    void modifyChangesTheRowThatHadTheOldAddress();
    void deleteRemovesOnlyManualOrUnavailableRows();
    void sendListTakesAvailablePeersOnceByName();
    void sendListMarksSealedChangedAndRefusedRows();
    void pictureAndMessageReachTwoPeersAndAreListed();

  private:
    [[maybe_unused]] XvfbSession &m_session;
    QString m_skipReason;
};

void tst_AdrWindows::treeListsEachGroupOnceAndFollowsPresence()
{
    Desk desk;
    QVERIFY(desk.start());
    Peer b(kB, QStringLiteral("佐藤"), QStringLiteral("開発"));
    QVERIFY(b.start());
    desk.store().append(
        addressRow(QStringLiteral("一郎 (h1)"), QStringLiteral("10.0.0.1"), {}, QStringLiteral("営業")));
    desk.store().append(
        addressRow(QStringLiteral("二郎 (h2)"), QStringLiteral("10.0.0.2"), {}, QStringLiteral("営業")));
    desk.store().append(addressRow(QStringLiteral("三郎"), QStringLiteral("10.0.0.3"), QStringLiteral("M"),
                                   QStringLiteral("お気に入り"), QStringLiteral("1")));
    desk.store().append(
        addressRow(QStringLiteral("四郎"), QStringLiteral("10.0.0.4"), {}, QStringLiteral("ぞるびん")));
    desk.store().append(addressRow(QStringLiteral("五郎"), QStringLiteral("10.0.0.5"), QStringLiteral("M")));

    FrmAdrEdit *book = desk.openBook();
    QVERIFY(book);
    QVERIFY(QTest::qWaitForWindowExposed(book));
    QCOMPARE(book->windowTitle(), QStringLiteral("アドレス帳"));
    QCOMPARE(book->width(), 495);
    QVERIFY(!child<QWidget>(book, "SendPanel")->isVisible());
    QVERIFY(!child<QPushButton>(book, "CmdSend")->isEnabled());
    for (const char *name : {"OptMsgYes", "OptMsgNorm", "OptMsgFail", "OptMsgNo"})
        QVERIFY(!child<QRadioButton>(book, name)->isChecked());
    // Default widths 1976, 529, 547, 0 and 0 twips, the address column wide enough for
    // any address; state and version hidden.
    const QHeaderView *header = view(book)->horizontalHeader();
    QCOMPARE(header->sectionSize(0), 132);
    QVERIFY(header->sectionSize(1) >
            view(book)->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")));
    QVERIFY(header->sectionSize(2) >= 36);
    QCOMPARE(header->sectionSize(3), 0);
    QCOMPARE(header->sectionSize(4), 0);
    // Tab leaves the address list at once (its rows are chosen whole), and the send
    // controls are out of its reach.
    QCOMPARE(tabOrder(book), (QStringList{"TreGrpView", "LveAdrView", "ChkAvailOnly", "CmdAddAdr",
                                          "CmdAdrMod", "CmdDelAdr", "CmdSerch", "CmdClose"}));

    // The favourites node is there once, whatever a peer calls its group; a group named
    // like the root gets a node of its own.
    QCOMPARE(tree(book)->topLevelItemCount(), 1);
    QTreeWidgetItem *root = tree(book)->topLevelItem(0);
    QCOMPARE(root->text(0), QStringLiteral("ぞるびん"));
    QVERIFY(root->isExpanded());
    QCOMPARE(tree(book)->currentItem(), root);
    QCOMPARE(nodeTexts(book),
             (QStringList{QStringLiteral("お気に入り"), QStringLiteral("営業"), QStringLiteral("ぞるびん")}));
    QCOMPARE(listed(book).size(), 5);

    // A peer that answers joins the open window: its group gets a node and its row joins
    // the list, with no rebuild.
    QSignalSpy resets(view(book)->model(), &QAbstractItemModel::modelReset);
    QVERIFY(learn(desk.a.engine, b));
    QCOMPARE(nodeTexts(book).last(), QStringLiteral("開発"));
    QCOMPARE(listed(book).last(), kB);
    QVERIFY(learn(desk.a.engine, b));
    QCOMPARE(nodeTexts(book).count(QStringLiteral("開発")), 1);
    QCOMPARE(resets.count(), 0);

    clickNode(book, groupNode(book, QStringLiteral("営業")));
    QCOMPARE(listed(book), (QStringList{QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2")}));
    clickNode(book, groupNode(book, QStringLiteral("お気に入り")));
    QCOMPARE(listed(book), QStringList{QStringLiteral("10.0.0.3")});
    clickNode(book, groupNode(book, QStringLiteral("ぞるびん")));
    QCOMPARE(listed(book).size(), 6);

    // Sorting flips on every header click, whichever column it was.
    QTest::mouseClick(view(book)->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 10, header->height() / 2));
    QCOMPARE(listed(book).first(), QStringLiteral("10.0.0.1"));
    QCOMPARE(listed(book).last(), kB);
    QTest::mouseClick(view(book)->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 10, header->height() / 2));
    QCOMPARE(listed(book).first(), QStringLiteral("10.0.0.4")); // 四郎, descending by name
    QTest::mouseClick(view(book)->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 10, header->height() / 2));
    QCOMPARE(listed(book).first(), QStringLiteral("10.0.0.1")); // 一郎 ascending

    // Opening again reuses the window.
    QCOMPARE(desk.openBook(), book);
    shoot(book, QStringLiteral("address-book"));
}

void tst_AdrWindows::availOnlyKeepsRowsThatTurnUnavailUntilRebuilt()
{
    Desk desk;
    QVERIFY(desk.start());
    Peer b(kB, QStringLiteral("佐藤"), QStringLiteral("開発"));
    Peer c(kC, QStringLiteral("鈴木"), QStringLiteral("営業"));
    QVERIFY(b.start() && c.start());
    desk.store().append(
        addressRow(QStringLiteral("手入力"), QStringLiteral("10.0.0.1"), QStringLiteral("M")));
    QVERIFY(learn(desk.a.engine, b));
    QVERIFY(learn(desk.a.engine, c));

    FrmAdrEdit *book = desk.openBook();
    QVERIFY(QTest::qWaitForWindowExposed(book));
    QCOMPARE(listed(book), (QStringList{QStringLiteral("10.0.0.1"), kB, kC}));
    auto *availOnly = child<QCheckBox>(book, "ChkAvailOnly");
    QCOMPARE(availOnly->text(), QStringLiteral("送信可のみ表示"));
    click(book, "ChkAvailOnly");
    QCOMPARE(listed(book), (QStringList{kB, kC}));

    // A peer that says goodbye stays listed, "unavail", until the list is built again.
    c.engine.SayGoodbye();
    QTRY_VERIFY(!desk.store().FindAddressByIp(kC).isAvail());
    QCOMPARE(listed(book), (QStringList{kB, kC}));
    QCOMPARE(view(book)->model()->index(1, AddressBookModel::ColState).data().toString(), kStateUnavail);
    clickNode(book, tree(book)->topLevelItem(0));
    QCOMPARE(listed(book), QStringList{kB});
    click(book, "ChkAvailOnly");
    QCOMPARE(listed(book), (QStringList{QStringLiteral("10.0.0.1"), kB, kC}));
    click(book, "ChkAvailOnly");
    QCOMPARE(listed(book), QStringList{kB});

    // Closing keeps the widths (in twips) and the box in section AdrEdit; the next opening
    // starts from them.
    view(book)->horizontalHeader()->resizeSection(0, 200);
    const int addressWidth = view(book)->horizontalHeader()->sectionSize(1);
    click(book, "CmdClose");
    QTRY_VERIFY(!desk.windows.find(WindowKind::AdrEdit));
    const SettingsFile ini(desk.a.ctx.SettingsPath());
    QCOMPARE(ini.ReadSetting(QStringLiteral("AdrEdit"), QStringLiteral("AvailOnly")), QStringLiteral("1"));
    QCOMPARE(ini.ReadSetting(QStringLiteral("AdrEdit"), QStringLiteral("AdrTVColHdWith1")),
             QStringLiteral("3000"));
    QCOMPARE(ini.ReadSetting(QStringLiteral("AdrEdit"), QStringLiteral("AdrTVColHdWith2")),
             QString::number(addressWidth * 15));
    QCOMPARE(ini.ReadSetting(QStringLiteral("AdrEdit"), QStringLiteral("AdrTVColHdWith5")),
             QStringLiteral("0"));
    book = desk.openBook();
    QVERIFY(child<QCheckBox>(book, "ChkAvailOnly")->isChecked());
    QCOMPARE(view(book)->horizontalHeader()->sectionSize(0), 200);
    QCOMPARE(view(book)->horizontalHeader()->sectionSize(1), addressWidth);
    QCOMPARE(listed(book), QStringList{kB});
}

void tst_AdrWindows::searchAnnouncesAndKeepsAvailabilityForTenSeconds()
{
    Desk desk;
    RawPeer broadcast(kBroadcastListener);
    RawPeer manual(kManualListener);
    QVERIFY(broadcast.bound && manual.bound);
    QVERIFY(desk.start());
    Peer b(kB, QStringLiteral("佐藤"), QStringLiteral("開発"));
    QVERIFY(b.start());
    desk.store().append(addressRow(QStringLiteral("遠く"), kManualListener, QStringLiteral("M")));
    QVERIFY(learn(desk.a.engine, b));

    FrmAdrEdit *book = desk.openBook();
    QVERIFY(QTest::qWaitForWindowExposed(book));
    QVERIFY(!book->timer1().isActive());
    click(book, "CmdSerch");
    // Every row waits for its peer again; no node is selected and the list is empty.
    QVERIFY(!desk.store().FindAddressByIp(kB).isAvail());
    QVERIFY(listed(book).isEmpty());
    QVERIFY(tree(book)->selectedItems().isEmpty());
    QVERIFY(book->timer1().isActive());
    QCOMPARE(book->timer1().interval(), 10000);

    // "cBX" with the version, the name and the group in their widths, "captBC" and "cBR",
    // in CP932, to the broadcast address and to the manual entry alike.
    const QByteArray name = QByteArray("\x8E\x52\x93\x63") + " (h2)"; // 山田 (h2)
    const QByteArray group = QByteArray("\x91\x8D\x96\xB1");          // 総務
    const QList<QByteArray> expected = {
        "cBX266" + name + QByteArray(150 - 7, ' ') + group + QByteArray(50 - 2, ' '),
        "captBC" + name,
        "cBR266" + name,
    };
    QVERIFY(broadcast.waitFor(3));
    QVERIFY(manual.waitFor(3));
    QCOMPARE(broadcast.received, expected);
    QCOMPARE(manual.received, expected);

    // Answers fill the store; the list shows them once a node is chosen again.
    QVERIFY(learn(desk.a.engine, b));
    QVERIFY(listed(book).isEmpty());
    clickNode(book, tree(book)->topLevelItem(0));
    QCOMPARE(listed(book), (QStringList{kManualListener, kB}));

    // Within ten seconds a search leaves the availability alone.
    click(book, "CmdSerch");
    QVERIFY(desk.store().FindAddressByIp(kB).isAvail());
    book->timer1().start(1);
    QTRY_VERIFY(!book->timer1().isActive());
    click(book, "CmdSerch");
    QVERIFY(!desk.store().FindAddressByIp(kB).isAvail());
}

void tst_AdrWindows::addReplacesALearntRowAndRefusesAManualOne()
{
    Desk desk;
    QVERIFY(desk.start());
    Peer b(kB, QStringLiteral("佐藤"), QStringLiteral("開発"));
    QVERIFY(b.start());
    desk.store().append(
        addressRow(QStringLiteral("手入力"), QStringLiteral("10.0.0.1"), QStringLiteral("M")));
    QVERIFY(learn(desk.a.engine, b));
    FrmAdrEdit *book = desk.openBook();
    QVERIFY(QTest::qWaitForWindowExposed(book));

    click(book, "CmdAddAdr");
    auto *dialog = desk.windows.find<FrmAddAdr>(WindowKind::AddAdr);
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("アドレス登録"));
    QCOMPARE(dialog->pos(), book->pos() + QPoint(33, 13));
    shoot(dialog, QStringLiteral("add-dialog"));

    // Only digits, full stops and backspace go into the address field.
    dialog->TxtAdr()->setFocus();
    QTest::keyClicks(dialog->TxtAdr(), QStringLiteral("1a2 .x"));
    QCOMPARE(dialog->TxtAdr()->text(), QStringLiteral("12."));
    QTest::keyClick(dialog->TxtAdr(), Qt::Key_Backspace);
    QCOMPARE(dialog->TxtAdr()->text(), QStringLiteral("12"));

    dialog->TxtAdr()->clear();
    QCOMPARE(clickAnswering(dialog, "CmdOK", QMessageBox::Ok), QStringLiteral("IPｱﾄﾞﾚｽを入力してください。"));
    dialog->TxtAdr()->setText(QStringLiteral("10.0.0"));
    QCOMPARE(clickAnswering(dialog, "CmdOK", QMessageBox::Ok), QStringLiteral("IPｱﾄﾞﾚｽの形式が不正です。"));
    // The refused address is selected once the box is gone, so typing replaces it; Ctrl+A
    // selects it again (the field's character filter lets control chords through).
    QCOMPARE(dialog->TxtAdr()->selectedText(), QStringLiteral("10.0.0"));
    dialog->TxtAdr()->deselect();
    QTest::keyClick(dialog->TxtAdr(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(dialog->TxtAdr()->selectedText(), QStringLiteral("10.0.0"));
    QTest::keyClicks(dialog->TxtAdr(), QStringLiteral("10.0.0.1"));
    QCOMPARE(dialog->TxtAdr()->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(clickAnswering(dialog, "CmdOK", QMessageBox::Ok),
             QStringLiteral("IPｱﾄﾞﾚｽ 10.0.0.1 は登録済みです。　追加できません。"));
    QCOMPARE(desk.store().size(), 2);
    QVERIFY(dialog->isVisible());

    // Over a learnt row: asked first; cancelled, nothing changes.
    dialog->TxtName()->setText(QStringLiteral("佐藤 \"主任\""));
    dialog->TxtAdr()->setText(kB);
    dialog->ChkOki()->setChecked(true);
    dialog->ChkAuto()->setChecked(true);
    const QString question = QStringLiteral("IPｱﾄﾞﾚｽ 127.0.0.3 は登録済みです。　上書きしますか？");
    QCOMPARE(clickAnswering(dialog, "CmdOK", QMessageBox::Cancel), question);
    QCOMPARE(desk.store().at(1).EntryAddress, kB);
    QVERIFY(desk.store().at(1).isAvail());

    // Agreed: the learnt row goes and a manual one is appended (its group lost), with the
    // typed name cleaned as the address book file needs it; the list shows it.
    QCOMPARE(clickAnswering(dialog, "CmdOK", QMessageBox::Ok), question);
    QCOMPARE(desk.store().size(), 2);
    const AddressEntry added = desk.store().at(1);
    QCOMPARE(added.EntryName, QStringLiteral("佐藤 '主任'"));
    QCOMPARE(added.EntryAddress, kB);
    QCOMPARE(added.EntryType, QStringLiteral("MT"));
    QCOMPARE(added.EntryState, kStateUnavail);
    QCOMPARE(added.EntryFavourite, QStringLiteral("1"));
    QCOMPARE(added.EntryGroup, QString());
    QCOMPARE(listed(book), (QStringList{QStringLiteral("10.0.0.1"), kB}));
    QTRY_VERIFY(!desk.windows.find(WindowKind::AddAdr));
    // The new address was asked for its presence, and answers.
    QTRY_VERIFY(desk.store().FindAddressByIp(kB).isAvail());
    QCOMPARE(desk.store().FindAddressByIp(kB).EntryGroup, QStringLiteral("開発"));

    // Under a group node, the store takes the entry and the list does not show it.
    clickNode(book, groupNode(book, QStringLiteral("開発")));
    click(book, "CmdAddAdr");
    dialog = desk.windows.find<FrmAddAdr>(WindowKind::AddAdr);
    QVERIFY(dialog);
    dialog->TxtName()->setText(QStringLiteral("もう一人"));
    dialog->TxtAdr()->setText(QStringLiteral("10.0.0.7"));
    click(dialog, "CmdOK");
    QCOMPARE(desk.store().at(2).EntryAddress, QStringLiteral("10.0.0.7"));
    QCOMPARE(desk.store().at(2).EntryType, QStringLiteral("M"));
    QCOMPARE(listed(book), QStringList{kB});

    // The dialogs go with the address book.
    click(book, "CmdAddAdr");
    QVERIFY(desk.windows.find(WindowKind::AddAdr));
    click(book, "CmdClose");
    QVERIFY(!desk.windows.find(WindowKind::AddAdr));
    QVERIFY(!desk.windows.find(WindowKind::AdrEdit));

    // Esc cancels the dialog, and closes the address book from its list, where nothing
    // else uses the key.
    book = desk.openBook();
    QVERIFY(QTest::qWaitForWindowExposed(book));
    click(book, "CmdAddAdr");
    dialog = desk.windows.find<FrmAddAdr>(WindowKind::AddAdr);
    QVERIFY(dialog);
    QTest::keyClick(dialog->TxtAdr(), Qt::Key_Escape);
    QTRY_VERIFY(!desk.windows.find(WindowKind::AddAdr));
    QVERIFY(desk.windows.find(WindowKind::AdrEdit));
    QTest::keyClick(view(book), Qt::Key_Escape);
    QTRY_VERIFY(!desk.windows.find(WindowKind::AdrEdit));
}

void tst_AdrWindows::modifyChangesTheRowThatHadTheOldAddress()
{
    Desk desk;
    QVERIFY(desk.start());
    Peer b(kB, QStringLiteral("佐藤"), QStringLiteral("開発"));
    QVERIFY(b.start());
    desk.store().append(addressRow(QStringLiteral("旧"), QStringLiteral("10.0.0.1"), QStringLiteral("M")));
    QVERIFY(learn(desk.a.engine, b));
    FrmAdrEdit *book = desk.openBook();
    QVERIFY(QTest::qWaitForWindowExposed(book));

    view(book)->clearSelection();
    QCOMPARE(clickAnswering(book, "CmdAdrMod", QMessageBox::Ok), QStringLiteral("選択されてません。"));

    selectAddresses(book, {QStringLiteral("10.0.0.1")});
    click(book, "CmdAdrMod");
    auto *dialog = desk.windows.find<FrmModAdr>(WindowKind::ModAdr);
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("アドレスの変更"));
    QCOMPARE(dialog->pos(), book->pos() + QPoint(47, 17));
    QCOMPARE(dialog->TxtName()->text(), QStringLiteral("旧"));
    QCOMPARE(dialog->TxtAdr()->text(), QStringLiteral("10.0.0.1"));
    QVERIFY(dialog->TxtName()->isEnabled() && dialog->TxtAdr()->isEnabled());
    QVERIFY(!dialog->ChkAuto()->isChecked() && !dialog->ChkOki()->isChecked());

    dialog->TxtAdr()->setText(QStringLiteral("10.0.0.256"));
    QCOMPARE(clickAnswering(dialog, "CmdOK", QMessageBox::Ok), QStringLiteral("IPｱﾄﾞﾚｽの形式が不正です。"));
    dialog->TxtName()->setText(QStringLiteral("新"));
    dialog->TxtAdr()->setText(QStringLiteral("10.0.0.11"));
    dialog->ChkAuto()->setChecked(true);
    dialog->ChkOki()->setChecked(true);
    click(dialog, "CmdOK");
    QCOMPARE(desk.store().indexOf(QStringLiteral("10.0.0.1")), -1);
    const AddressEntry changed = desk.store().at(0);
    QCOMPARE(changed.EntryName, QStringLiteral("新"));
    QCOMPARE(changed.EntryAddress, QStringLiteral("10.0.0.11"));
    QCOMPARE(changed.EntryType, QStringLiteral("MT"));
    QCOMPARE(changed.EntryFavourite, QStringLiteral("1"));
    QCOMPARE(listed(book).first(), QStringLiteral("10.0.0.11"));
    QTRY_VERIFY(!desk.windows.find(WindowKind::ModAdr));

    // A learnt row: only the marks can change, and it stays learnt.
    selectAddresses(book, {kB});
    click(book, "CmdAdrMod");
    dialog = desk.windows.find<FrmModAdr>(WindowKind::ModAdr);
    QVERIFY(!dialog->TxtName()->isEnabled() && !dialog->TxtAdr()->isEnabled());
    dialog->ChkOki()->setChecked(true);
    click(dialog, "CmdOK");
    QCOMPARE(desk.store().FindAddressByIp(kB).EntryFavourite, QStringLiteral("1"));
    QCOMPARE(desk.store().FindAddressByIp(kB).EntryType, QString());
    QCOMPARE(desk.store().FindAddressByIp(kB).EntryName, b.displayName());

    // A favourite cleared while the favourites are shown leaves the list.
    clickNode(book, groupNode(book, QStringLiteral("お気に入り")));
    QCOMPARE(listed(book), (QStringList{QStringLiteral("10.0.0.11"), kB}));
    selectAddresses(book, {kB});
    QTRY_VERIFY(!desk.windows.find(WindowKind::ModAdr));
    click(book, "CmdAdrMod");
    dialog = desk.windows.find<FrmModAdr>(WindowKind::ModAdr);
    dialog->ChkOki()->setChecked(false);
    click(dialog, "CmdOK");
    QCOMPARE(listed(book), QStringList{QStringLiteral("10.0.0.11")});
    QCOMPARE(desk.store().FindAddressByIp(kB).EntryFavourite, QString());

    // The list's pop-up menu shows the marks of the selected row and toggles them; a
    // favourite cleared there leaves the favourites' list too.
    selectAddresses(book, {QStringLiteral("10.0.0.11")});
    const QPoint at = view(book)->visualRect(view(book)->model()->index(0, 0)).center();
    QContextMenuEvent asked(QContextMenuEvent::Mouse, at, view(book)->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view(book)->viewport(), &asked);
    auto *menu = child<QMenu>(book, "mnuPopUpAdrView");
    QTRY_VERIFY(menu->isVisible());
    const auto item = [menu](const char *name) {
        return menu->findChild<QAction *>(QString::fromLatin1(name));
    };
    QVERIFY(item("mnuPAdrViewOki")->isChecked() && item("mnuPAdrViewAutoTranPic")->isChecked());
    QVERIFY(item("mnuPAdrViewMod")->isEnabled() && item("mnuPArdViewDel")->isEnabled());
    menu->hide();
    item("mnuPAdrViewAutoTranPic")->trigger();
    QCOMPARE(desk.store().FindAddressByIp(QStringLiteral("10.0.0.11")).EntryType, QStringLiteral("M"));
    item("mnuPAdrViewOki")->trigger();
    QCOMPARE(desk.store().FindAddressByIp(QStringLiteral("10.0.0.11")).EntryFavourite, QString());
    QVERIFY(listed(book).isEmpty());
}

void tst_AdrWindows::deleteRemovesOnlyManualOrUnavailableRows()
{
    Desk desk;
    QVERIFY(desk.start());
    Peer b(kB, QStringLiteral("佐藤"), QStringLiteral("開発"));
    QVERIFY(b.start());
    desk.store().append(
        addressRow(QStringLiteral("手入力"), QStringLiteral("10.0.0.1"), QStringLiteral("M")));
    desk.store().append(addressRow(QStringLiteral("去った人"), QStringLiteral("10.0.0.2")));
    QVERIFY(learn(desk.a.engine, b));
    FrmAdrEdit *book = desk.openBook();
    QVERIFY(QTest::qWaitForWindowExposed(book));

    view(book)->clearSelection();
    QCOMPARE(clickAnswering(book, "CmdDelAdr", QMessageBox::Ok), QStringLiteral("選択されてません。"));

    // Only an available learnt row: asked, then nothing removed and nothing said.
    selectAddresses(book, {kB});
    QCOMPARE(clickAnswering(book, "CmdDelAdr", QMessageBox::Yes),
             QStringLiteral("選択されたアドレスを削除してもよろしいですか？"));
    QCOMPARE(desk.store().size(), 3);

    // The Delete key in the list asks the same; "No" keeps everything.
    view(book)->setFocus();
    view(book)->selectAll();
    QString question;
    onNextBox([&](QMessageBox *box) {
        question = box->text();
        box->button(QMessageBox::No)->click();
    });
    QTest::keyClick(view(book), Qt::Key_Delete);
    QCOMPARE(question, QStringLiteral("選択されたアドレスを削除してもよろしいですか？"));
    QCOMPARE(desk.store().size(), 3);
    onNextBox([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    QTest::keyClick(view(book), Qt::Key_Delete);
    QCOMPARE(desk.store().size(), 1);
    QCOMPARE(desk.store().at(0).EntryAddress, kB);
    QCOMPARE(listed(book), QStringList{kB});
}

void tst_AdrWindows::sendListTakesAvailablePeersOnceByName()
{
    Desk desk;
    QVERIFY(desk.start());
    desk.a.ctx.settings.SndCmpFileLevel = 2;
    desk.a.ctx.settings.SndCmpPicLevel = 1;
    desk.a.ctx.settings.SndCmpPicHide = 0;
    desk.a.ctx.settings.SndCmpPicLock = 1;
    for (const auto &[name, ip, avail] :
         {std::tuple{QStringLiteral("同名 (x)"), QStringLiteral("10.0.0.1"), true},
          std::tuple{QStringLiteral("同名 (x)"), QStringLiteral("10.0.0.2"), true},
          std::tuple{QStringLiteral("別人 (y)"), QStringLiteral("10.0.0.3"), true},
          std::tuple{QStringLiteral("不在 (z)"), QStringLiteral("10.0.0.4"), false}}) {
        AddressEntry row = addressRow(name, ip);
        row.EntryState = avail ? kStateAvail : kStateUnavail;
        desk.store().append(row);
    }

    desk.commands.LoadSendAddr({2, QImage(), QStringLiteral("/tmp/a.txt")});
    auto *book = desk.windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(book && QTest::qWaitForWindowExposed(book));
    QCOMPARE(book->windowTitle(), QStringLiteral("ファイル転送ダイアログ"));
    QCOMPARE(book->sendKind(), QStringLiteral("FILETRAN"));
    QCOMPARE(book->width(), 671);
    QVERIFY(child<QRadioButton>(book, "OptMsgFail")->isChecked());
    for (const char *name : {"ChkMsgHide", "ChkPWLock", "ChkOpen"})
        QVERIFY(!child<QCheckBox>(book, name)->isEnabled());

    // Available rows only, and one per name.
    click(book, "CmdListAddAll");
    QCOMPARE(sendList(book),
             (QStringList{QStringLiteral("同名 (x)/10.0.0.1"), QStringLiteral("別人 (y)/10.0.0.3")}));
    click(book, "CmdListDelAll");
    QVERIFY(sendList(book).isEmpty());
    // A chosen peer that does not answer is not added, and the dialog says why.
    selectAddresses(book, {QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.4")});
    QString why;
    onNextBox([&why](QMessageBox *box) {
        why = box->text();
        box->accept();
    });
    click(book, "CmdListAdd");
    QCOMPARE(sendList(book), QStringList{QStringLiteral("同名 (x)/10.0.0.2")});
    QVERIFY2(why.startsWith(QStringLiteral("以下の宛先は応答がないため、送信先ﾘｽﾄに追加できません。\n\n不在 (z) (10.0.0.4)\n")),
             qPrintable(why));
    selectAddresses(book, {QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.3")});
    click(book, "CmdListAdd");
    QCOMPARE(sendList(book),
             (QStringList{QStringLiteral("同名 (x)/10.0.0.2"), QStringLiteral("別人 (y)/10.0.0.3")}));
    auto *list = child<QTreeWidget>(book, "LVeSendList");
    list->clearSelection();
    list->topLevelItem(0)->setSelected(true);
    click(book, "CmdListDel");
    QCOMPARE(sendList(book), QStringList{QStringLiteral("別人 (y)/10.0.0.3")});

    // The picture dialog reuses the window and keeps its send list; its options come from
    // the settings, and the face-down box decides whether lock and receipt can be chosen.
    desk.commands.LoadSendAddr({0, QImage(8, 8, QImage::Format_RGB32), QString()});
    QCOMPARE(desk.windows.find<FrmAdrEdit>(WindowKind::AdrEdit), book);
    QCOMPARE(book->windowTitle(), QStringLiteral("画像送信ダイアログ"));
    QCOMPARE(sendList(book).size(), 1);
    QVERIFY(child<QRadioButton>(book, "OptMsgNorm")->isChecked());
    QVERIFY(child<QCheckBox>(book, "ChkPWLock")->isChecked());
    QVERIFY(!child<QCheckBox>(book, "ChkPWLock")->isEnabled());
    QVERIFY(!child<QCheckBox>(book, "ChkOpen")->isEnabled());
    click(book, "ChkMsgHide");
    QVERIFY(child<QCheckBox>(book, "ChkPWLock")->isEnabled() &&
            child<QCheckBox>(book, "ChkOpen")->isEnabled());
    // From the address list's commands over "送信" and "閉じる" into the send panel; the
    // options are one stop, their arrow keys choose.
    QCOMPARE(
        tabOrder(book),
        (QStringList{"TreGrpView", "LveAdrView", "ChkAvailOnly", "CmdAddAdr", "CmdAdrMod", "CmdDelAdr",
                     "CmdSerch", "CmdSend", "CmdClose", "LVeSendList", "CmdListAdd", "CmdListDel",
                     "CmdListAddAll", "CmdListDelAll", "ChkMsgHide", "ChkPWLock", "ChkOpen", "OptMsgYes"}));
    shoot(book, QStringLiteral("send-dialog"));

    // Files start from an empty send list.
    desk.commands.LoadSendAddr({2, QImage(), QStringLiteral("/tmp/b.txt")});
    QVERIFY(sendList(book).isEmpty());
}

void tst_AdrWindows::sendListMarksSealedChangedAndRefusedRows()
{
    Desk desk;
    QVERIFY(desk.a.loadIdentity(desk.dir.path()));
    QVERIFY(desk.start());
    const QByteArray pinnedKey(32, '\x11'), newKey(32, '\x22'), otherKey(32, '\x33');
    PeerKeys &keys = desk.a.engine.peerKeys();
    QCOMPARE(keys.offer(QStringLiteral("x"), QStringLiteral("10.0.0.1"), pinnedKey), PeerKeys::Trust::Pinned);
    QCOMPARE(keys.offer(QStringLiteral("y"), QStringLiteral("10.0.0.2"), otherKey), PeerKeys::Trust::Pinned);
    QCOMPARE(keys.offer(QStringLiteral("y"), QStringLiteral("10.0.0.2"), newKey), PeerKeys::Trust::Changed);
    for (const auto &[name, ip] : {std::pair{QStringLiteral("鍵あり (x)"), QStringLiteral("10.0.0.1")},
                                   std::pair{QStringLiteral("鍵変更 (y)"), QStringLiteral("10.0.0.2")},
                                   std::pair{QStringLiteral("鍵なし (z)"), QStringLiteral("10.0.0.3")}}) {
        AddressEntry entry = addressRow(name, ip);
        entry.EntryState = kStateAvail;
        desk.store().append(entry);
    }

    const auto image = [](const QIcon &icon) { return icon.pixmap(16, 16).toImage(); };
    desk.commands.LoadSendAddr({1, QImage(), QString(), QStringLiteral("m"), 0});
    auto *book = desk.windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(book && QTest::qWaitForWindowExposed(book));
    click(book, "CmdListAddAll");
    auto *list = child<QTreeWidget>(book, "LVeSendList");
    auto *note = child<QLabel>(book, "LblRefused");
    QCOMPARE(list->topLevelItemCount(), 3);
    const auto row = [list](const char *ip) {
        return list->findItems(QLatin1String(ip), Qt::MatchExactly, 1).value(0);
    };
    const auto refused = [](QTreeWidgetItem *item) {
        return item->foreground(0).color() ==
               item->treeWidget()->palette().color(QPalette::Disabled, QPalette::Text);
    };
    // A message: sealed, sealed still to the key pinned before a change, or plain.
    QCOMPARE(image(row("10.0.0.1")->icon(0)), image(KeyIcons::pinned()));
    QCOMPARE(image(row("10.0.0.2")->icon(0)), image(KeyIcons::changed()));
    QVERIFY(image(KeyIcons::pinned()) != image(KeyIcons::changed()));
    QVERIFY(row("10.0.0.3")->icon(0).isNull());
    QCOMPARE(row("10.0.0.1")->toolTip(1),
             QStringLiteral("暗号化して送信します。\n鍵の指紋: ") + Identity::fingerprintOf(pinnedKey));
    QVERIFY(row("10.0.0.2")->toolTip(0).contains(Identity::fingerprintOf(newKey)));
    QCOMPARE(row("10.0.0.3")->toolTip(0), QStringLiteral("暗号化せずに送信します。"));
    QVERIFY(!refused(row("10.0.0.1")) && !refused(row("10.0.0.2")) && !refused(row("10.0.0.3")));
    QVERIFY(note->isHidden());

    // A picture is refused to the changed key whatever the options say.
    desk.commands.LoadSendAddr({0, QImage(8, 8, QImage::Format_RGB32), QString()});
    QCOMPARE(list->topLevelItemCount(), 3);
    QVERIFY(refused(row("10.0.0.2")) && !refused(row("10.0.0.1")) && !refused(row("10.0.0.3")));
    QVERIFY(row("10.0.0.2")->toolTip(0).startsWith(TransferSealing::changedKeyText() + u'\n'));
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), QStringLiteral("灰色の宛先には送れません。"));

    // Sending only sealed: the row without a key is refused too; accepting the new key
    // clears its row at once.
    desk.a.ctx.settings.SndSealedOnly = 1;
    desk.commands.LoadSendAddr({0, QImage(8, 8, QImage::Format_RGB32), QString()});
    QVERIFY(refused(row("10.0.0.3")));
    QCOMPARE(row("10.0.0.3")->toolTip(1), TransferSealing::unsealedText());
    shoot(book, QStringLiteral("send-dialog-sealing"));
    QVERIFY(desk.a.engine.AcceptPeerKey(QStringLiteral("10.0.0.2")));
    QVERIFY(!refused(row("10.0.0.2")));
    QCOMPARE(image(row("10.0.0.2")->icon(0)), image(KeyIcons::pinned()));
    QVERIFY(note->isVisible());
    list->clearSelection();
    row("10.0.0.3")->setSelected(true);
    click(book, "CmdListDel");
    QVERIFY(note->isHidden());
    // A forgotten key makes its row plain, and so refused while only sealed sends go.
    QVERIFY(desk.a.engine.ForgetPeerKey(QStringLiteral("10.0.0.1")));
    QVERIFY(row("10.0.0.1")->icon(0).isNull());
    QVERIFY(refused(row("10.0.0.1")));
    QVERIFY(note->isVisible());
    // Every row's text, the note included, fits the panel.
    QVERIFY(book->rect().contains(QRect(list->mapTo(book, QPoint(0, 0)), list->size())));
}

void tst_AdrWindows::pictureAndMessageReachTwoPeersAndAreListed()
{
    QTemporaryDir data;
    ModZorvin ctx;
    ctx.ProgramDir = data.path() + u'/';
    ctx.net.bindAddress = QHostAddress(kA);
    ctx.net.broadcastAddress = kBroadcastListener;
    ctx.net.port = TestPort::port();
    ctx.MakeTempFolders(data.path() + QStringLiteral("/tmp/"));
    skipFirstRunPrompt(data.path());
    FrmSket sket(ctx);
    QVERIFY(sket.Load());
    ctx.settings.SndCmpMsgLevel = 0;
    Peer b(kB, QStringLiteral("佐藤"), QStringLiteral("開発"));
    Peer c(kC, QStringLiteral("鈴木"), QStringLiteral("営業"));
    QVERIFY(b.start() && c.start());
    // B answers with its version; C only announces itself, so its version stays unknown.
    QVERIFY(learn(sket.engine(), b));
    c.engine.BCastMsgSend(Protocol::kAnnounce, kA);
    QTRY_VERIFY(sket.engine().addresses().FindAddressByIp(kC).isAvail());
    QCOMPARE(sket.engine().addresses().FindAddressByIp(kC).EntryVersion, QString());

    // The capture window's commands reach the windows.
    Commands &commands = sket.commands();
    QVERIFY(commands.allows(QStringLiteral("mnuAdrEdit")));
    QVERIFY(commands.allows(QStringLiteral("mnuFileTran")));
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(QColor(200, 30, 60));
    FrmMain *capture = captureWindow(commands);
    capture->setPicture(picture, QString());
    capture->setHasPicture(true);
    commands.refresh();
    QVERIFY(commands.action(QStringLiteral("mnuSend"))->isEnabled());
    commands.action(QStringLiteral("mnuSend"))->trigger();
    auto *book = sket.windows().find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(book && QTest::qWaitForWindowExposed(book));
    QCOMPARE(book->windowTitle(), QStringLiteral("画像送信ダイアログ"));
    QVERIFY(child<QRadioButton>(book, "OptMsgYes")->isChecked());

    selectAddresses(book, {kB, kC});
    click(book, "CmdListAdd");
    QCOMPARE(sendList(book).size(), 2);
    click(book, "CmdSend");
    QTRY_COMPARE(b.images.size(), 1);
    QTRY_COMPARE(c.images.size(), 1);
    QCOMPARE(b.images[0].pixelColor(20, 15), QColor(200, 30, 60));
    QCOMPARE(c.images[0].size(), QSize(40, 30));
    QTRY_VERIFY(!sket.windows().find(WindowKind::AdrEdit));

    // Both outcomes are listed in FrmSend.
    FrmSend *results = nullptr;
    QTRY_VERIFY((results = sket.windows().find<FrmSend>(WindowKind::Send)) && results->isVisible());
    auto *lines = child<QTreeWidget>(results, "LveSend");
    QTRY_COMPARE(lines->topLevelItemCount(), 2);
    QCOMPARE(results->windowTitle(), QStringLiteral("ぞるびん　- 送信 -"));
    QStringList names;
    const QRegularExpression stamp(QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}$"));
    for (int i = 0; i < 2; ++i) {
        const QTreeWidgetItem *line = lines->topLevelItem(i);
        QVERIFY2(stamp.match(line->text(0)).hasMatch(), qPrintable(line->text(0)));
        names << line->text(1);
        QCOMPARE(line->text(2), QStringLiteral("I"));
        QCOMPARE(line->text(3), QStringLiteral("成功"));
        // A picture names no file.
        QCOMPARE(line->text(4), QString());
    }
    names.sort();
    QStringList expectedNames{b.displayName(), c.displayName()};
    expectedNames.sort();
    QCOMPARE(names, expectedNames);
    QCOMPARE(lines->header()->sectionSize(0), 171);
    QCOMPARE(lines->header()->sectionSize(4), 1176);
    QVERIFY(lines->header()->sectionSize(2) > lines->fontMetrics().horizontalAdvance(QStringLiteral("M")));
    // Three quarters across and a fifth down the screen; the list and the button follow the
    // window's size.
    QCOMPARE(results->pos(), QPoint((1280 - results->width()) * 3 / 4, (1024 - results->height()) / 5));
    results->resize(500, 300);
    QCOMPARE(lines->width(), 500 - 8);
    QCOMPARE(child<QPushButton>(results, "CmdOK")->x(), 500 - 124);

    // A password-locked message: face down to the peer without a version, locked to the other.
    commands.LoadSendAddr({1, QImage(), QString(), QStringLiteral("明日の会議"), 7});
    book = sket.windows().find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(book && QTest::qWaitForWindowExposed(book));
    QCOMPARE(book->windowTitle(), QStringLiteral("メッセージ送信ダイアログ"));
    QVERIFY(!child<QRadioButton>(book, "OptMsgNorm")->isEnabled());
    QVERIFY(!child<QRadioButton>(book, "OptMsgFail")->isEnabled());
    click(book, "CmdListAddAll");
    click(book, "ChkMsgHide");
    click(book, "ChkPWLock");
    click(book, "CmdSend");
    QTRY_COMPARE(b.messages.size(), 1);
    QTRY_COMPARE(c.messages.size(), 1);
    QCOMPARE(b.messages[0].displayMode, QLatin1Char('L'));
    QCOMPARE(c.messages[0].displayMode, QLatin1Char('Y'));
    QCOMPARE(b.messages[0].messageId, QStringLiteral("07"));
    QCOMPARE(b.messages[0].text, QStringLiteral("明日の会議"));
    // The receipts come back as successes.
    QTRY_COMPARE(lines->topLevelItemCount(), 4);
    for (int i = 2; i < 4; ++i) {
        QCOMPARE(lines->topLevelItem(i)->text(2), QStringLiteral("M"));
        QCOMPARE(lines->topLevelItem(i)->text(3), QStringLiteral("成功"));
    }
    // Sending only sealed: neither peer announced a key, so the dialog greys both rows and
    // the send ends with a refusal line for each.
    ctx.settings.SndSealedOnly = 1;
    commands.LoadSendAddr({1, QImage(), QString(), QStringLiteral("秘密"), 8});
    book = sket.windows().find<FrmAdrEdit>(WindowKind::AdrEdit);
    QVERIFY(book && QTest::qWaitForWindowExposed(book));
    click(book, "CmdListAddAll");
    QVERIFY(child<QLabel>(book, "LblRefused")->isVisible());
    click(book, "CmdSend");
    QTRY_COMPARE(lines->topLevelItemCount(), 6);
    for (int i = 4; i < 6; ++i) {
        QCOMPARE(lines->topLevelItem(i)->text(2), QStringLiteral("M"));
        QCOMPARE(lines->topLevelItem(i)->text(3), QStringLiteral("失敗"));
        QCOMPARE(lines->topLevelItem(i)->text(4), TransferSealing::unsealedText());
    }
    QCOMPARE(b.messages.size(), 1);
    QCOMPARE(c.messages.size(), 1);
    shoot(results, QStringLiteral("send-results"));
    sket.QuitWithoutQuestion();
}

ZORVIN_XVFB_MAIN(tst_AdrWindows, QSize(1280, 1024), false)
#include "tst_adrwindows.moc"
