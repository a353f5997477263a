// The unread list "ぞるびん　- 未開封 -": messages and pictures that arrived while as many
// of their windows as allowed were open wait here, one row each, and open in their own
// window on demand. Closing the list gives up what it still holds.
#pragma once

#include "ui/QuitGuard.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace WindowKind {
inline constexpr QLatin1String Unread("FrmUnread");
} // namespace WindowKind

struct UnreadItem
{
    QString when; // "yyyy/mm/dd hh:mm:ss" of arrival
    QString from;
    QString kind;    // "ﾒｯｾｰｼﾞ" or "画像"
    QString summary; // never the text of a message sent face down
    QuitGuard::Concern concern = QuitGuard::None;
    // Opens the item's own window; called once, after its row has gone.
    std::function<void()> open;
    // The item goes unopened (the list is closed, the program quits): frees what it holds.
    std::function<void()> discard;
};

class FrmUnread : public QWidget, public QuitGuard
{
    Q_OBJECT
  public:
    static inline const QString kMessageKind = QStringLiteral("ﾒｯｾｰｼﾞ");
    static inline const QString kPictureKind = QStringLiteral("画像");
    // Rows kept at most; what arrives beyond them is only counted (and logged, saved).
    static constexpr int kMaxItems = 5000;

    explicit FrmUnread(QWidget *parent = nullptr);
    ~FrmUnread() override;

    // Adds a row from the event loop, with the others that arrived meanwhile, and shows
    // the list without taking the focus. False, and `item` discarded, when the list is full.
    bool add(UnreadItem item);
    // Rows waiting, including those not on the list yet.
    int count() const { return int(m_items.size()); }
    int notKept() const { return m_notKept; }

    // "開く": every selected row's window, in list order.
    void OpenSelected();

    QTreeWidget *list() const { return m_list; }
    QLabel *label() const { return m_label; }
    QPushButton *openButton() const { return m_cmdOpen; }

    Concern quitConcern() const override;
    QList<Concern> quitConcerns() const override;

  signals:
    // Rows were added to the list (after the batch was drawn in).
    void rowsAdded();

  protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    void addPending();
    void updateLabel();
    void layOut();
    void discardAll();

    QTreeWidget *m_list;
    QLabel *m_label;
    QPushButton *m_cmdOpen;
    QPushButton *m_cmdOK;
    QHash<quint64, UnreadItem> m_items;
    QList<quint64> m_pending;
    quint64 m_nextId = 1;
    int m_notKept = 0;
    QTimer m_batch;
};
