// The send-information window "ぞるびん　- 送信 -": one line per outcome of a picture,
// file or message sent (success, failure, opened), kept until the window is closed.
#pragma once

#include <QWidget>

struct TransferProgress;
class FlipSort;
class ModZorvin;
class QLabel;
class QPushButton;
class QTreeWidget;
class TransferRows;

class FrmSend : public QWidget
{
    Q_OBJECT
  public:
    // Built hidden, placed at three quarters across and a fifth down the screen.
    explicit FrmSend(ModZorvin &ctx, QWidget *parent = nullptr);

    // Appends a line (date and time, name, kind letter, result text, information) and
    // shows the window, minimised the first time when SendInfMin is set. Result 0 "成功",
    // 1 "失敗", 2 "開封". Nothing while the program quits.
    void AddSendResult(const QString &name, const QString &kind, int result, const QString &info);

    // A running send's row above the lines (its first report adds it, its end takes it away).
    // `comeUp`: the window shows itself as a new line would make it.
    void ShowProgress(const TransferProgress &progress, bool comeUp);
    TransferRows *runningRows() const { return m_running; }
    QTreeWidget *list() const { return m_list; }

    static QString resultText(int result);

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    void layOut();
    void comeUp();

    ModZorvin &m_ctx;
    QTreeWidget *m_list;
    QLabel *m_label;
    QPushButton *m_cmdOK;
    FlipSort *m_sort;
    TransferRows *m_running;
};
