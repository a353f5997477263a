#include "options/OptionBlocks.h"

#include "base/ModZorvin.h"
#include "net/EngineHost.h"
#include "options/OptionControls.h"
#include "options/OptionsSheet.h"
#include "ui/ModZorvinUi.h"
#include "ui/cCommonDlg.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

QGroupBox *AutoSaveBlock::build(QWidget *page, QCheckBox *enabledBox, bool capture, const ModZorvin &ctx)
{
    using namespace OptionCaptions;
    m_ctx = &ctx;
    enabled = enabledBox;
    auto *frame = new QGroupBox(page);
    auto *grid = new QGridLayout(frame);
    type = makeOptionFrame(frame, "保存形式", capture ? "OptAutoCaptSaveType" : "OptAutoRecvSaveType",
                           kSaveTypes, 4, 2, &typeFrame);
    m_received = !capture;
    name = makeBox(frame, capture ? "TxtAutoCaptSaveName" : "TxtAutoRecvtSaveName",
                   entryLimitOf(capture ? "CaptAutoSaveName" : "RecvAutoSaveName"));
    new KeyFilter(name, KeyFilter::LettersAndDigits);
    name->setFixedWidth(name->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWWWW")) + 12);
    nameConst = makeCheck(frame, capture ? "ChkAutoCaptSaveNameConst" : "ChkAutoRecvtSaveNameConst",
                          "連番を付けない");
    place = makeBox(frame, capture ? "TxtAutoCaptSavePlace" : "TxtAutoRecvSavePlace");
    browse = makeButton(frame, capture ? "CmdCaptSavePlace" : "CmdRecvSavePlace", "参照");
    preview = new QLabel(frame);
    preview->setObjectName(capture ? QStringLiteral("LblAutoCaptSaveExp")
                                   : QStringLiteral("LblAutoRecvSaveExp"));
    // Room for the longest name the preview can show, so that typing never widens the sheet.
    preview->setMinimumWidth(preview->fontMetrics().horizontalAdvance(
        QStringLiteral("(Exp) WWWWWWWW") +
        (capture ? QStringLiteral("00001.JPG") : QStringLiteral("00001-ﾏｼﾝ名.JPG"))));
    auto *nameLabel = makeLabel(frame, "ﾌｧｲﾙ名：", name);
    auto *placeLabel = makeLabel(frame, "保存先：", place);
    m_labels = {nameLabel, placeLabel};

    grid->addWidget(enabled, 0, 0, 1, 4);
    grid->addWidget(typeFrame, 1, 0, 1, 4);
    grid->addWidget(nameLabel, 2, 0);
    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(name);
    nameRow->addWidget(nameConst);
    nameRow->addSpacing(12);
    nameRow->addWidget(preview, 1);
    grid->addLayout(nameRow, 2, 1, 1, 3);
    grid->addWidget(placeLabel, 3, 0);
    grid->addWidget(place, 3, 1, 1, 2);
    grid->addWidget(browse, 3, 3);
    grid->setColumnStretch(2, 1);

    const auto changed = [this] { update(); };
    QObject::connect(enabled, &QCheckBox::toggled, page, changed);
    QObject::connect(type, &QButtonGroup::idToggled, page, changed);
    QObject::connect(name, &QLineEdit::textChanged, page, changed);
    QObject::connect(nameConst, &QCheckBox::toggled, page, changed);
    const QString prompt = capture ? QStringLiteral("キャプチャイメージの自動保存先を指定してください。")
                                   : QStringLiteral("受信画像の自動保存先を指定してください。");
    QObject::connect(browse, &QPushButton::clicked, page,
                     [this, page, prompt] { browseFolder(page->window(), place, prompt); });
    return frame;
}

void AutoSaveBlock::update()
{
    const bool on = enabled->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{typeFrame, name, place, browse, nameConst, preview})
        w->setEnabled(on);
    for (QWidget *label : m_labels)
        label->setEnabled(on);
    // Only the types this copy can write: LZH needs the archiver, JPEG and PNG their writers.
    const bool available[] = {true, m_ctx->ArchiverReady, m_ctx->ImageLibLevel >= 1,
                              m_ctx->ImageLibLevel >= 2};
    for (int i = 0; i < 4; ++i)
        type->button(i)->setEnabled(on && available[i]);

    const int chosen = type->checkedId();
    const QString extension =
        chosen >= 0 ? QLatin1String(OptionCaptions::kSaveExtensions[chosen]) : QString();
    const bool fixed = nameConst->isChecked();
    QString middle;
    if (m_received)
        middle = fixed ? QStringLiteral("-ﾏｼﾝ名.") : QStringLiteral("00001-ﾏｼﾝ名.");
    else
        middle = fixed ? QStringLiteral(".") : QStringLiteral("00001.");
    preview->setText(QStringLiteral("(Exp) ") + name->text() + middle + extension);
}

