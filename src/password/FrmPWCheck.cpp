#include "password/FrmPWCheck.h"

#include "base/ModZorvin.h"
#include "password/PasswordBox.h"
#include "ui/DialogKeys.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>

FrmPWCheck::FrmPWCheck(ModZorvin &ctx, QWidget *parent) : QWidget(parent, Qt::Dialog), m_ctx(ctx)
{
    setObjectName(QStringLiteral("FrmPWCheck"));
    setWindowTitle(QStringLiteral("パスワードチェック"));
    setWindowIcon(QApplication::windowIcon());
    setWindowModality(Qt::ApplicationModal);

    m_txtPW = makePasswordBox(QStringLiteral("TxtPW"), this);
    m_cmdPWCheck = new QPushButton(QStringLiteral("OK"), this);
    m_cmdPWCheck->setObjectName(QStringLiteral("CmdPWCheck"));
    m_cmdPWCheck->setDefault(true);
    connect(m_cmdPWCheck, &QPushButton::clicked, this, &FrmPWCheck::onCmdPWCheckClicked);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_txtPW, 1);
    layout->addWidget(m_cmdPWCheck);
    setMinimumWidth(260);
    setFixedHeight(sizeHint().height());
}

void FrmPWCheck::Ask()
{
    m_txtPW->clear();
    m_asking = true;
    show();
    raise();
    activateWindow();
    m_txtPW->setFocus();
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
            event, nullptr, [this] { onCmdPWCheckClicked(); }, [this] { close(); }))
        QWidget::keyPressEvent(event);
}
