#include "diagnostics/FrmNetDiag.h"

#include "net/Identity.h"

#include "base/ModZorvin.h"
#include "net/NetDiagnosisReport.h"
#include "net/NetDiagnostics.h"
#include "net/NetEngine.h"
#include "ui/WindowRegistry.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kRefreshMs = 1000;

// Narrow tables share their width among the columns so that no column is cut off.
QTableWidget *makeTable(const QStringList &headers, QWidget *parent, bool shareWidth)
{
    auto *table = new QTableWidget(0, int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    if (shareWidth) {
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    return table;
}

void setRow(QTableWidget *table, int row, const QStringList &cells)
{
    for (int column = 0; column < cells.size(); ++column) {
        QTableWidgetItem *item = table->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            table->setItem(row, column, item);
        }
        item->setText(cells[column]);
    }
}

QString boundText(bool bound, const QString &error)
{
    if (bound)
        return QStringLiteral("待ち受け中");
    return error.isEmpty() ? QStringLiteral("未使用")
                           : QStringLiteral("使用できません: ほかのプログラムが使っています (%1)").arg(error);
}

} // namespace

FrmNetDiag::FrmNetDiag(NetEngine &engine, QWidget *parent) : QWidget(parent), m_engine(engine)
{
    setWindowTitle(QStringLiteral("ﾈｯﾄﾜｰｸ診断"));
    m_facts = new QLabel(this);
    m_facts->setObjectName(QStringLiteral("Facts"));
    m_facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_counts = makeTable(
        {QStringLiteral("種類"), QStringLiteral("送信"), QStringLiteral("受信"), QStringLiteral("拒否")},
        this, true);
    m_peers = makeTable({QStringLiteral("ｱﾄﾞﾚｽ"), QStringLiteral("最後に受信")}, this, true);
    m_peersNote = new QLabel(this);
    m_peersNote->setObjectName(QStringLiteral("PeersNote"));
    m_peersNote->setWordWrap(true);
    m_history = makeTable({QStringLiteral("時刻"), QStringLiteral("方向"), QStringLiteral("ｱﾄﾞﾚｽ"),
                           QStringLiteral("種類"), QStringLiteral("ﾊﾞｲﾄ")},
                          this, false);

    auto *test = new QGroupBox(QStringLiteral("テスト送信"), this);
    m_testAddress = new QLineEdit(test);
    m_testAddress->setPlaceholderText(QStringLiteral("192.168.1.10"));
    m_testSend = new QPushButton(QStringLiteral("テスト送信"), test);
    m_testResult = new QLabel(test);
    m_testResult->setWordWrap(true);
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(new QLabel(QStringLiteral("ｱﾄﾞﾚｽ:"), test));
    testRow->addWidget(m_testAddress, 1);
    testRow->addWidget(m_testSend);
    testRow->addStretch(2);
    auto *testLayout = new QVBoxLayout(test);
    testLayout->addLayout(testRow);
    testLayout->addWidget(m_testResult);

    auto *top = new QHBoxLayout;
    top->addWidget(m_facts, 1);
    auto *countsBox = new QVBoxLayout;
    countsBox->addWidget(new QLabel(QStringLiteral("種類ごとの件数"), this));
    countsBox->addWidget(m_counts);
    top->addLayout(countsBox, 1);
    auto *peersBox = new QVBoxLayout;
    peersBox->addWidget(new QLabel(QStringLiteral("相手"), this));
    peersBox->addWidget(m_peers);
    peersBox->addWidget(m_peersNote);
    top->addLayout(peersBox, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 2);
    layout->addWidget(new QLabel(QStringLiteral("最近の %1 件").arg(NetDiagnostics::kHistorySize), this));
    layout->addWidget(m_history, 3);
    layout->addWidget(test);
    resize(900, 640);

    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &FrmNetDiag::refresh);
    connect(m_testSend, &QPushButton::clicked, this, &FrmNetDiag::onTestSendClicked);
    connect(m_testAddress, &QLineEdit::returnPressed, this, &FrmNetDiag::onTestSendClicked);
    connect(&m_engine, &NetEngine::testSendFinished, this, &FrmNetDiag::onEngineTestSendFinished);
    refresh();
}

