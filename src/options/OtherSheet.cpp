#include "options/OtherSheet.h"

#include "base/ModZorvin.h"
#include "base/SettingsTable.h"
#include "net/EngineHost.h"
#include "options/AutostartEntry.h"
#include "options/OptionControls.h"
#include "password/FrmSetPW.h"
#include "password/PasswordBox.h"
#include "password/PasswordWindows.h"
#include "ui/ModZorvinUi.h"
#include "ui/WindowRegistry.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {
const char *const kDoubleClickActions[] = {"なし",
                                           "ﾒｲﾝｳｨﾝﾄﾞｳ(ｷｬﾌﾟﾁｬ画面)を開く",
                                           "ﾒｯｾｰｼﾞ送信ｳｨﾝﾄﾞｳを開く",
                                           "ｵﾌﾟｼｮﾝ設定ｳｨﾝﾄﾞｳを開く",
                                           "ﾎｰｯﾄｷｰ設定ｳｨﾝﾄﾞｳを開く",
                                           "ｱﾄﾞﾚｽ帳を開く",
                                           "ぞるびんを終了する"};
} // namespace

OtherSheet::OtherSheet(ModZorvin &ctx, WindowRegistry &windows) : OptionsSheet(ctx, 7), m_windows(windows)
{
    QVBoxLayout *layout = pageLayout(this);

    auto *edit = makeFrame(this, "画像編集ｱﾌﾟﾘｹｰｼｮﾝ");
    auto *editGrid = new QGridLayout(edit);
    TxtPicEditPath = makeBox(edit, "TxtPicEditPath");
    auto *appSet = makeButton(edit, "CmdAppSet", "参照");
    static const char *const handOver[] = {"ﾌｧｲﾙ経由", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ経由"};
    OptPicEditInf =
        makeOptionFrame(edit, "画像の渡し方", "OptPicEditInf", handOver, 2, 2, &m_picEditInfFrame);
    editGrid->addWidget(TxtPicEditPath, 0, 0);
    editGrid->addWidget(appSet, 0, 1);
    editGrid->addWidget(m_picEditInfFrame, 1, 0, 1, 2);
    editGrid->setColumnStretch(0, 1);
    connect(TxtPicEditPath, &QLineEdit::textChanged, this, &OtherSheet::onPicEditPathChanged);
    connect(appSet, &QPushButton::clicked, this, [this] {
        browseProgram(window(), TxtPicEditPath, QStringLiteral("画像編集のアプリケーション"));
    });
    layout->addWidget(edit);

    auto *tray = new QHBoxLayout;
    CboMouseClick = new QComboBox(this);
    CboMouseClick->setObjectName(QStringLiteral("CboMouseClick"));
    auto *clickLabel = makeLabel(this, "ﾀｽｸﾄﾚｲのｱｲｺﾝをﾀﾞﾌﾞﾙｸﾘｯｸした時：", CboMouseClick);
    clickLabel->setObjectName(QStringLiteral("LblMouseClick"));
    tray->addWidget(clickLabel);
    tray->addWidget(CboMouseClick, 1);
    layout->addLayout(tray);

    ChkRecvInfMin = makeCheck(this, "ChkRecvInfMin", "受信情報ｳｨﾝﾄﾞｳを最小化して表示する。");
    ChkSendInfMin = makeCheck(this, "ChkSendInfMin", "送信情報ｳｨﾝﾄﾞｳを最小化して表示する。");
    ChkStartAtLogon = makeCheck(this, "ChkStartAtLogon", "ログオン時に起動する");
    layout->addWidget(ChkRecvInfMin);
    layout->addWidget(ChkSendInfMin);
    ChkSndSealedOnly = makeCheck(this, "ChkSndSealedOnly", "暗号化できない相手には送信しない。");
    layout->addWidget(ChkStartAtLogon);
    layout->addWidget(ChkSndSealedOnly);

    auto *jpeg = makeFrame(this, "JPEG圧縮率");
    auto *jpegRow = new QHBoxLayout(jpeg);
    TxtJpegComp = makeNumberBox(jpeg, "TxtJpegComp", entryLimitOf("JpegComp"));
    SldJpegComp = new QSlider(Qt::Horizontal, jpeg);
    SldJpegComp->setObjectName(QStringLiteral("SldJpegComp"));
    SldJpegComp->setRange(1, 99);
    ChkProgJpeg = makeCheck(jpeg, "ChkProgJpeg", "ﾌﾟﾛｸﾞﾚｯｼﾌﾞJPEG");
    jpegRow->addWidget(makeLabel(jpeg, "高画質"));
    jpegRow->addWidget(SldJpegComp, 1);
    jpegRow->addWidget(makeLabel(jpeg, "高圧縮"));
    jpegRow->addWidget(TxtJpegComp);
    jpegRow->addWidget(ChkProgJpeg);
    connect(SldJpegComp, &QSlider::valueChanged, this,
            [this](int value) { TxtJpegComp->setText(QString::number(value)); });
    connect(TxtJpegComp, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (const auto value = ParseSettingNumber<int>(text); value && *value >= 1 && *value <= 99) {
            const QSignalBlocker quiet(SldJpegComp);
            SldJpegComp->setValue(*value);
        }
    });
    layout->addWidget(jpeg);

    auto *password = makeFrame(this, "ﾊﾟｽﾜｰﾄﾞ");
    auto *pwRow = new QHBoxLayout(password);
    TxtPW = makePasswordBox(QStringLiteral("TxtPW"), password);
    TxtPW->setReadOnly(true);
    auto *setPW = makeButton(password, "CmdSetPW", "設定");
    pwRow->addWidget(makeLabel(password, "ﾊﾟｽﾜｰﾄﾞ：", TxtPW));
    pwRow->addWidget(TxtPW, 1);
    pwRow->addWidget(setPW);
    connect(setPW, &QPushButton::clicked, this, &OtherSheet::onCmdSetPWClicked);
    layout->addWidget(password);

    m_bindings.text("PicEditApp", TxtPicEditPath);
    m_bindings.choice("PicEditAppInf", OptPicEditInf);
    m_bindings.number("JpegComp", TxtJpegComp);
    m_bindings.flag("ProgJpeg", ChkProgJpeg);
    m_bindings.choice("LDblClick", CboMouseClick);
    m_bindings.flag("RecvInfMin", ChkRecvInfMin);
    m_bindings.flag("SendInfMin", ChkSendInfMin);
    m_bindings.flag("StartAtLogon", ChkStartAtLogon);
    m_bindings.flag("SndSealedOnly", ChkSndSealedOnly);
}

