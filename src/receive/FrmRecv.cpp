#include "receive/FrmRecv.h"

#include "pictures/ImageFiles.h"
#include "net/EngineHost.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "ui/BrowseFolder.h"
#include "receive/HomeTrash.h"
#include "receive/ReceivedFiles.h"
#include "ui/FlipSort.h"
#include "ui/ListColumns.h"
#include "ui/ListWindowLayout.h"
#include "ui/ReportList.h"
#include "ui/TransferRows.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

namespace {

// Column widths in twips: date and time, name, result, information.
const QList<int> kColumnTwips = {2558, 2822, 600, 17639};
constexpr int kResultColumn = 2;
constexpr int kInfoColumn = 3;

// The window's first size, and the folder button's width, in twips.
constexpr int kWidthTwips = 9600;
constexpr int kHeightTwips = 3600;
constexpr int kFolderButtonWidthTwips = 2400;

const QString kSuccess = QStringLiteral("成功");

// What a row remembers of its file, on the information column: the received name, the
// path it was moved to (empty while it is in the receive folder), and whether it went to
// the trash.
constexpr int kNameRole = Qt::UserRole;
constexpr int kMovedRole = Qt::UserRole + 1;
constexpr int kTrashedRole = Qt::UserRole + 2;

// One row's file on the worker thread: a move renames when it can (one step, same file
// system), otherwise both copy a whole file under a temporary name and rename it over the
// target, so the target is never half written.
bool transferFile(const QString &from, const QString &to, bool move)
{
    if (move) {
        std::error_code error;
        std::filesystem::rename(from.toStdString(), to.toStdString(), error);
        if (!error)
            return true;
    }
    if (!ImageFiles::CopyWhole(from, to, nullptr))
        return false;
    return !move || QFile::remove(from);
}

} // namespace

FrmRecv::FrmRecv(ModZorvin &ctx, QWidget *parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("FrmRecv"));
    setWindowTitle(QString::fromUtf8(kProductName) + QStringLiteral("　- 受信 -"));
    setWindowIcon(QApplication::windowIcon());

    m_list = new ReportList(this);
    m_list->setObjectName(QStringLiteral("LveRecv"));
    SetReportList(m_list, {QStringLiteral("日時"), QStringLiteral("名前"), QStringLiteral("結果"),
                           QStringLiteral("情報")});
    m_list->header()->setStretchLastSection(false);
    SetDesignColumnWidths(m_list, m_list->header(), kColumnTwips,
                          {QStringLiteral("0000/00/00 00:00:00"), QString(), kSuccess});
    m_list->headerItem()->setTextAlignment(kResultColumn, Qt::AlignCenter);
    m_list->viewport()->installEventFilter(this);
    m_sort = new FlipSort(m_list, m_list->header());
    m_running = new TransferRows(false, this);

    m_label = new QLabel(QStringLiteral("ﾌｧｲﾙ受信情報"), this);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_cmdOK = new QPushButton(QStringLiteral("閉じる"), this);
    m_cmdOK->setObjectName(QStringLiteral("CmdOK"));
    connect(m_cmdOK, &QPushButton::clicked, this, &QWidget::close);
    m_cmdRDirOpen = new QPushButton(QStringLiteral("受信ﾌｫﾙﾀﾞを開く"), this);
    m_cmdRDirOpen->setObjectName(QStringLiteral("CmdRDirOpen"));
    connect(m_cmdRDirOpen, &QPushButton::clicked, this, &FrmRecv::OpenReceiveFolder);

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("mnuPopUp"));
    QAction *open = m_popup->addAction(QStringLiteral("開く(&O)"), this, &FrmRecv::OpenFiles);
    open->setObjectName(QStringLiteral("mnuPOpen"));
    m_popup->addSeparator();
    m_popup->addAction(QStringLiteral("ｺﾋﾟｰ(&C)"), this, [this] { FileCtl(0); })
        ->setObjectName(QStringLiteral("mnuPFileCtl0"));
    m_popup->addAction(QStringLiteral("移動(&M)"), this, [this] { FileCtl(1); })
        ->setObjectName(QStringLiteral("mnuPFileCtl1"));
    m_popup->addAction(QStringLiteral("削除(&D)"), this, &FrmRecv::DeleteFiles)
        ->setObjectName(QStringLiteral("mnuPDel"));

    resize(twipsToPixels(kWidthTwips), twipsToPixels(kHeightTwips));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 4);
    }
    layOut();
}

