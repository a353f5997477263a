// "パスワードチェック": asks for the lock password before a locked item opens. The
// caller connects to checked() and calls Ask(); the dialog is modal but runs no loop of
// its own. A copy without a password has nothing to check: the item opens at once, and
// the first time in a run a note suggests setting one.
#pragma once

#include <QWidget>

#include <memory>

class ModZorvin;
class QLabel;
class QLineEdit;
class QPushButton;

class FrmPWCheck : public QWidget
{
    Q_OBJECT
  public:
    // `noteShown` is shared by every check window of one running copy, so the note about a
    // missing password comes once per run.
    explicit FrmPWCheck(ModZorvin &ctx, std::shared_ptr<bool> noteShown = std::make_shared<bool>(false),
                        QWidget *parent = nullptr);

    // Shows the dialog with an empty box; with no password set, answers passed at once.
    void Ask();

    QLineEdit *TxtPW() const { return m_txtPW; }
    QPushButton *CmdPWCheck() const { return m_cmdPWCheck; }
    QPushButton *CmdCancel() const { return m_cmdCancel; }
    QLabel *LblPrompt() const { return m_lblPrompt; }

    // True when the last entry is the stored password.
    static bool Matches(const ModZorvin &ctx);
    // The open button of a locked item: "開く（パスワードロック）", saying so when this copy
    // has no password to lock with.
    static QString LockedOpenCaption(const ModZorvin &ctx);

  signals:
    // Once per Ask(): passed when OK was pressed with the stored password (or no password
    // is set). "ｷｬﾝｾﾙ" and closing the dialog any other way are a failed check whatever
    // LastPwEntry still holds.
    void checked(bool passed);

  protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void onCmdPWCheckClicked();
    void answer(bool passed);
    void showNoPasswordNote();

    ModZorvin &m_ctx;
    std::shared_ptr<bool> m_noteShown;
    QLabel *m_lblPrompt = nullptr;
    QLineEdit *m_txtPW = nullptr;
    QPushButton *m_cmdPWCheck = nullptr;
    QPushButton *m_cmdCancel = nullptr;
    bool m_asking = false;
};
