// "ｸﾞﾙｰﾌﾟの選択": the group names already used on the network, offered to the options
// dialog's group box. Window-modal over its owner; it runs no loop of its own.
#pragma once

#include <QDialog>
#include <QStringList>

class AddressStore;
class QComboBox;
class QLabel;
class QPushButton;

class FrmOptGrpList : public QDialog
{
    Q_OBJECT
  public:
    FrmOptGrpList(const AddressStore &store, QWidget *owner);

    // The store's groups in store order, trailing blanks removed, without empties and repeats.
    static QStringList GroupNames(const AddressStore &store);

    QComboBox *CboGrpList() const { return m_cboGrpList; }
    QLabel *LblExp() const { return m_lblExp; }
    QPushButton *CmdOK() const { return m_cmdOK; }
    QPushButton *CmdCan() const { return m_cmdCan; }

  signals:
    // OK with a group chosen.
    void chosen(const QString &group);

  private:
    void onCmdOKClicked();

    QComboBox *m_cboGrpList = nullptr;
    QLabel *m_lblExp = nullptr;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCan = nullptr;
};
