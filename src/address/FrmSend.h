// The send-information window "ぞるびん　- 送信 -": one line per outcome of a picture,
// file or message sent (success, failure, opened), kept until the window is closed.
#pragma once

#include <QWidget>

class FlipSort;
class ModZorvin;
class QLabel;
class QPushButton;
class QTreeWidget;

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

    static QString resultText(int result);

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    void layOut();

    ModZorvin &m_ctx;
    QTreeWidget *m_list;
    QLabel *m_label;
    QPushButton *m_cmdOK;
    FlipSort *m_sort;
};
