#include "options/MessageSheet.h"

#include "base/ModZorvin.h"
#include "base/SettingsTable.h"
#include "options/OptionControls.h"
#include "ui/JapaneseFont.h"
#include "ui/cCommonDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

MessageSheet::MessageSheet(ModZorvin &ctx, QCheckBox *recvPicMin) : OptionsSheet(ctx, 4)
{
    QVBoxLayout *layout = pageLayout(this);

    auto *send = makeFrame(this, "ﾒｯｾｰｼﾞ送信");
    auto *sendGrid = new QGridLayout(send);
    QGroupBox *levelFrame = nullptr;
    static const char *const levels[] = {"表示する", "表示しない"};
    OptSCMMsgLevel = makeOptionFrame(send, "送信後の通知", "OptSCMMsgLevel", levels, 2, 2, &levelFrame);
    ChkSMHide = makeCheck(send, "ChkSMHide", "ﾒｯｾｰｼﾞを伏せて送信する。");
    ChkSMLock = makeCheck(send, "ChkSMLock", "ﾊﾟｽﾜｰﾄﾞでﾛｯｸする。");
    ChkMsgOpen = makeCheck(send, "ChkMsgOpen", "開封確認を要求する。");
    ChkSendMsgClose = makeCheck(send, "ChkSendMsgClose", "送信後、送信ｳｨﾝﾄﾞｳを閉じる。");
    ChkSendMsgRClose = makeCheck(send, "ChkSendMsgRClose", "返信後、受信ｳｨﾝﾄﾞｳを閉じる。");
    ChkSendMsgRClose1 = makeCheck(send, "ChkSendMsgRClose1", "転送後、受信ｳｨﾝﾄﾞｳを閉じる。");
    ChkRR = makeCheck(send, "ChkRR", "送達確認を行う。");
    TxtRRTim = makeNumberBox(send, "TxtRRTim", entryLimitOf("SndMsgRRTim"));
    m_rrTimLabel = makeLabel(send, "秒", TxtRRTim);
    auto *rrRow = new QHBoxLayout;
    rrRow->addWidget(ChkRR);
    rrRow->addWidget(TxtRRTim);
    rrRow->addWidget(m_rrTimLabel);
    rrRow->addStretch(1);
    sendGrid->addWidget(levelFrame, 0, 0, 2, 1);
    sendGrid->addWidget(ChkSMHide, 0, 1);
    sendGrid->addWidget(ChkSMLock, 1, 1);
    sendGrid->addWidget(ChkMsgOpen, 2, 1);
    sendGrid->addWidget(ChkSendMsgClose, 2, 0);
    sendGrid->addWidget(ChkSendMsgRClose, 3, 0);
    sendGrid->addWidget(ChkSendMsgRClose1, 4, 0);
    sendGrid->addLayout(rrRow, 3, 1);
    connect(ChkSMHide, &QCheckBox::toggled, this, &MessageSheet::onHideToggled);
    connect(ChkRR, &QCheckBox::toggled, this, &MessageSheet::onRRToggled);
    layout->addWidget(send);

    ChkRecvMsgMin = makeCheck(this, "ChkRecvMsgMin", "受信ﾒｯｾｰｼﾞを最小化して表示する。");
    layout->addWidget(ChkRecvMsgMin);
    layout->addWidget(
        m_msgSound.build(this, QStringLiteral("Msg"), QStringLiteral("メッセージ受信時のサウンド")));

    auto *font = makeFrame(this, "ﾒｯｾｰｼﾞのﾌｫﾝﾄ");
    auto *fontRows = new QVBoxLayout(font);
    auto *fontRow = new QHBoxLayout;
    fontRows->addLayout(fontRow);
    TxtMsgFontName = makeBox(font, "TxtMsgFontName");
    TxtMsgFontName->setReadOnly(true);
    TxtMsgFontSize = makeBox(font, "TxtMsgFontSize");
    TxtMsgFontSize->setReadOnly(true);
    TxtMsgFontSize->setAlignment(Qt::AlignRight);
    TxtMsgFontSize->setFixedWidth(TxtMsgFontSize->fontMetrics().horizontalAdvance(QStringLiteral("0000")) +
                                  12);
    CmdMsgFontSet = makeButton(font, "CmdMsgFontSet", "設定");
    fontRow->addWidget(makeLabel(font, "ﾌｫﾝﾄ名：", TxtMsgFontName));
    fontRow->addWidget(TxtMsgFontName, 1);
    fontRow->addWidget(makeLabel(font, "ｻｲｽﾞ：", TxtMsgFontSize));
    fontRow->addWidget(TxtMsgFontSize);
    fontRow->addWidget(CmdMsgFontSet);
    connect(CmdMsgFontSet, &QPushButton::clicked, this, &MessageSheet::onCmdMsgFontSetClicked);
    // The stored name stays as other copies wrote it; the box shows it in the font the
    // messages really get here, and says which one that is when it is another.
    LblMsgFontShown = new QLabel(font);
    LblMsgFontShown->setObjectName(QStringLiteral("LblMsgFontShown"));
    fontRows->addWidget(LblMsgFontShown);
    connect(TxtMsgFontName, &QLineEdit::textChanged, this, [this](const QString &name) {
        const QString family = JapaneseFont::shownFamily(name);
        QFont shown = TxtMsgFontName->font();
        shown.setFamilies({family});
        TxtMsgFontName->setFont(shown);
        LblMsgFontShown->setText(family.compare(name, Qt::CaseInsensitive) == 0 || name.isEmpty()
                                     ? QString()
                                     : QStringLiteral("このｺﾝﾋﾟｭｰﾀｰでは「%1」で表示されます。").arg(family));
    });
    layout->addWidget(font);

    m_bindings.choice("SndCmpMsgLevel", OptSCMMsgLevel);
    m_bindings.flag("SndCmpMsgHide", ChkSMHide);
    m_bindings.flag("SndCmpMsgLock", ChkSMLock);
    m_bindings.flag("SndMsgOPChk", ChkMsgOpen);
    m_bindings.flag("RecvPicMin", recvPicMin);
    m_bindings.flag("RecvMsgMin", ChkRecvMsgMin);
    m_bindings.flag("SndMsgWinCls", ChkSendMsgClose);
    m_bindings.flag("SndMsgRWinCls", ChkSendMsgRClose);
    m_bindings.flag("SndMsgRWinCls1", ChkSendMsgRClose1);
    m_bindings.flag("SndMsgRRChk", ChkRR);
    m_bindings.number("SndMsgRRTim", TxtRRTim);
    m_bindings.choice("RecvMsgSound", m_msgSound.options);
    m_bindings.text("RecvMsgSoundPlace", m_msgSound.path);
}

