// The address list of the address book window and the send dialog: the group tree
// `TreGrpView`, the list `LveAdrView` of the selected node's peers (a sorted view of the
// address store, never a copy) and "送信可のみ表示"; what is done with the rows is up to the
// window that holds it.
#pragma once

#include <QIcon>
#include <QList>
#include <QSet>
#include <QWidget>

class AddressBookModel;
class AddressStore;
class LveAdrViewModel;
class QCheckBox;
class QHBoxLayout;
class QSortFilterProxyModel;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class SettingsFile;

class AddressListView : public QWidget
{
    Q_OBJECT
  public:
    // Built from the store as it is now with the column widths (when any was saved) and
    // "送信可のみ表示" of `section`: the root node selected, its rows listed.
    AddressListView(AddressStore &store, const SettingsFile &layout, const QString &section,
                    QWidget *parent = nullptr);

    AddressStore &store() const;
    // The store as a table, under the list's rows.
    AddressBookModel &model() const { return *m_model; }
    // The list's rows over the store; the add and modify dialogs write through these.
    LveAdrViewModel &rows() const { return *m_list; }
    QTreeWidget *tree() const { return m_tree; }
    QTableView *table() const { return m_view; }
    QCheckBox *availOnlyBox() const { return m_availOnly; }
    // The row under the lists, "送信可のみ表示" at its left; the window adds its commands.
    QHBoxLayout *commandRow() const { return m_commandRow; }

    // The column widths and "送信可のみ表示" into `section`.
    void writeLayout(const SettingsFile &file, const QString &section) const;

    // The list's rows as the view shows them (sorted or not), as store rows.
    QList<int> visibleStoreRows() const;
    // The selected list rows, in the view's order, as store rows; -1 or the first of them.
    QList<int> selectedStoreRows() const;
    int selectedStoreRow() const;
    // The peer's name as the list shows it.
    QString displayName(int storeRow) const;

    // The search's start: no node selected and the list empty until a node is chosen.
    void deselectNode();
    // A store row whose favourite flag was cleared leaves the list while "お気に入り" is shown.
    void favouriteCleared(int storeRow);

  signals:
    // A double click on a row.
    void rowActivated();
    // The Delete key in the list.
    void deleteKeyPressed();
    // The context menu asked for over the list, at `globalPosition`.
    void menuRequested(const QPoint &globalPosition);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void buildControls();
    void readLayout(const SettingsFile &file, const QString &section);
    void buildTree();
    void addGroupNode(const QString &group);
    void onStoreRowsChanged(int first, int last);
    void onTreeSelectionChanged();

    AddressBookModel *m_model;
    LveAdrViewModel *m_list;
    QSortFilterProxyModel *m_sorted;
    QTreeWidget *m_tree = nullptr;
    QTreeWidgetItem *m_root = nullptr;
    QTableView *m_view = nullptr;
    QCheckBox *m_availOnly = nullptr;
    QHBoxLayout *m_commandRow = nullptr;
    // Texts of the tree's nodes without children: "お気に入り" and every group node.
    QSet<QString> m_leafTexts;
    QIcon m_groupIcon;
    // A press on the node that is selected already: its click selects it again.
    QTreeWidgetItem *m_reclicked = nullptr;
};
