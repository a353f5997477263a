#include "capture/FrmKeySet.h"

#include "capture/HotKeyNames.h"
#include "capture/HotKeys.h"
#include "capture/clsHotKey.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "platform/HotKeyPlatform.h"
#include "ui/DialogKeys.h"
#include "ui/WindowKeys.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel *keyLabel(int item, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("LblKey%1").arg(item));
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(150);
    return label;
}

} // namespace

FrmKeySet::FrmKeySet(ModZorvin &ctx, HotKeys &hotKeys, QWidget *parent)
    : QWidget(parent, Qt::Dialog), m_ctx(ctx), m_hotKeys(hotKeys)
{
    setObjectName(QStringLiteral("FrmKeySet"));
    setWindowTitle(QStringLiteral("ホットキーの設定"));
    setWindowIcon(QApplication::windowIcon());

    // Option 0 stands alone and 1-5 sit in the capture frame; one group over both keeps
    // exactly one chosen.
    m_items = new QButtonGroup(this);
    auto *capture = new QGroupBox(QStringLiteral("ｷｬﾌﾟﾁｬ"), this);
    auto *captureGrid = new QGridLayout(capture);
    auto *menuRow = new QHBoxLayout;
    for (int item = 0; item < HotKeyNames::kCount; ++item) {
        QWidget *owner = item == 0 ? static_cast<QWidget *>(this) : capture;
        m_optCaptItem[size_t(item)] = new QRadioButton(HotKeyNames::Caption(item), owner);
        m_optCaptItem[size_t(item)]->setObjectName(QStringLiteral("OptCaptItem%1").arg(item));
        m_items->addButton(m_optCaptItem[size_t(item)], item);
        m_lblKey[size_t(item)] = keyLabel(item, m_ctx.settings.HotKeys[size_t(item)], owner);
        if (item == 0) {
            menuRow->addWidget(m_optCaptItem[0], 1);
            menuRow->addWidget(m_lblKey[0]);
        } else {
            captureGrid->addWidget(m_optCaptItem[size_t(item)], item - 1, 0);
            captureGrid->addWidget(m_lblKey[size_t(item)], item - 1, 1);
        }
    }
    captureGrid->setColumnStretch(0, 1);
    m_optCaptItem[0]->setChecked(true);

    m_chkCtl = new QCheckBox(QStringLiteral("Ctrl"), this);
    m_chkCtl->setObjectName(QStringLiteral("ChkCtl"));
    m_chkAlt = new QCheckBox(QStringLiteral("Alt"), this);
    m_chkAlt->setObjectName(QStringLiteral("ChkAlt"));
    m_chkShift = new QCheckBox(QStringLiteral("Shift"), this);
    m_chkShift->setObjectName(QStringLiteral("ChkShift"));
    m_cboKey = new QComboBox(this);
    m_cboKey->setObjectName(QStringLiteral("CboKey"));
    for (const HotKeyNames::KeyListEntry &key : HotKeyNames::KeyList())
        m_cboKey->addItem(key.name, key.code);
    m_cboKey->setCurrentIndex(0);
    MatchTypedNames(m_cboKey);
    m_txtHotKey = new QLineEdit(this);
    m_txtHotKey->setObjectName(QStringLiteral("TxtHotKey"));
    m_txtHotKey->setReadOnly(true);
    for (QCheckBox *box : {m_chkCtl, m_chkAlt, m_chkShift})
        connect(box, &QCheckBox::toggled, this, &FrmKeySet::onChoiceChanged);
    connect(m_cboKey, &QComboBox::currentIndexChanged, this, &FrmKeySet::onChoiceChanged);

    auto *keyRow = new QHBoxLayout;
    keyRow->addWidget(m_chkCtl);
    keyRow->addWidget(m_chkAlt);
    keyRow->addWidget(m_chkShift);
    keyRow->addWidget(new QLabel(QStringLiteral("+"), this));
    keyRow->addWidget(m_cboKey, 1);
    auto *previewRow = new QHBoxLayout;
    auto *previewLabel = new QLabel(QStringLiteral("ﾎｯﾄｷｰ："), this);
    previewLabel->setBuddy(m_txtHotKey);
    previewRow->addWidget(previewLabel);
    previewRow->addWidget(m_txtHotKey, 1);

    m_cmdSet = new QPushButton(QStringLiteral("登録"), this);
    m_cmdSet->setObjectName(QStringLiteral("CmdSet"));
    m_cmdReset = new QPushButton(QStringLiteral("解除"), this);
    m_cmdReset->setObjectName(QStringLiteral("CmdReset"));
    m_cmdCls = new QPushButton(QStringLiteral("閉じる"), this);
    m_cmdCls->setObjectName(QStringLiteral("CmdCls"));
    connect(m_cmdSet, &QPushButton::clicked, this, &FrmKeySet::onCmdSetClicked);
    connect(m_cmdReset, &QPushButton::clicked, this, &FrmKeySet::onCmdResetClicked);
    connect(m_cmdCls, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdSet);
    buttons->addWidget(m_cmdReset);
    buttons->addStretch(1);
    buttons->addWidget(m_cmdCls);

    auto *layout = new QVBoxLayout(this);
    // Where no program may take keys from the others, the keys are kept but cannot be set.
    if (!m_hotKeys.isSupported() || HotKeyPlatform::isWaylandSession()) {
        // The command stays on one line, so it can be typed as it reads.
        const QString command = QStringLiteral("zorvin --capture 0");
        QString text = HotKeys::WaylandNotice().toHtmlEscaped();
        text.replace(command, QStringLiteral("<nobr>") + command + QStringLiteral("</nobr>"));
        auto *note = new QLabel(text.replace(u'\r', QStringLiteral("<br>")), this);
        note->setTextFormat(Qt::RichText);
        note->setObjectName(QStringLiteral("LblNote"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    m_cmdSet->setEnabled(m_hotKeys.isSupported());
    m_cmdReset->setEnabled(m_hotKeys.isSupported());
    layout->addLayout(menuRow);
    layout->addWidget(capture);
    layout->addLayout(keyRow);
    layout->addLayout(previewRow);
    layout->addLayout(buttons);
    onChoiceChanged();
    setFixedSize(sizeHint());
}

int FrmKeySet::selectedItem() const
{
    return std::max(0, m_items->checkedId());
}

void FrmKeySet::onChoiceChanged()
{
    m_txtHotKey->setText(HotKeyNames::KeyText(m_chkCtl->isChecked(), m_chkAlt->isChecked(),
                                              m_chkShift->isChecked(), m_cboKey->currentText()));
}

void FrmKeySet::onCmdSetClicked()
{
    const int item = selectedItem();
    const int id = HotKeyNames::kFirstId + item;
    const QString idText = HotKeyNames::IdText(item);
    const QString wanted = m_txtHotKey->text();
    const int mask = (m_chkCtl->isChecked() ? HotKeyNames::kCtrl : 0) |
                     (m_chkAlt->isChecked() ? HotKeyNames::kAlt : 0) |
                     (m_chkShift->isChecked() ? HotKeyNames::kShift : 0);
    clsHotKey &hotKey = m_hotKeys.mclsHotKey();
    hotKey.mDeleteHotKey(idText);
    if (hotKey.mAddHotKey(idText, m_cboKey->currentData().toInt(), mask)) {
        m_lblKey[size_t(item)]->setText(wanted);
        return;
    }
    const QString why = hotKey.lastError();
    QLabel *label = m_lblKey[size_t(item)];
    if (!label->text().isEmpty() && !m_hotKeys.SetHotKeyValue(id, label->text()))
        label->clear();
    // Said after the old key is back: the box runs its own loop, and a hotkey pressed
    // meanwhile finds the keys as the label shows them.
    TellTerminal(QStringLiteral("hotkey %1 (%2): %3").arg(wanted, idText, why));
    ::ShowMessageBox(QStringLiteral("「%1」のﾎｯﾄｷｰの登録に失敗しました。\r"
                                    "既に他のｱｯﾌﾟﾘｹｰｼｮﾝによって設定されている可能性があります。\r"
                                    "他のｷｰを設定して下さい。")
                         .arg(wanted),
                     MsgBox::Exclamation, this);
}

void FrmKeySet::onCmdResetClicked()
{
    const int item = selectedItem();
    if (m_hotKeys.mclsHotKey().mDeleteHotKey(HotKeyNames::IdText(item)))
        m_lblKey[size_t(item)]->clear();
}

void FrmKeySet::closeEvent(QCloseEvent *event)
{
    for (int item = 0; item < HotKeyNames::kCount; ++item)
        m_ctx.settings.HotKeys[size_t(item)] = m_lblKey[size_t(item)]->text();
    // The keys stay registered for this run either way; the user learns that the next start
    // will not have them.
    const QString failed = m_hotKeys.SaveKeys();
    if (!failed.isEmpty())
        ShowMessageBox(SettingsNotSavedText(m_ctx.SettingsPath(), failed), MsgBox::Exclamation, this);
    QWidget::closeEvent(event);
}

void FrmKeySet::keyPressEvent(QKeyEvent *event)
{
    if (!DialogKey(
            event, m_cmdCls, [this] { onCmdSetClicked(); }, [this] { close(); }))
        QWidget::keyPressEvent(event);
}
