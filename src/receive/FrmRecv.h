// The file-reception window "ぞるびん　- 受信 -": one row per received file or failed
// reception, kept until the window is closed, with open, copy, move and delete (to the
// desktop's trash) for the selected rows' files. A row follows its file: after a move it
// names and opens the new place, after a delete it says the file is in the trash.
#pragma once

#include <QStringList>
#include <QWidget>

class FlipSort;
class ModZorvin;
class QLabel;
class QMenu;
class QProcess;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TransferRows;
struct TransferProgress;

class FrmRecv : public QWidget
{
    Q_OBJECT
  public:
    // Built hidden, centred across and a quarter of the free height down the screen.
    explicit FrmRecv(ModZorvin &ctx, QWidget *parent = nullptr);
    ~FrmRecv() override;

    // Appends a row (date and time, name, "成功" for 0 / "失敗" for 1 / "" otherwise,
    // information) and shows the window, minimised when RecvInfMin is 1.
    void AddRecvInfo(const QString &name, int result, const QString &info);

    // A running reception's row above the lines (its first report adds it, its end takes
    // it away). Never shows the window.
    void ShowProgress(const TransferProgress &progress);
    TransferRows *runningRows() const { return m_running; }

    // The commands, each on every selected row in list order.
    // "開く(&O)": the desktop's default application for each file; a file type without
    // one fails. Runs on from the event loop while the association is looked up.
    void OpenFiles();
    // "ｺﾋﾟｰ(&C)" (0) / "移動(&M)" (1): asks for the folder, asks before overwriting, then
    // copies or moves on a worker thread.
    void FileCtl(int index);
    // "削除(&D)": into the user's home trash on a worker thread, after the question.
    void DeleteFiles();
    // "受信ﾌｫﾙﾀﾞを開く".
    void OpenReceiveFolder();

    QTreeWidget *list() const { return m_list; }
    QMenu *popupMenu() const { return m_popup; }
    QPushButton *folderButton() const { return m_cmdRDirOpen; }
    QLabel *label() const { return m_label; }
    // True while a command's files are still being handled.
    bool isBusy() const { return m_busy; }

    static QString resultText(int result);
    // Where the file of a row is now: the receive folder, or the place it was moved to;
    // "" once it went to the trash.
    QString filePath(QTreeWidgetItem *row) const;

  signals:
    // A command has handled every row ("open", "copy", "move", "delete"); `failed` are the
    // information texts of the rows that failed, as its message lists them.
    void filesHandled(const QString &command, const QStringList &failed);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    struct Row
    {
        QTreeWidgetItem *item;
        QString result;
        QString info; // the received file's name (or a failure's text)
    };
    QList<Row> selectedRows() const;
    QString receiveFolder() const;
    void layOut();
    void openNext();
    void finishOpen();
    QString pathOf(const Row &row, const QString &folder) const;
    void noteMoved(QTreeWidgetItem *item, const QString &path);
    void noteTrashed(QTreeWidgetItem *item);
    void report(const QString &command, const QStringList &failed, const QString &text, int style);

    ModZorvin &m_ctx;
    QTreeWidget *m_list;
    QLabel *m_label;
    QPushButton *m_cmdOK;
    QPushButton *m_cmdRDirOpen;
    QMenu *m_popup;
    FlipSort *m_sort;
    TransferRows *m_running;
    bool m_busy = false;
    // The open command's walk.
    QList<Row> m_toOpen;
    QStringList m_openFailed;
    QProcess *m_lookup = nullptr;
};