void MessageSheet::load()
{
    OptionsSheet::load();
    const Settings &s = m_ctx.settings;
    TxtMsgFontName->setText(s.MsgFontName);
    TxtMsgFontSize->setText(QString::number(s.MsgFontSize));
    QFont nameFont = TxtMsgFontName->font();
    nameFont.setBold(s.MsgFontBold != 0);
    nameFont.setItalic(s.MsgFontItalic != 0);
    TxtMsgFontName->setFont(nameFont);
}

void MessageSheet::runEnablingRules()
{
    onHideToggled();
    onRRToggled();
    m_msgSound.update();
}

bool MessageSheet::save(SheetSave &save)
{
    if (!save.checkTexts(QStringLiteral("ﾒｯｾｰｼﾞ"), {m_msgSound.path, TxtMsgFontName}))
        return false;
    save.through("SndMsgRRChk");
    if (TxtRRTim->text().isEmpty())
        TxtRRTim->setText(QStringLiteral("0"));
    save.rest();
    if (saveFont(save))
        emit messageFontChanged();
    return true;
}

bool MessageSheet::saveFont(SheetSave &save)
{
    // 1 and 255 both mean bold: only a change of the state counts.
    Settings &s = save.settings();
    bool changed = false;
    const QString fontName = textOf(TxtMsgFontName);
    if (!fontName.isEmpty() && fontName != s.MsgFontName) {
        s.MsgFontName = fontName;
        save.write("MsgFontName");
        changed = true;
    }
    const int16_t fontSize = ParseSettingNumber<int16_t>(TxtMsgFontSize->text()).value_or(s.MsgFontSize);
    if (fontSize != s.MsgFontSize) {
        s.MsgFontSize = fontSize;
        save.write("MsgFontSize");
        changed = true;
    }
    const bool bold = TxtMsgFontName->font().bold();
    if (bold != (s.MsgFontBold != 0)) {
        s.MsgFontBold = bold ? 255 : 0;
        save.write("MsgFontBold");
        changed = true;
    }
    const bool italic = TxtMsgFontName->font().italic();
    if (italic != (s.MsgFontItalic != 0)) {
        s.MsgFontItalic = italic ? 255 : 0;
        save.write("MsgFontItalic");
        changed = true;
    }
    return changed;
}

void MessageSheet::onHideToggled()
{
    ChkSMLock->setEnabled(ChkSMHide->isChecked());
    ChkMsgOpen->setEnabled(ChkSMHide->isChecked());
}

void MessageSheet::onRRToggled()
{
    TxtRRTim->setEnabled(ChkRR->isChecked());
    m_rrTimLabel->setEnabled(ChkRR->isChecked());
}

void MessageSheet::onCmdMsgFontSetClicked()
{
    cCommonDlg dialog;
    dialog.setForm(window());
    dialog.setFontName(TxtMsgFontName->text());
    dialog.setFontSize(ParseSettingNumber<qint16>(TxtMsgFontSize->text()).value_or(9));
    dialog.setFontBold(TxtMsgFontName->font().bold());
    dialog.setFontItalic(TxtMsgFontName->font().italic());
    dialog.setFontUnderline(false);
    dialog.setFontStrikethru(false);
    dialog.setFlags(CfFlags::ScreenFonts | CfFlags::LimitSize);
    dialog.setMin(8);
    dialog.setMax(72);
    dialog.ShowFont();
    if (dialog.CancelButton())
        return;
    TxtMsgFontName->setText(dialog.FontName());
    QFont font = TxtMsgFontName->font();
    font.setBold(dialog.FontBold());
    font.setItalic(dialog.FontItalic());
    TxtMsgFontName->setFont(font);
    TxtMsgFontSize->setText(QString::number(dialog.FontSize()));
}
