#include "password/FrmPWCheck.h"

#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "password/PasswordBox.h"
#include "ui/DialogKeys.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kLockedOpen = QStringLiteral("開く（パスワードロック）");

} // namespace

FrmPWCheck::FrmPWCheck(ModZorvin &ctx, std::shared_ptr<bool> noteShown, QWidget *parent)
    : QWidget(parent, Qt::Dialog), m_ctx(ctx), m_noteShown(std::move(noteShown))
{
    setObjectName(QStringLiteral("FrmPWCheck"));
    setWindowTitle(QStringLiteral("パスワードチェック"));
    setWindowIcon(QApplication::windowIcon());
    setWindowModality(Qt::ApplicationModal);

    // Which password: the sender never knows it, it is the one set in this copy.
    m_lblPrompt = new QLabel(QStringLiteral("この") + QString::fromUtf8(kProductName) +
                                 QStringLiteral("の「動作環境の設定」－「その他」で\n"
                                                "設定したパスワードを入力してください。"),
                             this);
    m_lblPrompt->setObjectName(QStringLiteral("LblPrompt"));
    m_txtPW = makePasswordBox(QStringLiteral("TxtPW"), this);
    m_lblPrompt->setBuddy(m_txtPW);
    m_cmdPWCheck = new QPushButton(QStringLiteral("OK"), this);
    m_cmdPWCheck->setObjectName(QStringLiteral("CmdPWCheck"));
    m_cmdPWCheck->setDefault(true);
    connect(m_cmdPWCheck, &QPushButton::clicked, this, &FrmPWCheck::onCmdPWCheckClicked);
    m_cmdCancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    m_cmdCancel->setObjectName(QStringLiteral("CmdCancel"));
    connect(m_cmdCancel, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdPWCheck);
    buttons->addWidget(m_cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblPrompt);
    layout->addWidget(m_txtPW);
    layout->addLayout(buttons);
    // Wide enough for the whole title beside the frame's buttons, whatever the label needs.
    const int titleWidth = fontMetrics().horizontalAdvance(windowTitle()) * 3 / 2 + 140;
    setMinimumWidth(std::max(sizeHint().width(), titleWidth));
    setFixedHeight(sizeHint().height());
}

QString FrmPWCheck::LockedOpenCaption(const ModZorvin &ctx)
{
    return ctx.settings.Password.isEmpty() ? QStringLiteral("開く（パスワードロック・パスワード未設定）") : kLockedOpen;
}

void FrmPWCheck::Ask()
{
    if (m_ctx.settings.Password.isEmpty()) {
        // An empty entry would match the empty password: a prompt would only pretend to
        // protect the item.
        m_asking = true;
        answer(true);
        showNoPasswordNote();
        return;
    }
    m_txtPW->clear();
    m_asking = true;
    show();
    raise();
    activateWindow();
    m_txtPW->setFocus();
}

void FrmPWCheck::showNoPasswordNote()
{
    if (*m_noteShown)
        return;
    *m_noteShown = true;
    // A note, not a question: it waits on screen while the item is already open.
    auto *box = new QMessageBox(QMessageBox::Information, MessageBoxTitle(),
                                QStringLiteral("この") + QString::fromUtf8(kProductName) +
                                    QStringLiteral("にはパスワードが設定されていないため、\n"
                                                   "パスワードロックされた画像やメッセージはパスワードなしで開きます。\n\n"
                                                   "「ｵﾌﾟｼｮﾝ」－「動作環境の設定」－「その他」の「設定」で\n"
                                                   "パスワードを設定してください。"),
                                QMessageBox::Ok);
    box->setObjectName(QStringLiteral("NoPasswordNote"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

bool FrmPWCheck::Matches(const ModZorvin &ctx)
{
    return ctx.LastPwEntry == ctx.settings.Password;
}

void FrmPWCheck::onCmdPWCheckClicked()
{
    m_ctx.LastPwEntry = m_txtPW->text();
    answer(Matches(m_ctx));
}

void FrmPWCheck::answer(bool passed)
{
    if (!m_asking)
        return;
    m_asking = false;
    emit checked(passed);
    if (isVisible())
        close();
}

void FrmPWCheck::closeEvent(QCloseEvent *event)
{
    answer(false);
    QWidget::closeEvent(event);
}

void FrmPWCheck::keyPressEvent(QKeyEvent *event)
{
    if (!DialogKey(
            event, m_cmdCancel, [this] { onCmdPWCheckClicked(); }, [this] { close(); }))
        QWidget::keyPressEvent(event);
}