FrmRecv::~FrmRecv() = default;

QString FrmRecv::resultText(int result)
{
    return result == 0 ? kSuccess : result == 1 ? QStringLiteral("失敗") : QString();
}

void FrmRecv::AddRecvInfo(const QString &name, int result, const QString &info)
{
    if (m_ctx.StartupDone == StartupQuitting)
        return;
    m_list->setEnabled(false);
    auto *row =
        new QTreeWidgetItem({QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")),
                             name, resultText(result), info});
    row->setTextAlignment(kResultColumn, Qt::AlignCenter);
    row->setData(kInfoColumn, kNameRole, info);
    m_list->addTopLevelItem(row);
    // A list sorted by a click stays sorted as rows arrive.
    m_sort->resort();
    m_list->setEnabled(true);
    if (m_ctx.settings.RecvInfMin == 1)
        showMinimized();
    else if (isMinimized())
        showNormal();
    else
        show();
}

QList<FrmRecv::Row> FrmRecv::selectedRows() const
{
    QList<Row> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_list->topLevelItem(i);
        if (item->isSelected())
            rows.append({item, item->text(kResultColumn), item->data(kInfoColumn, kNameRole).toString()});
    }
    return rows;
}

QString FrmRecv::pathOf(const Row &row, const QString &folder) const
{
    if (row.item->data(kInfoColumn, kTrashedRole).toBool())
        return {};
    const QString moved = row.item->data(kInfoColumn, kMovedRole).toString();
    if (moved.isEmpty())
        return ReceivedFiles::PathInFolder(folder, row.info);
    // The user put it there; it is still this row's file while it is a plain file.
    const QFileInfo file(moved);
    return file.isSymLink() ? QString() : moved;
}

QString FrmRecv::filePath(QTreeWidgetItem *item) const
{
    return pathOf({item, item->text(kResultColumn), item->data(kInfoColumn, kNameRole).toString()},
                  receiveFolder());
}

void FrmRecv::noteMoved(QTreeWidgetItem *item, const QString &path)
{
    const QString name = item->data(kInfoColumn, kNameRole).toString();
    // Moved back into the receive folder under its own name: an ordinary row again.
    if (ReceivedFiles::IsInFolder(receiveFolder(), path) && QFileInfo(path).fileName() == name) {
        item->setData(kInfoColumn, kMovedRole, QString());
        item->setText(kInfoColumn, name);
        item->setToolTip(kInfoColumn, QString());
        return;
    }
    item->setData(kInfoColumn, kMovedRole, path);
    item->setText(kInfoColumn, QStringLiteral("%1（%2 へ移動）")
                                   .arg(name, QDir::toNativeSeparators(QFileInfo(path).absolutePath())));
    item->setToolTip(kInfoColumn, QDir::toNativeSeparators(path));
}

void FrmRecv::noteTrashed(QTreeWidgetItem *item)
{
    item->setData(kInfoColumn, kTrashedRole, true);
    item->setText(kInfoColumn, item->data(kInfoColumn, kNameRole).toString() + QStringLiteral("（ごみ箱へ移動）"));
    item->setToolTip(kInfoColumn, QString());
    const QColor grey = m_list->palette().color(QPalette::Disabled, QPalette::Text);
    for (int column = 0; column < m_list->columnCount(); ++column)
        item->setForeground(column, grey);
}

