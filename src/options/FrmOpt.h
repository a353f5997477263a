// "名前の設定": the first-run dialog for the user's group and name, shown modally by
// start-up when neither is set; it can also switch the first-run prompt off for good.
#pragma once

#include <QDialog>

#include <functional>

class EngineHost;
class ModZorvin;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class FrmOpt : public QDialog
{
    Q_OBJECT
  public:
    explicit FrmOpt(ModZorvin &ctx, QWidget *parent = nullptr);

    QLineEdit *TxtGrp() const { return m_txtGrp; }
    QLineEdit *TxtName() const { return m_txtName; }
    QCheckBox *ChkNOpMsg() const { return m_chkNOpMsg; }
    QLabel *LblMsg() const { return m_lblMsg; }
    QPushButton *CmdOK() const { return m_cmdOK; }
    QPushButton *CmdCan() const { return m_cmdCan; }

  private:
    void onCmdOKClicked();

    ModZorvin &m_ctx;
    QLineEdit *m_txtGrp = nullptr;
    QLineEdit *m_txtName = nullptr;
    QCheckBox *m_chkNOpMsg = nullptr;
    QLabel *m_lblMsg = nullptr;
    QPushButton *m_cmdOK = nullptr;
    QPushButton *m_cmdCan = nullptr;
};

// Start-up's first-run prompt: asked only while ZorvinOpMsg is 0 and the name is "未設定" or
// the group is empty; OK shows FrmOpt (modal, without a loop of its own), Cancel stores
// nothing. The question goes through `host`, so it is answered like every other start-up
// box. `then` runs once everything asked is answered: at once when nothing is asked or
// the question is cancelled, else when FrmOpt closes (from the event loop, while `context`
// lives). Returns the dialog while it is open (closing it ends the questions), else null.
FrmOpt *FirstRunPrompt(ModZorvin &ctx, EngineHost &host, QObject *context, std::function<void()> then);
