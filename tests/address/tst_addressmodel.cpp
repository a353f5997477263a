// The address store as the address book window sees it: the table model follows every
// store change as it happens, and the list's proxy applies the group-tree node and
// "送信可のみ表示" when the list is built, lets rows that start to pass join live, and
// keeps a peer that said goodbye until the list is rebuilt. Presence runs between real
// engines on 127.0.0.x.
#include "address/AddressBookModel.h"
#include "net/AddressStore.h"
#include "address/LveAdrViewModel.h"
#include "net/PeerKeys.h"
#include "support/LoopbackEngine.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The shown texts of one row, column by column.
QStringList shown(const QAbstractItemModel &model, int row)
{
    QStringList texts;
    for (int column = 0; column < model.columnCount(); ++column)
        texts << model.index(row, column).data().toString();
    return texts;
}

// The addresses the list shows, top to bottom.
QStringList addresses(const QAbstractItemModel &model)
{
    QStringList list;
    for (int row = 0; row < model.rowCount(); ++row)
        list << model.index(row, AddressBookModel::ColAddress).data().toString();
    return list;
}

// The model and the list over one store, each watched by the model tester.
struct Views
{
    explicit Views(AddressStore &store) : model(store), list(&model) {}
    AddressBookModel model;
    LveAdrViewModel list;
    QAbstractItemModelTester modelTester{&model, QAbstractItemModelTester::FailureReportingMode::QtTest};
    QAbstractItemModelTester listTester{&list, QAbstractItemModelTester::FailureReportingMode::QtTest};
};

} // namespace

class TestAddressModel : public QObject
{
    Q_OBJECT
  private slots:
    void announcementAddsARowAndGoodbyeStaysUntilRebuild();
    void manualRowShowsWhatPresenceLeftOfIt();
    void storeEditsReachTheModelInPlace();
    void nodeAndAvailOnlyDecideTheBuiltList();
    void rowsJoinLiveOnlyWhileANodeIsSelected();
    void rowsShowThePeersKeyAndAChangedOne();
};

void TestAddressModel::announcementAddsARowAndGoodbyeStaysUntilRebuild()
{
    LoopbackEngine a("127.0.0.2", "alice", "dev", "127.0.0.3");
    LoopbackEngine b("127.0.0.3", "bob", QString::fromUtf8("総務"), "127.0.0.2");
    Views views(a.engine.addresses());
    views.list.setAvailOnly(true);
    QSignalSpy inserted(&views.model, &QAbstractItemModel::rowsInserted);
    QSignalSpy listRemoved(&views.list, &QAbstractItemModel::rowsRemoved);
    QVERIFY(a.start());
    QVERIFY(b.start());

    b.engine.Announce();
    QTRY_COMPARE(views.list.rowCount(), 1);
    QCOMPARE(inserted.size(), 1);
    QTRY_COMPARE(shown(views.list, 0), QStringList({"bob (h3)", "127.0.0.3", "", "avail", "266"}));
    QCOMPARE(views.model.index(0, 0).data(AddressBookModel::GroupRole).toString(), QString::fromUtf8("総務"));

    QSignalSpy listChanged(&views.list, &QAbstractItemModel::dataChanged);
    b.engine.SayGoodbye();
    QTRY_COMPARE(views.model.index(0, AddressBookModel::ColState).data().toString(), QString("unavail"));
    // The goodbye reached the shown row, which stays until the list is built again.
    QCOMPARE(listChanged.size(), 1);
    QCOMPARE(listChanged[0][0].toModelIndex(), views.list.index(0, 0));
    QCOMPARE(listChanged[0][1].toModelIndex(), views.list.index(0, AddressBookModel::ColumnCount - 1));
    QCOMPARE(shown(views.list, 0), QStringList({"bob (h3)", "127.0.0.3", "", "unavail", "266"}));
    QCOMPARE(listRemoved.size(), 0);
    views.list.rebuild();
    QCOMPARE(views.list.rowCount(), 0);
    QCOMPARE(views.model.rowCount(), 1);
}

