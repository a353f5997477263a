// "ホットキーの設定": chooses one of the six hotkeys, builds its key from the modifier boxes
// and the key list, registers it at once (putting the old key back when the system refuses
// the new one) or releases it; closing stores the six keys in the settings.
#pragma once

#include <QWidget>

#include <array>

class HotKeys;
class ModZorvin;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class FrmKeySet : public QWidget
{
    Q_OBJECT
  public:
    FrmKeySet(ModZorvin &ctx, HotKeys &hotKeys, QWidget *parent = nullptr);

    // 0 the menu, 1..5 capture modes 0..4.
    QRadioButton *OptCaptItem(int item) const { return m_optCaptItem.at(size_t(item)); }
    QLabel *LblKey(int item) const { return m_lblKey.at(size_t(item)); }
    QCheckBox *ChkCtl() const { return m_chkCtl; }
    QCheckBox *ChkAlt() const { return m_chkAlt; }
    QCheckBox *ChkShift() const { return m_chkShift; }
    QComboBox *CboKey() const { return m_cboKey; }
    QLineEdit *TxtHotKey() const { return m_txtHotKey; }
    QPushButton *CmdSet() const { return m_cmdSet; }
    QPushButton *CmdReset() const { return m_cmdReset; }
    QPushButton *CmdCls() const { return m_cmdCls; }

    // The item whose option is chosen.
    int selectedItem() const;

  protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void onChoiceChanged();
    void onCmdSetClicked();
    void onCmdResetClicked();

    ModZorvin &m_ctx;
    HotKeys &m_hotKeys;
    QButtonGroup *m_items = nullptr;
    std::array<QRadioButton *, 6> m_optCaptItem{};
    std::array<QLabel *, 6> m_lblKey{};
    QCheckBox *m_chkCtl = nullptr;
    QCheckBox *m_chkAlt = nullptr;
    QCheckBox *m_chkShift = nullptr;
    QComboBox *m_cboKey = nullptr;
    QLineEdit *m_txtHotKey = nullptr;
    QPushButton *m_cmdSet = nullptr;
    QPushButton *m_cmdReset = nullptr;
    QPushButton *m_cmdCls = nullptr;
};