QString FrmRecv::receiveFolder() const
{
    // Read at each command: rows follow the folder the options name now.
    return m_ctx.settings.RecvFileSavePlace;
}

void FrmRecv::report(const QString &command, const QStringList &failed, const QString &text, int style)
{
    emit filesHandled(command, failed);
    if (!failed.isEmpty())
        ShowMessageBox(text + QStringLiteral("\r\r") + failed.join(QStringLiteral(" , ")), style, this);
}

// ---- open ------------------------------------------------------------------------------

void FrmRecv::OpenFiles()
{
    if (m_busy)
        return;
    m_busy = true;
    m_toOpen = selectedRows();
    m_openFailed.clear();
    openNext();
}

void FrmRecv::openNext()
{
    const QString folder = receiveFolder();
    while (!m_toOpen.isEmpty()) {
        const Row row = m_toOpen.takeFirst();
        const QString path = row.result == kSuccess ? pathOf(row, folder) : QString();
        if (path.isEmpty() || !QFileInfo::exists(path)) {
            m_openFailed << row.info;
            continue;
        }
        // A file type without an application is a failure of its own, as the desktop's
        // opener would only say so on the terminal: ask for the default application first.
        const QString mime = QMimeDatabase().mimeTypeForFile(path).name();
        auto *lookup = new QProcess(this);
        m_lookup = lookup;
        auto done = std::make_shared<bool>(false);
        const auto conclude = [this, lookup, done, path, info = row.info](bool known) {
            if (*done)
                return;
            *done = true;
            lookup->deleteLater();
            m_lookup = nullptr;
            if (!known || !OpenWithDesktop(path))
                m_openFailed << info;
            openNext();
        };
        connect(lookup, &QProcess::finished, this, [lookup, conclude](int code, QProcess::ExitStatus status) {
            conclude(status == QProcess::NormalExit && code == 0 &&
                     !lookup->readAllStandardOutput().trimmed().isEmpty());
        });
        connect(lookup, &QProcess::errorOccurred, this, [conclude](QProcess::ProcessError error) {
            // Without xdg-mime the opener's own answer is all there is.
            if (error == QProcess::FailedToStart)
                conclude(true);
        });
        lookup->start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), mime});
        return;
    }
    finishOpen();
}

void FrmRecv::finishOpen()
{
    m_busy = false;
    const QStringList failed = std::exchange(m_openFailed, {});
    report(QStringLiteral("open"), failed, QStringLiteral("以下のファイルを開けません。"),
           MsgBox::Exclamation);
}

// ---- copy, move, delete ----------------------------------------------------------------

