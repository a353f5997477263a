// The toolbar customise dialog: the buttons not shown and the buttons shown side by side,
// with add, remove, move up/down and reset, like the toolbar editors users know.
#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QListWidgetItem;
class QPushButton;

class FrmToolbarEdit : public QDialog
{
    Q_OBJECT
  public:
    explicit FrmToolbarEdit(const QStringList &layout, QWidget *parent = nullptr);

    // The arrangement as edited (keys, "-" for a separator).
    QStringList layout() const;

    QListWidget *availableList() const { return m_available; }
    QListWidget *currentList() const { return m_current; }

    void addSelected();
    void removeSelected();
    void moveSelected(int step);
    void reset();

  private:
    void fill(const QStringList &layout);
    QListWidgetItem *makeItem(const QString &key) const;
    void updateButtons();

    QListWidget *m_available;
    QListWidget *m_current;
    QPushButton *m_add;
    QPushButton *m_remove;
    QPushButton *m_up;
    QPushButton *m_down;
};
