#include "options/FrmOptGrpList.h"

#include "net/AddressStore.h"
#include "base/ModZorvin.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

FrmOptGrpList::FrmOptGrpList(const AddressStore &store, QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("FrmOptGrpList"));
    setWindowTitle(QStringLiteral("ｸﾞﾙｰﾌﾟの選択"));
    setWindowModality(Qt::WindowModal);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    const QString product = QString::fromUtf8(kProductName);
    m_lblExp =
        new QLabel(QStringLiteral("　") + product + QStringLiteral("のﾈｯﾄﾜｰｸ上で既に設定されている\n") +
                       QStringLiteral("ｸﾞﾙｰﾌﾟ名のﾘｽﾄです。\n\n") +
                       QStringLiteral("　この中に自分の属するｸﾞﾙｰﾌﾟがある場合は、\n") +
                       QStringLiteral("選択して、「ＯＫ」をｸﾘｯｸして下さい。\n") +
                       QStringLiteral("ない場合は、「ｷｬﾝｾﾙ」をｸﾘｯｸ後、ｸﾞﾙｰﾌﾟ名を入力して下さい。"),
                   this);
    m_lblExp->setObjectName(QStringLiteral("LblExp"));

    m_cboGrpList = new QComboBox(this);
    m_cboGrpList->setObjectName(QStringLiteral("CboGrpList"));
    const QStringList groups = GroupNames(store);
    for (int i = 0; i < groups.size(); ++i)
        m_cboGrpList->addItem(groups[i], i);
    m_cboGrpList->setCurrentIndex(groups.isEmpty() ? -1 : 0);

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("CmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdCan = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    m_cmdCan->setObjectName(QStringLiteral("CmdCan"));
    connect(m_cmdOK, &QPushButton::clicked, this, &FrmOptGrpList::onCmdOKClicked);
    connect(m_cmdCan, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCan);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblExp);
    layout->addWidget(m_cboGrpList);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // At the options dialog's top-left corner.
    if (owner)
        move(owner->frameGeometry().topLeft());
}

QStringList FrmOptGrpList::GroupNames(const AddressStore &store)
{
    QStringList groups;
    QSet<QString> seen;
    for (const AddressEntry &entry : store.rows()) {
        QString group = entry.EntryGroup;
        while (group.endsWith(QLatin1Char(' ')))
            group.chop(1);
        if (!group.isEmpty() && !seen.contains(group)) {
            seen.insert(group);
            groups.append(group);
        }
    }
    return groups;
}

void FrmOptGrpList::onCmdOKClicked()
{
    // With no group on the network there is nothing to take over; the typed group stays.
    if (m_cboGrpList->currentIndex() >= 0)
        emit chosen(m_cboGrpList->currentText());
    accept();
}