bool AutoSaveBlock::offerMissingFolder(const QString &sheet, SheetSave &save)
{
    const QString folder = textOf(place);
    if (!enabled->isChecked() || folder.isEmpty() || QFileInfo(folder).isDir())
        return true;
    const QString shown = QDir::toNativeSeparators(folder);
    if (::ShowMessageBox(sheet + QStringLiteral(":保存先のﾌｫﾙﾀﾞがありません。\r") + shown +
                             QStringLiteral("\r\r作成しますか？"),
                         MsgBox::Question | MsgBox::YesNo, place->window()) != MsgBox::IdYes)
        return true;
    if (QDir().mkpath(folder))
        return true;
    return save.fail(sheet + QStringLiteral(":保存先のﾌｫﾙﾀﾞを作成できません。\r") + shown, place);
}

QGroupBox *SoundBlock::build(QWidget *page, const QString &prefix, const QString &title)
{
    auto *frame = new QGroupBox(QStringLiteral("受信時のｻｳﾝﾄﾞ"), page);
    auto *grid = new QGridLayout(frame);
    auto *optionRow = new QHBoxLayout;
    auto *optionGrid = new QGridLayout;
    const QByteArray name = "OptR" + prefix.toLatin1() + "Sound";
    options = makeOptions(frame, optionGrid, name.constData(), OptionCaptions::kSounds, 3, 3);
    optionRow->addLayout(optionGrid);
    optionRow->addStretch(1);
    grid->addLayout(optionRow, 0, 0, 1, 3);
    path = makeBox(frame, ("TxtR" + prefix.toLatin1() + "WavPath").constData());
    browse = makeButton(frame, ("CmdR" + prefix.toLatin1() + "Wav").constData(), "参照");
    play = makeButton(frame, ("CmdR" + prefix.toLatin1() + "WavPlay").constData(), "再生");
    grid->addWidget(path, 1, 0);
    grid->addWidget(browse, 1, 1);
    grid->addWidget(play, 1, 2);
    grid->setColumnStretch(0, 1);
    QObject::connect(options, &QButtonGroup::idToggled, page, [this] { update(); });
    QObject::connect(path, &QLineEdit::textEdited, page,
                     [this](const QString &text) { play->setEnabled(!text.isEmpty()); });
    QObject::connect(browse, &QPushButton::clicked, page, [this, page, title] { browseSound(page, title); });
    QObject::connect(play, &QPushButton::clicked, page, [this] {
        if (!PlayWaveFile(path->text()))
            QApplication::beep();
    });
    return frame;
}

void SoundBlock::update()
{
    const bool wave = options->checkedId() == 2;
    path->setEnabled(wave);
    browse->setEnabled(wave);
    play->setEnabled(wave && !path->text().isEmpty());
}

void SoundBlock::browseSound(QWidget *page, const QString &title)
{
    const QString file = CMDFileDialog(0, page->window(), title, QStringLiteral("ｻｳﾝﾄﾞﾌｧｲﾙ|*.wav;*.WAV|"),
                                       dirOf(path->text()));
    if (file.isEmpty()) {
        path->setEnabled(false);
        play->setEnabled(false);
        return;
    }
    path->setText(file);
    path->setEnabled(true);
    play->setEnabled(true);
}