void TestAddressModel::manualRowShowsWhatPresenceLeftOfIt()
{
    LoopbackEngine a("127.0.0.2", "alice", "dev", "127.0.0.3");
    LoopbackEngine b("127.0.0.3", "bob", "sales", "127.0.0.2");
    // Typed in by hand, with trailing blanks in its name, a favourite and an auto-transfer target.
    a.engine.addresses().append(AddressEntry{.EntryName = "printer room   ",
                                             .EntryAddress = "127.0.0.3",
                                             .EntryType = "MT",
                                             .EntryState = kStateUnavail,
                                             .EntryFavourite = "1"});
    Views views(a.engine.addresses());
    QCOMPARE(shown(views.list, 0), QStringList({"printer room", "127.0.0.3", "MT", "unavail", ""}));
    QCOMPARE(views.model.index(0, 0).data(AddressBookModel::NameRole).toString(), QString("printer room   "));
    QVERIFY(a.start());
    QVERIFY(b.start());

    // The peer's answer renames the row and brings version and group; type and favourite
    // are the user's and stay.
    b.engine.Announce();
    QTRY_COMPARE(shown(views.model, 0), QStringList({"bob (h3)", "127.0.0.3", "MT", "avail", "266"}));
    QCOMPARE(views.model.rowCount(), 1);
    QCOMPARE(views.model.index(0, 0).data(AddressBookModel::GroupRole).toString(), QString("sales"));
    QCOMPARE(views.model.index(0, 0).data(AddressBookModel::FavouriteRole).toString(), QString("1"));

    b.engine.SayGoodbye();
    QTRY_COMPARE(shown(views.model, 0), QStringList({"bob (h3)", "127.0.0.3", "MT", "unavail", "266"}));
    QCOMPARE(shown(views.list, 0), shown(views.model, 0));
    QCOMPARE(views.model.index(0, 0).data(AddressBookModel::GroupRole).toString(), QString("sales"));
}

void TestAddressModel::storeEditsReachTheModelInPlace()
{
    AddressStore store;
    store.append({.EntryName = "a", .EntryAddress = "10.0.0.1", .EntryState = kStateAvail});
    store.append({.EntryName = "b", .EntryAddress = "10.0.0.2", .EntryState = kStateAvail});
    Views views(store);
    QCOMPARE(views.model.headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("名前"));
    QStringList captions;
    for (int column = 0; column < views.list.columnCount(); ++column)
        captions << views.list.headerData(column, Qt::Horizontal).toString();
    QCOMPARE(captions, QStringList({"名前", "IPｱﾄﾞﾚｽ", "ﾀｲﾌﾟ", "状態", "Ver"}));

    QSignalSpy changed(&views.model, &QAbstractItemModel::dataChanged);
    store.editable(1).EntryType = "T";
    store.notifyChanged(1);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].toModelIndex().row(), 1);
    QCOMPARE(views.list.index(1, AddressBookModel::ColType).data().toString(), QString("T"));

    // Presence that repeats what the row already says changes nothing.
    store.UpdatePeer("a", "10.0.0.1", kStateAvail, QString(), QString());
    QCOMPARE(changed.size(), 1);

    // An address change moves the key; the rows after a removal keep their own texts.
    store.replace(0, {.EntryName = "a2", .EntryAddress = "10.0.0.9", .EntryState = kStateAvail});
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.9", "10.0.0.2"}));
    store.append({.EntryName = "c", .EntryAddress = "10.0.0.3", .EntryState = kStateUnavail});
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.9", "10.0.0.2", "10.0.0.3"}));
    store.removeAt(1);
    QCOMPARE(addresses(views.model), QStringList({"10.0.0.9", "10.0.0.3"}));
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.9", "10.0.0.3"}));
    QCOMPARE(shown(views.list, 1), QStringList({"c", "10.0.0.3", "", "unavail", ""}));

    // The search's reset reaches every row at once; shown rows stay.
    changed.clear();
    store.markAllUnavail();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(views.list.index(0, AddressBookModel::ColState).data().toString(), QString("unavail"));
    QCOMPARE(views.list.rowCount(), 2);

    store.clear();
    QCOMPARE(views.model.rowCount(), 0);
    QCOMPARE(views.list.rowCount(), 0);
}

