#include "address/FrmSend.h"

#include "base/ModZorvin.h"
#include "ui/FlipSort.h"
#include "ui/ListColumns.h"
#include "ui/ListWindowLayout.h"
#include "ui/TransferRows.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

namespace {

// Column widths in twips: date and time, name, kind, result, information.
const QList<int> kColumnTwips = {2558, 2822, 62, 600, 17639};
constexpr int kKindColumn = 2;
constexpr int kResultColumn = 3;

// The window's first size in twips.
constexpr int kWidthTwips = 9600;
constexpr int kHeightTwips = 3600;

} // namespace

FrmSend::FrmSend(ModZorvin &ctx, QWidget *parent) : QWidget(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("FrmSend"));
    setWindowTitle(QString::fromUtf8(kProductName) + QStringLiteral("　- 送信 -"));
    setWindowIcon(QApplication::windowIcon());

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("LveSend"));
    SetReportList(m_list, {QStringLiteral("日時"), QStringLiteral("名前"), QStringLiteral("種"),
                           QStringLiteral("結果"), QStringLiteral("情報")});
    m_list->header()->setStretchLastSection(false);
    SetDesignColumnWidths(
        m_list, m_list->header(), kColumnTwips,
        {QStringLiteral("0000/00/00 00:00:00"), QString(), QStringLiteral("M"), QStringLiteral("成功")});
    for (int column : {kKindColumn, kResultColumn})
        m_list->headerItem()->setTextAlignment(column, Qt::AlignCenter);
    m_sort = new FlipSort(m_list, m_list->header());
    m_running = new TransferRows(true, this);

    m_label = new QLabel(QStringLiteral("送信情報"), this);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_cmdOK = new QPushButton(QStringLiteral("閉じる"), this);
    m_cmdOK->setObjectName(QStringLiteral("CmdOK"));
    connect(m_cmdOK, &QPushButton::clicked, this, &QWidget::close);

    resize(twipsToPixels(kWidthTwips), twipsToPixels(kHeightTwips));
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) * 3 / 4, area.y() + (area.height() - height()) / 5);
    }
    layOut();
}

QString FrmSend::resultText(int result)
{
    switch (result) {
    case 0:
        return QStringLiteral("成功");
    case 1:
        return QStringLiteral("失敗");
    case 2:
        return QStringLiteral("開封");
    }
    return QString();
}

void FrmSend::AddSendResult(const QString &name, const QString &kind, int result, const QString &info)
{
    if (m_ctx.StartupDone == StartupQuitting)
        return;
    m_list->setEnabled(false);
    auto *line =
        new QTreeWidgetItem({QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")),
                             name, kind, resultText(result), info});
    line->setTextAlignment(kKindColumn, Qt::AlignCenter);
    line->setTextAlignment(kResultColumn, Qt::AlignCenter);
    m_list->addTopLevelItem(line);
    // A list sorted by a click stays sorted as lines arrive.
    m_sort->resort();
    m_list->setEnabled(true);
    comeUp();
}

void FrmSend::ShowProgress(const TransferProgress &progress, bool comeUp)
{
    const int before = m_running->runningCount();
    m_running->showProgress(progress);
    if (m_running->runningCount() != before)
        layOut();
    if (comeUp && !isVisible())
        this->comeUp();
}

void FrmSend::comeUp()
{
    // Minimised only when it comes up: a window the user is reading is left as it is.
    if (m_ctx.settings.SendInfMin == 1 && !isVisible())
        showMinimized();
    else
        show();
}

void FrmSend::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layOut();
}

void FrmSend::layOut()
{
    if (LayOutListWindow(*this, {m_list, m_label, m_cmdOK}))
        m_running->placeAbove(m_list);
}
