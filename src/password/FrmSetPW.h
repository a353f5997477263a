// "ﾊﾟｽﾜｰﾄﾞの変更": checks the old lock password, takes the new one twice, and stores it in
// the record and the password file at once.
#pragma once

#include <QWidget>

#include <array>

class ModZorvin;
class QLineEdit;
class QPushButton;

class FrmSetPW : public QWidget
{
    Q_OBJECT
  public:
    explicit FrmSetPW(ModZorvin &ctx, QWidget *parent = nullptr);

    // 0 old, 1 new, 2 again.
    QLineEdit *TxtPW(int index) const { return m_txtPW.at(index); }
    QPushButton *CmdOK() const { return m_cmdOK; }
    QPushButton *CmdCan() const { return m_cmdCan; }

  signals:
    // The password was replaced (the options dialog shows the new one).
    void passwordChanged();

  protected:
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void onCmdOKClicked();

    ModZorvin &m_ctx;
    std::array<QLineEdit *, 3> m_txtPW{};
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCan = nullptr;
};