void TestAddressModel::nodeAndAvailOnlyDecideTheBuiltList()
{
    AddressStore store;
    store.append({.EntryName = "a",
                  .EntryAddress = "10.0.0.1",
                  .EntryState = kStateAvail,
                  .EntryGroup = "dev",
                  .EntryFavourite = "1"});
    store.append({.EntryName = "b",
                  .EntryAddress = "10.0.0.2",
                  .EntryState = kStateUnavail,
                  .EntryGroup = "dev",
                  .EntryFavourite = "1"});
    store.append(
        {.EntryName = "c", .EntryAddress = "10.0.0.3", .EntryState = kStateAvail, .EntryGroup = "sales"});
    store.append({.EntryName = "d",
                  .EntryAddress = "10.0.0.4",
                  .EntryState = kStateAvail,
                  .EntryGroup = LveAdrViewModel::rootNodeText()});
    Views views(store);
    const QStringList all = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"};
    QVERIFY(views.list.hasSelectedNode());
    QCOMPARE(views.list.selectedNode(), LveAdrViewModel::rootNodeText());
    QCOMPARE(addresses(views.list), all);

    views.list.selectNode("dev");
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1", "10.0.0.2"}));
    views.list.selectNode(LveAdrViewModel::favouritesNodeText());
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1", "10.0.0.2"}));
    // A group named like the root is told apart by its text only: it shows every row.
    views.list.selectNode(QString::fromUtf8("ぞるびん"));
    QCOMPARE(addresses(views.list), all);

    views.list.setAvailOnly(true);
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1", "10.0.0.3", "10.0.0.4"}));
    views.list.selectNode("dev");
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1"}));
    views.list.setAvailOnly(false);
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1", "10.0.0.2"}));

    // With no node selected, clearing the check box leaves the list as it is.
    views.list.deselectNode();
    QCOMPARE(views.list.rowCount(), 0);
    views.list.setAvailOnly(true);
    views.list.setAvailOnly(false);
    QCOMPARE(views.list.rowCount(), 0);

    // A favourite cleared under the favourites node leaves the list, not the store.
    views.list.selectNode(LveAdrViewModel::favouritesNodeText());
    store.editable(0).EntryFavourite.clear();
    store.notifyChanged(0);
    views.list.removeFromList(0);
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.2"}));
    QCOMPARE(store.size(), 4);
}

void TestAddressModel::rowsJoinLiveOnlyWhileANodeIsSelected()
{
    AddressStore store;
    store.append(
        {.EntryName = "a", .EntryAddress = "10.0.0.1", .EntryState = kStateUnavail, .EntryGroup = "dev"});
    Views views(store);
    views.list.selectNode("dev");
    views.list.setAvailOnly(true);
    QCOMPARE(views.list.rowCount(), 0);

    // Rows that start to pass the node's filter join in store order; others do not.
    store.UpdatePeer("x (h)", "10.0.0.5", kStateAvail, "266", "dev");
    store.UpdatePeer("y (h)", "10.0.0.6", kStateAvail, "266", "sales");
    store.UpdatePeer("a (h)", "10.0.0.1", kStateAvail, "266", "dev");
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1", "10.0.0.5"}));
    // Leaving the group does not take a shown row out.
    store.UpdatePeer("x (h)", "10.0.0.5", kStateAvail, "266", "sales");
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1", "10.0.0.5"}));

    // The search: no node selected, the list empty, answers go to the store only.
    views.list.deselectNode();
    store.markAllUnavail();
    store.UpdatePeer("a (h)", "10.0.0.1", kStateAvail, "266", "dev");
    store.UpdatePeer("z (h)", "10.0.0.7", kStateAvail, "266", "dev");
    QCOMPARE(views.list.rowCount(), 0);
    QCOMPARE(views.model.rowCount(), 4);
    views.list.selectNode("dev");
    QCOMPARE(addresses(views.list), QStringList({"10.0.0.1", "10.0.0.7"}));
}