void FrmNetDiag::refresh()
{
    const ModZorvin &ctx = m_engine.context();
    const QString iface = NetDiagnosisReport::interfaceOf(ctx.LocalIp);
    m_facts->setText(QStringLiteral("使用中のｱﾄﾞﾚｽ: %1\nｲﾝﾀｰﾌｪｲｽ: %2\nﾌﾞﾛｰﾄﾞｷｬｽﾄ: %3\nUDP %4: %5\nTCP %4: %6\n%7")
                         .arg(ctx.LocalIp, iface.isEmpty() ? QStringLiteral("(なし)") : iface,
                              ctx.net.broadcastAddress, QString::number(ctx.net.port),
                              boundText(m_engine.udpBound(), m_engine.udpBindError()),
                              boundText(m_engine.tcpBound(), m_engine.tcpBindError()),
                              m_engine.identity().fingerprintLine()));
    const NetDiagnostics &diag = m_engine.diagnostics();

    const QHash<QString, NetDiagnostics::Counts> counts = diag.counts();
    QStringList kinds = counts.keys();
    std::sort(kinds.begin(), kinds.end());
    m_counts->setRowCount(int(kinds.size()));
    for (int row = 0; row < kinds.size(); ++row) {
        const NetDiagnostics::Counts c = counts.value(kinds[row]);
        setRow(
            m_counts, row,
            {kinds[row], QString::number(c.sent), QString::number(c.received), QString::number(c.refused)});
    }

    // This copy hears its own announcements; listed with the others it would hide that
    // nobody else is heard.
    const QHash<QString, QDateTime> lastHeard = diag.lastHeard();
    QStringList peers = lastHeard.keys();
    peers.removeAll(ctx.LocalIp);
    std::sort(peers.begin(), peers.end());
    m_peers->setRowCount(int(peers.size()));
    for (int row = 0; row < peers.size(); ++row)
        setRow(m_peers, row, {peers[row], lastHeard.value(peers[row]).toString(QStringLiteral("HH:mm:ss"))});
    QStringList note;
    if (peers.isEmpty())
        note << QStringLiteral("ほかの%1からはまだ何も受信していません。")
                    .arg(QString::fromUtf8(kProductName));
    note << (lastHeard.contains(ctx.LocalIp)
                 ? QStringLiteral("自分 (%1): %2 に受信")
                       .arg(ctx.LocalIp, lastHeard.value(ctx.LocalIp).toString(QStringLiteral("HH:mm:ss")))
                 : QStringLiteral("自分 (%1)").arg(ctx.LocalIp));
    m_peersNote->setText(note.join(u'\n'));

    // Newest first, so the latest datagram is at the top without scrolling.
    const QList<NetDiagnostics::Record> history = diag.history();
    m_history->setRowCount(int(history.size()));
    for (int i = 0; i < history.size(); ++i) {
        const NetDiagnostics::Record &r = history[history.size() - 1 - i];
        setRow(m_history, i,
               {r.time().toString(QStringLiteral("HH:mm:ss.zzz")),
                r.direction == NetDiagnostics::Sent ? QStringLiteral("送信") : QStringLiteral("受信"),
                r.address, r.kind(), QString::number(r.size)});
    }
}

QString FrmNetDiag::resultText() const
{
    return m_testResult->text();
}

void FrmNetDiag::showEvent(QShowEvent *event)
{
    refresh();
    m_refresh.start();
    QWidget::showEvent(event);
}

void FrmNetDiag::hideEvent(QHideEvent *event)
{
    m_refresh.stop();
    QWidget::hideEvent(event);
}

void FrmNetDiag::onTestSendClicked()
{
    const QString ip = m_testAddress->text().trimmed();
    if (!m_engine.TestSend(ip)) {
        m_testResult->setText(QStringLiteral("%1 へ送信できません。").arg(ip));
        return;
    }
    m_testResult->setText(QStringLiteral("%1 へ送信しました。応答を待っています…").arg(ip));
}

void FrmNetDiag::onEngineTestSendFinished(const QString &ip, bool answered)
{
    const QString port = QString::number(m_engine.context().net.port);
    m_testResult->setText(
        answered ? QStringLiteral("%1 から応答がありました。").arg(ip)
                 : QStringLiteral("%1 から 3 秒以内に応答がありませんでした。考えられる原因:\n"
                                  "・相手で %3 が動いていない、または別のﾎﾟｰﾄ番号を使っている (こちらは %2)\n"
                                  "・ﾌｧｲｱｰｳｫｰﾙが UDP/TCP %2 を止めている (相手側またはこちら側)\n"
                                  "・相手が別のｻﾌﾞﾈｯﾄにいて、ﾙｰﾀｰが通さない")
                       .arg(ip, port, QString::fromUtf8(kProductName)));
    refresh();
}

void RegisterNetDiagWindow(NetEngine &engine, WindowRegistry &windows)
{
    windows.setFactory(WindowKind::NetDiag, [&engine] { return new FrmNetDiag(engine); });
}
