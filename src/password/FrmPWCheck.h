// "パスワードチェック": asks for the lock password before a locked item opens. The
// caller connects to checked() and calls Ask(); the dialog is modal but runs no loop of
// its own.
#pragma once

#include <QWidget>

class ModZorvin;
class QLineEdit;
class QPushButton;

class FrmPWCheck : public QWidget
{
    Q_OBJECT
  public:
    explicit FrmPWCheck(ModZorvin &ctx, QWidget *parent = nullptr);

    // Shows the dialog with an empty box.
    void Ask();

    QLineEdit *TxtPW() const { return m_txtPW; }
    QPushButton *CmdPWCheck() const { return m_cmdPWCheck; }

    // True when the last entry is the stored password.
    static bool Matches(const ModZorvin &ctx);

  signals:
    // Once per Ask(): passed when OK was pressed with the stored password. Closing the
    // dialog any other way is a failed check whatever LastPwEntry still holds.
    void checked(bool passed);

  protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void onCmdPWCheckClicked();
    void answer(bool passed);

    ModZorvin &m_ctx;
    QLineEdit *m_txtPW = nullptr;
    QPushButton *m_cmdPWCheck = nullptr;
    bool m_asking = false;
};