void TestAddressModel::rowsShowThePeersKeyAndAChangedOne()
{
    LoopbackEngine a("127.0.0.2", "alice", "dev", "127.0.0.3");
    LoopbackEngine b("127.0.0.3", "bob", "sales", "127.0.0.2");
    QTemporaryDir dirA, dirB;
    QVERIFY(a.loadIdentity(dirA.path()) && b.loadIdentity(dirB.path()));
    Views views(a.engine.addresses());
    // The windows give icons; any value shows that the right one is passed through.
    views.model.setPeerKeys(&a.engine.peerKeys(), QStringLiteral("closed"), QStringLiteral("open"));
    QVERIFY(a.start() && b.start());
    b.engine.Announce();
    QTRY_COMPARE(views.list.rowCount(), 1);
    const QModelIndex name = views.model.index(0, AddressBookModel::ColName);
    const QModelIndex state = views.model.index(0, AddressBookModel::ColState);
    QTRY_COMPARE(name.data(AddressBookModel::KeyTrustRole).toInt(), int(PeerKeys::Trust::Pinned));
    const QString fingerprint = b.engine.identity().fingerprint();
    QCOMPARE(name.data(Qt::DecorationRole).toString(), QString("closed"));
    QVERIFY(!state.data(Qt::DecorationRole).isValid());
    QCOMPARE(state.data(Qt::ToolTipRole).toString(), QStringLiteral("鍵の指紋: ") + fingerprint);
    // The shown texts are those of 2.66.
    QCOMPARE(shown(views.list, 0), QStringList({"bob (h3)", "127.0.0.3", "", "avail", "266"}));

    // Another key from the same host and address: the row changes at once, and says both.
    QSignalSpy changed(&views.model, &QAbstractItemModel::dataChanged);
    const QByteArray otherKey = a.engine.identity().publicKey();
    a.engine.peerKeys().offer("h3", "127.0.0.3", otherKey);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(name.data(AddressBookModel::KeyTrustRole).toInt(), int(PeerKeys::Trust::Changed));
    QCOMPARE(name.data(Qt::DecorationRole).toString(), QString("open"));
    const QString tip = name.data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(fingerprint) && tip.contains(Identity::fingerprintOf(otherKey)), qPrintable(tip));
    QVERIFY(a.engine.AcceptPeerKey("127.0.0.3"));
    QCOMPARE(changed.size(), 2);
    QCOMPARE(name.data(Qt::DecorationRole).toString(), QString("closed"));
    QCOMPARE(name.data(Qt::ToolTipRole).toString(), QStringLiteral("鍵の指紋: ") + Identity::fingerprintOf(otherKey));

    // A peer that never announced a key has no padlock, and its tip says it goes plain.
    a.engine.addresses().UpdatePeer("carol (h9)", "127.0.0.9", kStateAvail, "266", "dev");
    const QModelIndex plain = views.model.index(1, AddressBookModel::ColName);
    QCOMPARE(plain.data(AddressBookModel::KeyTrustRole).toInt(), int(PeerKeys::Trust::None));
    QVERIFY(!plain.data(Qt::DecorationRole).isValid());
    QCOMPARE(plain.data(Qt::ToolTipRole).toString(),
             QStringLiteral("相手の鍵がないため、暗号化されません。"));
    // While this copy has no key pair (a damaged key file left alone) a pinned key seals
    // nothing: no padlock, and the tip says why.
    const Identity none;
    QVERIFY(!none.isReady());
    views.model.setPeerKeys(&a.engine.peerKeys(), QStringLiteral("closed"), QStringLiteral("open"), &none);
    QVERIFY(!name.data(Qt::DecorationRole).isValid());
    QCOMPARE(name.data(Qt::ToolTipRole).toString(),
             QStringLiteral("自分の鍵がないため、暗号化されません。\n鍵の指紋: ") +
                 Identity::fingerprintOf(otherKey));
    views.model.setPeerKeys(&a.engine.peerKeys(), QStringLiteral("closed"), QStringLiteral("open"),
                            &a.engine.identity());
    QCOMPARE(name.data(Qt::DecorationRole).toString(), QString("closed"));

    // Without the keys (a 2.66 copy's view) nothing shows.
    views.model.setPeerKeys(nullptr);
    QVERIFY(!name.data(Qt::DecorationRole).isValid());
    QVERIFY(!name.data(Qt::ToolTipRole).isValid());
}

QTEST_GUILESS_MAIN(TestAddressModel)
#include "tst_addressmodel.moc"