void OtherSheet::load()
{
    for (const char *action : kDoubleClickActions)
        CboMouseClick->addItem(u8(action));
    OptionsSheet::load();
    const Settings &s = m_ctx.settings;
    if (s.JpegComp >= 1 && s.JpegComp <= 99) {
        const QSignalBlocker quiet(SldJpegComp);
        SldJpegComp->setValue(s.JpegComp);
    }
    TxtPW->setText(s.Password);
}

void OtherSheet::runEnablingRules()
{
    onPicEditPathChanged();
}

bool OtherSheet::save(SheetSave &save)
{
    if (!save.checkTexts(QStringLiteral("その他"), {TxtPicEditPath}))
        return false;
    save.rest();
    // The setting stays saved when the entry cannot be written: the next start tries again.
    if (QString error;
        !AutostartEntry::apply(save.settings().StartAtLogon == 1, QCoreApplication::applicationFilePath(),
                               m_loginArguments, &error))
        ::ShowMessageBox(QStringLiteral("ログオン時に起動する設定を書き込めませんでした。\r") + error,
                         MsgBox::Exclamation, window());
    return true;
}

void OtherSheet::onPicEditPathChanged()
{
    const bool given = !TxtPicEditPath->text().isEmpty();
    m_picEditInfFrame->setEnabled(given);
    for (QAbstractButton *option : OptPicEditInf->buttons())
        option->setEnabled(given);
}

void OtherSheet::onCmdSetPWClicked()
{
    if (auto *dialog = qobject_cast<FrmSetPW *>(m_windows.open(WindowKind::SetPW)))
        connect(dialog, &FrmSetPW::passwordChanged, this, &OtherSheet::onSetPWPasswordChanged,
                Qt::UniqueConnection);
}

void OtherSheet::onSetPWPasswordChanged()
{
    TxtPW->setText(m_ctx.settings.Password);
}
