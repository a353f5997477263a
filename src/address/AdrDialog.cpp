#include "address/AdrDialog.h"

#include "net/AddressBookFile.h"
#include "net/AddressEntry.h"
#include "address/AddressWindows.h"
#include "address/FrmAdrEdit.h"
#include "address/IpAddressText.h"
#include "net/EngineHost.h"
#include "ui/ModZorvinUi.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"
#include "base/Protocol.h"
#include "ui/DialogKeys.h"
#include "ui/Twips.h"
#include "ui/WindowKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

AdrDialog::AdrDialog(NetEngine &engine, WindowRegistry &windows, const QString &caption, QPoint offsetTwips,
                     QWidget *parent)
    : QWidget(parent, Qt::Dialog), m_engine(engine), m_windows(windows), m_offsetTwips(offsetTwips)
{
    setWindowTitle(caption);
    setWindowIcon(QApplication::windowIcon());

    m_lblName = new QLabel(QStringLiteral("名前："), this);
    m_lblName->setObjectName(QStringLiteral("LblName"));
    m_txtName = new QLineEdit(this);
    m_txtName->setObjectName(QStringLiteral("TxtName"));
    m_txtName->setMaxLength(kEntryNameChars);
    m_lblUrl = new QLabel(QStringLiteral("IPｱﾄﾞﾚｽ："), this);
    m_lblUrl->setObjectName(QStringLiteral("LblURL"));
    m_txtAdr = new QLineEdit(this);
    m_txtAdr->setObjectName(QStringLiteral("TxtAdr"));
    m_txtAdr->installEventFilter(this);
    m_chkOki = new QCheckBox(QStringLiteral("お気に入りに設定"), this);
    m_chkOki->setObjectName(QStringLiteral("ChkOki"));
    m_chkAuto = new QCheckBox(QStringLiteral("自動画像転送先として設定"), this);
    m_chkAuto->setObjectName(QStringLiteral("ChkAuto"));
    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("CmdOK"));
    m_cmdCan = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    m_cmdCan->setObjectName(QStringLiteral("CmdCan"));
    connect(m_cmdOK, &QPushButton::clicked, this, [this] { onCmdOKClicked(); });
    connect(m_cmdCan, &QPushButton::clicked, this, &AdrDialog::onCmdCanClicked);

    auto *fields = new QGridLayout;
    fields->addWidget(m_lblName, 0, 0);
    fields->addWidget(m_txtName, 0, 1);
    fields->addWidget(m_lblUrl, 1, 0);
    fields->addWidget(m_txtAdr, 1, 1);
    fields->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCan);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(m_chkOki);
    layout->addWidget(m_chkAuto);
    layout->addStretch(1);
    layout->addLayout(buttons);
    resize(twipsToPixels(5400), sizeHint().height());
}

void AdrDialog::placeBeside(const QWidget *addressBook)
{
    if (addressBook)
        move(addressBook->pos() + QPoint(twipsToPixels(m_offsetTwips.x()), twipsToPixels(m_offsetTwips.y())));
}

bool AdrDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_txtAdr && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Typed characters only: moving, deleting, leaving the field and the control chords
        // (Ctrl+A selects all, Ctrl+V pastes) stay as they are.
        const bool typed =
            !key->text().isEmpty() && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
            key->key() != Qt::Key_Delete && key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab &&
            key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter && key->key() != Qt::Key_Escape;
        if (typed && !IsAddressFieldChar(key->text().front())) {
            QApplication::beep();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AdrDialog::keyPressEvent(QKeyEvent *event)
{
    if (!DialogKey(
            event, m_cmdCan, [this] { onCmdOKClicked(); }, [this] { onCmdCanClicked(); }))
        QWidget::keyPressEvent(event);
}

void AdrDialog::onCmdCanClicked()
{
    focusAddressBook();
    close();
}

bool AdrDialog::addressAccepted()
{
    const QString address = m_txtAdr->text();
    if (address.isEmpty()) {
        ::ShowMessageBox(QStringLiteral("IPｱﾄﾞﾚｽを入力してください。"), MsgBox::Exclamation, this);
    } else if (!IsValidIpAddress(address)) {
        ::ShowMessageBox(QStringLiteral("IPｱﾄﾞﾚｽの形式が不正です。"), MsgBox::Exclamation, this);
    } else {
        return true;
    }
    SelectRefusedValue(m_txtAdr);
    return false;
}

QString AdrDialog::typedName() const
{
    return AddressBookFile::cleanField(m_txtName->text()).left(kEntryNameChars);
}

FrmAdrEdit *AdrDialog::addressBook() const
{
    return m_windows.find<FrmAdrEdit>(WindowKind::AdrEdit);
}

void AdrDialog::announceTo(const QString &address)
{
    m_engine.BCastMsgSend(Protocol::kAnnounce, address);
}

void AdrDialog::focusAddressBook()
{
    if (FrmAdrEdit *window = addressBook())
        window->activateWindow();
}
