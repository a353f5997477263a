#include "capture/FrmToolbarEdit.h"

#include "ui/ToolbarIcons.h"
#include "ui/ToolbarLayout.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kKeyRole = Qt::UserRole;

QString separatorKey()
{
    return QString::fromLatin1(ToolbarLayout::kSeparator);
}

// A thin upright bar, so that separator rows line up with the button rows.
QIcon separatorIcon()
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(0x90, 0x98, 0xa2), 2));
    painter.drawLine(12, 3, 12, 21);
    return QIcon(pixmap);
}

} // namespace

FrmToolbarEdit::FrmToolbarEdit(const QStringList &layout, QWidget *parent)
    : QDialog(parent), m_available(new QListWidget(this)), m_current(new QListWidget(this)),
      m_add(new QPushButton(QStringLiteral("追加(&A) →"), this)),
      m_remove(new QPushButton(QStringLiteral("← 削除(&R)"), this)),
      m_up(new QPushButton(QStringLiteral("上へ移動(&U)"), this)),
      m_down(new QPushButton(QStringLiteral("下へ移動(&D)"), this))
{
    setWindowTitle(QStringLiteral("ツールバーのカスタマイズ"));
    for (QListWidget *list : {m_available, m_current}) {
        list->setIconSize(QSize(24, 24));
        list->setMinimumSize(220, 300);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        connect(list, &QListWidget::currentRowChanged, this, &FrmToolbarEdit::updateButtons);
    }
    connect(m_available, &QListWidget::itemDoubleClicked, this, &FrmToolbarEdit::addSelected);
    connect(m_current, &QListWidget::itemDoubleClicked, this, &FrmToolbarEdit::removeSelected);
    connect(m_add, &QPushButton::clicked, this, &FrmToolbarEdit::addSelected);
    connect(m_remove, &QPushButton::clicked, this, &FrmToolbarEdit::removeSelected);
    connect(m_up, &QPushButton::clicked, this, [this] { moveSelected(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { moveSelected(1); });

    auto *resetButton = new QPushButton(QStringLiteral("リセット(&S)"), this);
    connect(resetButton, &QPushButton::clicked, this, &FrmToolbarEdit::reset);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(m_add);
    middle->addWidget(m_remove);
    middle->addStretch();

    auto *side = new QVBoxLayout;
    side->addWidget(m_up);
    side->addWidget(m_down);
    side->addSpacing(12);
    side->addWidget(resetButton);
    side->addStretch();

    auto *grid = new QGridLayout(this);
    auto *availableLabel = new QLabel(QStringLiteral("利用できるボタン(&V):"), this);
    availableLabel->setBuddy(m_available);
    auto *currentLabel = new QLabel(QStringLiteral("現在のボタン(&T):"), this);
    currentLabel->setBuddy(m_current);
    grid->addWidget(availableLabel, 0, 0);
    grid->addWidget(currentLabel, 0, 2);
    grid->addWidget(m_available, 1, 0);
    grid->addLayout(middle, 1, 1);
    grid->addWidget(m_current, 1, 2);
    grid->addLayout(side, 1, 3);
    grid->addWidget(buttons, 2, 0, 1, 4);

    fill(ToolbarLayout::Sanitized(layout));
}

QListWidgetItem *FrmToolbarEdit::makeItem(const QString &key) const
{
    auto *item = new QListWidgetItem;
    item->setData(kKeyRole, key);
    if (key == separatorKey()) {
        item->setText(QStringLiteral("区切り"));
        item->setIcon(separatorIcon());
        return item;
    }
    const ToolButtonDef *def = ToolbarLayout::ButtonByKey(key);
    item->setText(def ? QString::fromUtf8(def->tooltip) : key);
    item->setIcon(ToolbarIcons::forKey(key));
    return item;
}

void FrmToolbarEdit::fill(const QStringList &layout)
{
    m_available->clear();
    m_current->clear();
    // The separator stays available however many are used.
    m_available->addItem(makeItem(separatorKey()));
    for (const ToolButtonDef &def : ToolbarLayout::Buttons()) {
        const QString key = QString::fromLatin1(def.key);
        if (!def.isSeparator() && !layout.contains(key))
            m_available->addItem(makeItem(key));
    }
    for (const QString &key : layout)
        m_current->addItem(makeItem(key));
    updateButtons();
}

QStringList FrmToolbarEdit::layout() const
{
    QStringList keys;
    for (int row = 0; row < m_current->count(); ++row)
        keys << m_current->item(row)->data(kKeyRole).toString();
    return keys;
}

void FrmToolbarEdit::addSelected()
{
    const int row = m_available->currentRow();
    if (row < 0)
        return;
    const QString key = m_available->item(row)->data(kKeyRole).toString();
    if (key != separatorKey())
        delete m_available->takeItem(row);
    const int at = m_current->currentRow() < 0 ? m_current->count() : m_current->currentRow() + 1;
    m_current->insertItem(at, makeItem(key));
    m_current->setCurrentRow(at);
    updateButtons();
}

void FrmToolbarEdit::removeSelected()
{
    const int row = m_current->currentRow();
    if (row < 0)
        return;
    const QString key = m_current->item(row)->data(kKeyRole).toString();
    delete m_current->takeItem(row);
    if (key != separatorKey()) {
        // Back into its place in the default order, so the available list stays tidy.
        const ToolButtonDef *def = ToolbarLayout::ButtonByKey(key);
        int at = m_available->count();
        for (int i = 1; i < m_available->count(); ++i) {
            const ToolButtonDef *other =
                ToolbarLayout::ButtonByKey(m_available->item(i)->data(kKeyRole).toString());
            if (other && def && other->position > def->position) {
                at = i;
                break;
            }
        }
        m_available->insertItem(at, makeItem(key));
    }
    updateButtons();
}

void FrmToolbarEdit::moveSelected(int step)
{
    const int row = m_current->currentRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= m_current->count())
        return;
    QListWidgetItem *item = m_current->takeItem(row);
    m_current->insertItem(target, item);
    m_current->setCurrentRow(target);
    updateButtons();
}

void FrmToolbarEdit::reset()
{
    fill(ToolbarLayout::DefaultLayout());
}

void FrmToolbarEdit::updateButtons()
{
    const int row = m_current->currentRow();
    m_add->setEnabled(m_available->currentRow() >= 0);
    m_remove->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row + 1 < m_current->count());
}