void FrmRecv::FileCtl(int index)
{
    if (m_busy)
        return;
    const bool move = index == 1;
    const QString destination =
        BrowseFolder(this, move ? QStringLiteral("ファイルの移動先を指定してください。")
                                : QStringLiteral("ファイルのコピー先を指定してください。"));
    if (destination.isEmpty())
        return;
    // The rows as they were when the command started: rows may arrive and the list may
    // re-sort while a question is open.
    const QList<Row> rows = selectedRows();
    const QString folder = receiveFolder();
    struct Job
    {
        QTreeWidgetItem *item;
        QString from, to, info;
        bool failed = false;
        bool skipped = false;
    };
    auto jobs = std::make_shared<QList<Job>>();
    m_busy = true;
    for (const Row &row : rows) {
        Job job{row.item, pathOf(row, folder), FolderPath::join(destination, row.info), row.info};
        if (job.from.isEmpty() || !QFileInfo::exists(job.from) ||
            QFileInfo(job.from).absoluteFilePath() == QFileInfo(job.to).absoluteFilePath()) {
            job.failed = true;
        } else if (QFileInfo::exists(job.to)) {
            // The question the desktop's own copy would ask; No leaves that file alone.
            job.skipped =
                ShowMessageBox(QStringLiteral("「%1」は既に存在します。\r上書きしますか？").arg(row.info),
                               MsgBox::YesNo | MsgBox::Question, this) != MsgBox::IdYes;
        }
        jobs->append(job);
    }
    // Large files must not hold up the window: the files go on a worker thread.
    QThread *worker = QThread::create([jobs, move] {
        for (Job &job : *jobs) {
            if (!job.failed && !job.skipped)
                job.failed = !transferFile(job.from, job.to, move);
        }
    });
    connect(worker, &QThread::finished, this, [this, jobs, move] {
        m_busy = false;
        QStringList failed;
        for (const Job &job : std::as_const(*jobs)) {
            if (job.failed)
                failed << job.info;
            else if (move && !job.skipped)
                noteMoved(job.item, job.to);
        }
        report(move ? QStringLiteral("move") : QStringLiteral("copy"), failed,
               QStringLiteral("以下のファイルの") +
                   (move ? QStringLiteral("移動") : QStringLiteral("コピー")) +
                   QStringLiteral("に失敗しました。"),
               MsgBox::Critical);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void FrmRecv::DeleteFiles()
{
    if (m_busy)
        return;
    if (ShowMessageBox(QStringLiteral("選択されたファイルをごみ箱に移してもよろしいですか？"),
                       MsgBox::YesNo | MsgBox::Question, this) != MsgBox::IdYes)
        return;
    const QString folder = receiveFolder();
    struct Job
    {
        QTreeWidgetItem *item;
        QString path, info, error;
        bool failed = false;
    };
    auto jobs = std::make_shared<QList<Job>>();
    for (const Row &row : selectedRows()) {
        const QString path = row.result == kSuccess ? pathOf(row, folder) : QString();
        jobs->append({row.item, path, row.info, QString(), path.isEmpty() || !QFileInfo::exists(path)});
    }
    m_busy = true;
    // Into the home trash only, so that a delete can be undone; never a plain unlink. A
    // trash on another file system means a whole copy: off the window thread.
    QThread *worker = QThread::create([jobs] {
        for (Job &job : *jobs) {
            if (!job.failed)
                job.failed = !HomeTrash::moveToTrash(job.path, &job.error);
        }
    });
    connect(worker, &QThread::finished, this, [this, jobs] {
        m_busy = false;
        QStringList failed;
        for (const Job &job : std::as_const(*jobs)) {
            if (!job.error.isEmpty())
                TellTerminal(job.error);
            if (job.failed)
                failed << job.info;
            else
                noteTrashed(job.item);
        }
        report(QStringLiteral("delete"), failed, QStringLiteral("以下のファイルの削除に失敗しました。"),
               MsgBox::Critical);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void FrmRecv::OpenReceiveFolder()
{
    if (!m_ctx.settings.RecvFileSavePlace.isEmpty())
        OpenWithDesktop(m_ctx.settings.RecvFileSavePlace);
}

// ---- events and layout -------------------------------------------------------------------

bool FrmRecv::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::RightButton)
            return false;
        // The menu only over a selected success row with a file name; its commands then act
        // on every selected row.
        for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = m_list->topLevelItem(i);
            // A file in the trash has nothing left to act on.
            if (!item->isSelected() || item->text(kResultColumn) != kSuccess ||
                item->data(kInfoColumn, kTrashedRole).toBool())
                continue;
            const QString name = item->data(kInfoColumn, kNameRole).toString();
            if (name.isEmpty())
                return false;
            m_popup->actions().constFirst()->setData(name);
            m_popup->popup(mouse->globalPosition().toPoint());
            return true;
        }
    }
    return false;
}

void FrmRecv::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOut();
}

void FrmRecv::layOut()
{
    if (LayOutListWindow(*this, {m_list, m_label, m_cmdOK, m_cmdRDirOpen, kFolderButtonWidthTwips}))
        m_running->placeAbove(m_list);
}

void FrmRecv::ShowProgress(const TransferProgress &progress)
{
    const int before = m_running->runningCount();
    m_running->showProgress(progress);
    if (m_running->runningCount() != before)
        layOut();
}
