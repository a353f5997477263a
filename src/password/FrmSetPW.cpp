#include "password/FrmSetPW.h"

#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "password/PasswordBox.h"
#include "password/PasswordFile.h"
#include "ui/DialogKeys.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

FrmSetPW::FrmSetPW(ModZorvin &ctx, QWidget *parent) : QWidget(parent, Qt::Dialog), m_ctx(ctx)
{
    setObjectName(QStringLiteral("FrmSetPW"));
    setWindowTitle(QStringLiteral("ﾊﾟｽﾜｰﾄﾞの変更"));
    setWindowIcon(QApplication::windowIcon());
    setWindowModality(Qt::ApplicationModal);

    static const char *const labels[] = {"旧ﾊﾟｽﾜｰﾄﾞ：", "新ﾊﾟｽﾜｰﾄﾞ：", "再入力："};
    auto *fields = new QGridLayout;
    for (int i = 0; i < 3; ++i) {
        m_txtPW[i] = makePasswordBox(QStringLiteral("TxtPW%1").arg(i), this);
        auto *label = new QLabel(QString::fromUtf8(labels[i]), this);
        label->setBuddy(m_txtPW[i]);
        fields->addWidget(label, i, 0);
        fields->addWidget(m_txtPW[i], i, 1);
    }
    fields->setColumnStretch(1, 1);
    // Without a password the old box stays empty, which is what it is compared with.
    if (m_ctx.settings.Password.isEmpty())
        m_txtPW[0]->setEnabled(false);

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("CmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdCan = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    m_cmdCan->setObjectName(QStringLiteral("CmdCan"));
    connect(m_cmdOK, &QPushButton::clicked, this, &FrmSetPW::onCmdOKClicked);
    connect(m_cmdCan, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCan);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    setMinimumWidth(300);
    setFixedHeight(sizeHint().height());
}

void FrmSetPW::keyPressEvent(QKeyEvent *event)
{
    if (!DialogKey(
            event, m_cmdCan, [this] { onCmdOKClicked(); }, [this] { close(); }))
        QWidget::keyPressEvent(event);
}

void FrmSetPW::onCmdOKClicked()
{
    const QString newPassword = m_txtPW[1]->text();
    QString problem;
    if (m_txtPW[0]->text() != m_ctx.settings.Password)
        problem = QStringLiteral("旧ﾊﾟｽﾜｰﾄﾞが違います。");
    else if (newPassword != m_txtPW[2]->text())
        problem = QStringLiteral("新ﾊﾟｽﾜｰﾄﾞが一致しません。");
    // Other copies read the file in code page 932; a character it lacks would come back
    // as "?" and the password would never match again.
    else if (!PasswordFile::storable(newPassword))
        problem = QStringLiteral("新ﾊﾟｽﾜｰﾄﾞに使用できない文字が含まれています。");
    if (!problem.isEmpty()) {
        ::ShowMessageBox(problem, MsgBox::Exclamation, this);
        return;
    }
    m_ctx.settings.Password = newPassword;
    // A file that cannot be written is not reported; the password holds until the quit.
    PasswordFile::save(m_ctx.PasswordPath(), newPassword);
    emit passwordChanged();
    close();
}
