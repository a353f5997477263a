// The rows the address book window's list `LveAdrView` shows, over the address store's
// model: the selected group-tree node's filter and "送信可のみ表示" decide which rows are
// put in when the list is built; afterwards rows that start to pass join live, but a row
// that stops passing (a peer that said goodbye) stays until the list is rebuilt.
#pragma once

#include <QAbstractProxyModel>
#include <vector>

class AddressBookModel;

class LveAdrViewModel : public QAbstractProxyModel
{
    Q_OBJECT
  public:
    // Shows the root node's rows (every row) until told otherwise, as the window opens.
    explicit LveAdrViewModel(AddressBookModel *source, QObject *parent = nullptr);

    // Texts of the two fixed nodes of the group tree `TreGrpView`: the root ("ぞるびん")
    // shows every row, "お気に入り" the favourites; a node with any other text shows the
    // rows whose group equals it. Nodes are told apart by text, so a group named like the
    // root shows every row too.
    static QString rootNodeText();
    static QString favouritesNodeText();

    // Selecting a node of `TreGrpView`: the list is rebuilt with that node's filter.
    void selectNode(const QString &nodeText);
    // The search's first step: no node selected and the list empty; rows that answers
    // bring in stay in the store only until a node is selected again.
    void deselectNode();
    bool hasSelectedNode() const { return m_hasNode; }
    QString selectedNode() const { return m_node; }

    // `ChkAvailOnly`: checking it takes every "unavail" row out of the list; clearing it
    // rebuilds the list for the selected node (with no node selected nothing happens).
    void setAvailOnly(bool on);
    bool availOnly() const { return m_availOnly; }

    // Fills the list afresh, in store order, with the rows that pass (accepts()).
    void rebuild();

    // Takes one row out of the list and leaves the store alone (a favourite cleared while
    // the favourites node is selected).
    void removeFromList(int row);
    // Puts a source row into the list whatever the filters say (the add dialog's new
    // entry while the root node is selected); nothing when it is listed already.
    void include(int sourceRow);

    // Whether the source row would be put into the list now: a node is selected, the row
    // passes its filter, and it is "avail" or "送信可のみ表示" is clear.
    bool accepts(int sourceRow) const;

    void setSourceModel(QAbstractItemModel *source) override;
    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    void onSourceRowsInserted(const QModelIndex &parent, int first, int last);
    void onSourceRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last);
    void onSourceRowsRemoved(const QModelIndex &parent, int first, int last);
    void onSourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void onSourceModelReset();

    // Source rows in the list, ascending: the list keeps store order.
    std::vector<int>::iterator lowerBound(int sourceRow);
    void join(int sourceRow);
    void fill();

    std::vector<int> m_rows;
    QString m_node;
    bool m_hasNode = true;
    bool m_availOnly = false;
};
