#include "options/FrmOpt.h"

#include "base/ModZorvin.h"
#include "base/SettingsFile.h"
#include "base/SettingsLoader.h"
#include "base/SettingsTable.h"
#include "net/EngineHost.h"
#include "options/OptionControls.h"
#include "ui/ModZorvinUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kUnset = UnsetName();

} // namespace

FrmOpt::FrmOpt(ModZorvin &ctx, QWidget *parent) : QDialog(parent), m_ctx(ctx)
{
    setObjectName(QStringLiteral("FrmOpt"));
    setWindowTitle(QStringLiteral("名前の設定"));
    setWindowIcon(QApplication::windowIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);

    const QString product = QString::fromUtf8(kProductName);
    m_lblMsg = new QLabel(product + QStringLiteral("で扱う利用者のｸﾞﾙｰﾌﾟ名\n") +
                              QStringLiteral("及び名前（ﾕｰｻﾞｰ名）を設定します。\n") +
                              QStringLiteral("２４文字以内で入力してください｡"),
                          this);
    m_lblMsg->setObjectName(QStringLiteral("LblMsg"));

    auto *frame = new QGroupBox(QStringLiteral("個人情報"), this);
    m_txtGrp = new QLineEdit(frame);
    m_txtGrp->setObjectName(QStringLiteral("TxtGrp"));
    m_txtGrp->setMaxLength(SettingRowOf(QLatin1StringView("Grp")).entryLimit);
    m_txtName = new QLineEdit(frame);
    m_txtName->setObjectName(QStringLiteral("TxtName"));
    m_txtName->setMaxLength(SettingRowOf(QLatin1StringView("Name")).entryLimit);
    auto *fields = new QGridLayout(frame);
    auto *lblGrp = new QLabel(QStringLiteral("ｸﾞﾙｰﾌﾟ名"), frame);
    lblGrp->setBuddy(m_txtGrp);
    auto *lblName = new QLabel(QStringLiteral("名前"), frame);
    lblName->setBuddy(m_txtName);
    fields->addWidget(lblGrp, 0, 0);
    fields->addWidget(m_txtGrp, 0, 1);
    fields->addWidget(lblName, 1, 0);
    fields->addWidget(m_txtName, 1, 1);
    m_txtName->setMinimumWidth(m_txtName->fontMetrics().horizontalAdvance(QString(16, QChar(0x5168))));

    m_chkNOpMsg = new QCheckBox(QStringLiteral("今後、このﾒｯｾｰｼﾞを表示しない。"), this);
    m_chkNOpMsg->setObjectName(QStringLiteral("ChkNOpMsg"));

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("CmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdCan = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    m_cmdCan->setObjectName(QStringLiteral("CmdCan"));
    connect(m_cmdOK, &QPushButton::clicked, this, &FrmOpt::onCmdOKClicked);
    connect(m_cmdCan, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_chkNOpMsg);
    buttons->addStretch(1);
    buttons->addWidget(m_cmdOK);
    buttons->addWidget(m_cmdCan);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblMsg);
    layout->addWidget(frame);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    if (m_ctx.settings.Name != kUnset)
        m_txtName->setText(m_ctx.settings.Name);
    m_txtGrp->setText(m_ctx.settings.Grp);
}

void FrmOpt::onCmdOKClicked()
{
    const QString name = TrimSettingBlanks(m_txtName->text());
    const QString group = TrimSettingBlanks(m_txtGrp->text());
    // The file is in code page 932: a character outside it would come back as "?".
    if (!IsStorableSettingText(name) || !IsStorableSettingText(group)) {
        ::ShowMessageBox(QStringLiteral("個人情報:使用できない文字が含まれています。"), MsgBox::Exclamation,
                         this);
        return;
    }
    const SettingsFile file(m_ctx.SettingsPath());
    QString failed;
    const auto write = [&](const Settings &s, const char *key) {
        QString error;
        if (!WriteSettingKey(file, s, QLatin1StringView(key), &error) && failed.isEmpty())
            failed = QLatin1String(key) + QStringLiteral(": ") + error;
    };
    if (!name.isEmpty())
        m_ctx.settings.Name = name;
    write(m_ctx.settings, "Name");
    if (!group.isEmpty())
        m_ctx.settings.Grp = group;
    write(m_ctx.settings, "Grp");
    // Only the file learns it: this run has asked already.
    if (m_chkNOpMsg->isChecked()) {
        Settings asked = m_ctx.settings;
        asked.OpMsgDone = 1;
        write(asked, "ZorvinOpMsg");
    }
    // This run goes on with the name and group; the user learns that the next start will ask
    // again.
    if (!failed.isEmpty())
        ::ShowMessageBox(SettingsNotSavedText(m_ctx.SettingsPath(), failed), MsgBox::Exclamation, this);
    accept();
}

FrmOpt *FirstRunPrompt(ModZorvin &ctx, EngineHost &host, QObject *context, std::function<void()> then)
{
    const Settings &s = ctx.settings;
    if (s.OpMsgDone != 0 || (s.Name != kUnset && !s.Grp.isEmpty())) {
        then();
        return nullptr;
    }
    const QString product = QString::fromUtf8(kProductName);
    const QString text =
        product + QStringLiteral("をご利用いただきありがとうございます。\r\r") + product +
        QStringLiteral("で扱う利用者のグループ名及び名前を設定して下さい。\r") +
        QStringLiteral("「ｷｬﾝｾﾙ」した場合、ｱﾄﾞﾚｽ帳に表示される利用者名は「") + kUnset +
        QStringLiteral("」となりますので、\r") + product +
        QStringLiteral("起動後「ｵﾌﾟｼｮﾝ」－「動作環境の設定」－「個人情報」で設定して下さい。\r\r") +
        QStringLiteral("今、設定しますか？");
    if (host.ShowMessageBox(text, MsgBox::Question | MsgBox::OkCancel) != MsgBox::IdOk) {
        then();
        return nullptr;
    }
    auto *dialog = new FrmOpt(ctx);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(
        dialog, &QDialog::finished, context, [then = std::move(then)] { then(); }, Qt::SingleShotConnection);
    dialog->show();
    return dialog;
}
