#include "options/FrmOptions.h"

#include "options/AutostartEntry.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "base/SettingsFile.h"
#include "base/SettingsLoader.h"
#include "ui/WindowRegistry.h"
#include "net/NetEngine.h"
#include "options/FrmOptGrpList.h"
#include "password/FrmSetPW.h"
#include "password/PasswordBox.h"
#include "password/PasswordWindows.h"
#include "ui/BrowseFolder.h"
#include "ui/DialogKeys.h"
#include "ui/JapaneseFont.h"
#include "ui/ProgramPicker.h"
#include "ui/Twips.h"
#include "ui/WindowKeys.h"
#include "ui/UiLog.h"
#include "ui/cCommonDlg.h"
#include "ui/cTabStrip.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

const QString kUnset = QStringLiteral("未設定");

const char *const kTabCaptions[] = {"個人情報", "ｷｬﾌﾟﾁｬ", "画像転送", "ﾒｯｾｰｼﾞ", "ﾌｧｲﾙ転送", "ﾛｸﾞ", "その他"};
const char *const kSaveTypes[] = {"BMPﾌｧｲﾙ", "LHAﾌｧｲﾙ(BMPをLHAで圧縮)", "JPEGﾌｧｲﾙ", "PNGﾌｧｲﾙ"};
const char *const kSaveExtensions[] = {"BMP", "LZH", "JPG", "PNG"};
const char *const kNoticeLevels[] = {"表示する", "成功時のみ表示", "失敗時のみ表示", "表示しない"};
const char *const kSounds[] = {"なし", "Beep音", "WAVEﾌｧｲﾙ"};
const char *const kLogTypes[] = {"ﾌｧｲﾙ名固定", "年単位にﾛｸﾞ作成", "月単位にﾛｸﾞ作成", "日単位にﾛｸﾞ作成"};
const char *const kDoubleClickActions[] = {"なし",
                                           "ﾒｲﾝｳｨﾝﾄﾞｳ(ｷｬﾌﾟﾁｬ画面)を開く",
                                           "ﾒｯｾｰｼﾞ送信ｳｨﾝﾄﾞｳを開く",
                                           "ｵﾌﾟｼｮﾝ設定ｳｨﾝﾄﾞｳを開く",
                                           "ﾎｰｯﾄｷｰ設定ｳｨﾝﾄﾞｳを開く",
                                           "ｱﾄﾞﾚｽ帳を開く",
                                           "ぞるびんを終了する"};

const QString kIntervalMissing = QStringLiteral("ｷｬﾌﾟﾁｬ:ｲﾝﾀｰﾊﾞﾙﾀｲﾏ値を指定して下さい。");
const QString kIntervalZero = QStringLiteral("ｷｬﾌﾟﾁｬ:ｲﾝﾀｰﾊﾞﾙﾀｲﾏ０秒は指定できません。");

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

// Decimal text within the range of T; anything else is no number.
template <typename T> std::optional<T> toNumber(const QString &text)
{
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max())
        return std::nullopt;
    return T(n);
}

// The boxes that take digits only, and the file-name prefixes that take letters and digits:
// any other typed character is dropped with a beep. The validator also keeps pasted text out.
class KeyFilter : public QObject
{
  public:
    enum Kind { Digits, LettersAndDigits };
    KeyFilter(QLineEdit *box, Kind kind) : QObject(box), m_kind(kind)
    {
        box->installEventFilter(this);
        box->setAttribute(Qt::WA_InputMethodEnabled, false);
        box->setValidator(new QRegularExpressionValidator(
            QRegularExpression(kind == Digits ? QStringLiteral("[0-9]*") : QStringLiteral("[0-9A-Za-z]*")),
            box));
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto *key = static_cast<QKeyEvent *>(event);
        // Keys without a character (arrows, Delete, shortcuts) and backspace pass.
        const QString text = key->text();
        if (text.isEmpty() || text.at(0).unicode() < 0x20 || text.at(0).unicode() == 0x7f ||
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        for (const QChar c : text) {
            const ushort u = c.unicode();
            const bool digit = u >= '0' && u <= '9';
            const bool letter = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
            if (!digit && !(m_kind == LettersAndDigits && letter)) {
                QApplication::beep();
                return true;
            }
        }
        return false;
    }

  private:
    Kind m_kind;
};

QLineEdit *makeBox(QWidget *parent, const char *name, int maxLength = 0)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    if (maxLength > 0)
        box->setMaxLength(maxLength);
    return box;
}

// A box of `chars` characters that holds a number: as wide as its digits need.
QLineEdit *makeNumberBox(QWidget *parent, const char *name, int chars)
{
    QLineEdit *box = makeBox(parent, name, chars);
    new KeyFilter(box, KeyFilter::Digits);
    box->setAlignment(Qt::AlignRight);
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QString(chars + 2, QLatin1Char('0'))) + 12);
    return box;
}

QCheckBox *makeCheck(QWidget *parent, const char *name, const char *caption)
{
    auto *check = new QCheckBox(u8(caption), parent);
    check->setObjectName(QLatin1String(name));
    return check;
}

QPushButton *makeButton(QWidget *parent, const char *name, const char *caption)
{
    auto *button = new QPushButton(u8(caption), parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QLabel *makeLabel(QWidget *parent, const char *text, QWidget *buddy = nullptr)
{
    auto *label = new QLabel(u8(text), parent);
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

// An option group: radio buttons named like a control array ("OptRPicSound(2)"), laid out
// in `columns` columns inside `frame`'s grid.
QButtonGroup *makeOptions(QWidget *frame, QGridLayout *grid, const char *name, const char *const *captions,
                          int count, int columns)
{
    auto *group = new QButtonGroup(frame);
    group->setObjectName(QLatin1String(name));
    for (int i = 0; i < count; ++i) {
        auto *option = new QRadioButton(u8(captions[i]), frame);
        option->setObjectName(QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(i));
        group->addButton(option, i);
        grid->addWidget(option, i / columns, i % columns);
    }
    return group;
}

QGroupBox *makeFrame(QWidget *parent, const char *title)
{
    auto *frame = new QGroupBox(u8(title), parent);
    return frame;
}

// An option group alone in its own frame.
QButtonGroup *makeOptionFrame(QWidget *parent, const char *title, const char *name,
                              const char *const *captions, int count, int columns, QGroupBox **frame)
{
    *frame = makeFrame(parent, title);
    return makeOptions(*frame, new QGridLayout(*frame), name, captions, count, columns);
}

// A sheet's page: its frames from top to bottom, flush with the sheet's margins.
QVBoxLayout *pageLayout(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

void selectOption(QButtonGroup *group, int index)
{
    if (QAbstractButton *button = group->button(index))
        button->setChecked(true);
}

QString dirOf(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

// The box text as the file would give it back.
QString textOf(const QLineEdit *box)
{
    return TrimSettingBlanks(box->text());
}

QString numberText(int n)
{
    return QString::number(n);
}

} // namespace

FrmOptions::FrmOptions(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows,
                       QWidget *parent)
    : QWidget(parent, Qt::Dialog), m_ctx(ctx), m_engine(engine), m_commands(commands), m_windows(windows)
{
    setObjectName(QStringLiteral("FrmOptions"));
    setWindowTitle(QStringLiteral("ｵﾌﾟｼｮﾝ"));
    setWindowIcon(QApplication::windowIcon());

    m_picTab = new QFrame(this);
    m_picTab->setObjectName(QStringLiteral("picTab"));
    m_picTab->setFocusPolicy(Qt::StrongFocus);
    m_picTab->installEventFilter(this);
    m_tabStrip = new cTabStrip(this);
    m_tabStrip->setPicture(m_picTab);
    if (m_tabStrip->Count() == 0) {
        for (const char *caption : kTabCaptions)
            m_tabStrip->Add(u8(caption));
        m_tabStrip->setSelectedIndex(0);
    }

    BuildSheets();

    m_cmdOK = makeButton(this, "cmdOK", "OK");
    m_cmdCancel = makeButton(this, "cmdCancel", "ｷｬﾝｾﾙ");
    m_cmdApply = makeButton(this, "cmdApply", "更新");
    connect(m_cmdOK, &QPushButton::clicked, this, &FrmOptions::onCmdOKClicked);
    connect(m_cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(m_cmdApply, &QPushButton::clicked, this, &FrmOptions::onCmdApplyClicked);

    // Ctrl+Tab and Ctrl+Shift+Tab turn the sheets from anywhere in the dialog, round at the ends.
    const auto turnSheets = [this](const QList<QKeySequence> &keys, int step) {
        auto *shortcut = new QShortcut(this);
        shortcut->setKeys(keys);
        connect(shortcut, &QShortcut::activated, this, [this, step] {
            selectTab((m_tabStrip->SelectedIndex() + step + kTabCount) % kTabCount);
            m_picTab->setFocus(Qt::ShortcutFocusReason);
        });
    };
    turnSheets({QKeySequence(Qt::CTRL | Qt::Key_Tab)}, 1);
    turnSheets({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)},
               -1);

    LoadControls();
    RunEnablingRules();
    LayOut();
    showSelectedSheet();

    // Centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

FrmOptions::~FrmOptions() = default;

// ---------------------------------------------------------------------------------------
// Building

void FrmOptions::BuildSheets()
{
    using Builder = QWidget *(FrmOptions::*)();
    const Builder builders[kTabCount] = {&FrmOptions::BuildPersonalSheet, &FrmOptions::BuildCaptureSheet,
                                         &FrmOptions::BuildPictureSheet,  &FrmOptions::BuildMessageSheet,
                                         &FrmOptions::BuildFileSheet,     &FrmOptions::BuildLogSheet,
                                         &FrmOptions::BuildOtherSheet};
    for (int i = 0; i < kTabCount; ++i) {
        auto *sheet = new QFrame(this);
        sheet->setObjectName(QStringLiteral("fraTabSheet(%1)").arg(i));
        sheet->setFrameShape(QFrame::NoFrame);
        sheet->setAutoFillBackground(true);
        sheet->setBackgroundRole(QPalette::Button);
        m_sheets[size_t(i)] = sheet;
        auto *layout = new QVBoxLayout(sheet);
        layout->setContentsMargins(10, 8, 10, 8);
        QWidget *content = (this->*builders[i])();
        content->setParent(sheet);
        layout->addWidget(content);
        layout->addStretch(1);
    }
}

QWidget *FrmOptions::BuildPersonalSheet()
{
    auto *page = new QWidget;
    auto *frame = makeFrame(page, "個人情報");
    TxtGrp = makeBox(frame, "TxtGrp", 24);
    TxtName = makeBox(frame, "TxtName", 24);
    TxtName->setMinimumWidth(TxtName->fontMetrics().horizontalAdvance(QString(16, QChar(0x5168))));
    CmdGrpList = makeButton(frame, "CmdGrpList", "参照");
    connect(CmdGrpList, &QPushButton::clicked, this, &FrmOptions::onCmdGrpListClicked);
    auto *grid = new QGridLayout(frame);
    grid->addWidget(makeLabel(frame, "ｸﾞﾙｰﾌﾟ名：", TxtGrp), 0, 0);
    grid->addWidget(TxtGrp, 0, 1);
    grid->addWidget(CmdGrpList, 0, 2);
    grid->addWidget(makeLabel(frame, "名前：", TxtName), 1, 0);
    grid->addWidget(TxtName, 1, 1);
    auto *explanation = makeLabel(page, "ｸﾞﾙｰﾌﾟ名及び名前は、ﾈｯﾄﾜｰｸ上の他の利用者のｱﾄﾞﾚｽ帳に\n"
                                        "表示されます。２４文字以内で入力してください。\n"
                                        "ｸﾞﾙｰﾌﾟ名は「参照」で既に使われているものから選べます。");
    explanation->setObjectName(QStringLiteral("LblPersonalExp"));
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);
    layout->addWidget(explanation);
    return page;
}

QGroupBox *FrmOptions::BuildAutoSave(QWidget *parent, AutoSaveControls &c, const QString &prefix)
{
    auto *frame = new QGroupBox(parent);
    auto *grid = new QGridLayout(frame);
    const bool capture = prefix == QLatin1String("Capt");
    c.type = makeOptionFrame(frame, "保存形式", capture ? "OptAutoCaptSaveType" : "OptAutoRecvSaveType",
                             kSaveTypes, 4, 2, &c.typeFrame);
    c.received = !capture;
    c.name = makeBox(frame, capture ? "TxtAutoCaptSaveName" : "TxtAutoRecvtSaveName", 8);
    new KeyFilter(c.name, KeyFilter::LettersAndDigits);
    c.name->setFixedWidth(c.name->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWWWW")) + 12);
    c.nameConst = makeCheck(frame, capture ? "ChkAutoCaptSaveNameConst" : "ChkAutoRecvtSaveNameConst",
                            "連番を付けない");
    c.place = makeBox(frame, capture ? "TxtAutoCaptSavePlace" : "TxtAutoRecvSavePlace");
    c.browse = makeButton(frame, capture ? "CmdCaptSavePlace" : "CmdRecvSavePlace", "参照");
    c.preview = new QLabel(frame);
    c.preview->setObjectName(capture ? QStringLiteral("LblAutoCaptSaveExp")
                                     : QStringLiteral("LblAutoRecvSaveExp"));
    // Room for the longest name the preview can show, so that typing never widens the sheet.
    c.preview->setMinimumWidth(c.preview->fontMetrics().horizontalAdvance(
        QStringLiteral("(Exp) WWWWWWWW") +
        (capture ? QStringLiteral("00001.JPG") : QStringLiteral("00001-ﾏｼﾝ名.JPG"))));
    auto *nameLabel = makeLabel(frame, "ﾌｧｲﾙ名：", c.name);
    auto *placeLabel = makeLabel(frame, "保存先：", c.place);
    c.labels = {nameLabel, placeLabel};

    grid->addWidget(c.enabled, 0, 0, 1, 4);
    grid->addWidget(c.typeFrame, 1, 0, 1, 4);
    grid->addWidget(nameLabel, 2, 0);
    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(c.name);
    nameRow->addWidget(c.nameConst);
    nameRow->addSpacing(12);
    nameRow->addWidget(c.preview, 1);
    grid->addLayout(nameRow, 2, 1, 1, 3);
    grid->addWidget(placeLabel, 3, 0);
    grid->addWidget(c.place, 3, 1, 1, 2);
    grid->addWidget(c.browse, 3, 3);
    grid->setColumnStretch(2, 1);

    const auto changed = [this, &c] { onAutoSaveChanged(c); };
    connect(c.enabled, &QCheckBox::toggled, this, changed);
    connect(c.type, &QButtonGroup::idToggled, this, changed);
    connect(c.name, &QLineEdit::textChanged, this, changed);
    connect(c.nameConst, &QCheckBox::toggled, this, changed);
    const QString prompt = capture ? QStringLiteral("キャプチャイメージの自動保存先を指定してください。")
                                   : QStringLiteral("受信画像の自動保存先を指定してください。");
    connect(c.browse, &QPushButton::clicked, this, [this, &c, prompt] { browseFolder(c.place, prompt); });
    return frame;
}

QGroupBox *FrmOptions::BuildSound(QWidget *parent, SoundControls &c, const QString &prefix,
                                  const QString &title)
{
    auto *frame = new QGroupBox(QStringLiteral("受信時のｻｳﾝﾄﾞ"), parent);
    auto *grid = new QGridLayout(frame);
    auto *options = new QHBoxLayout;
    auto *optionGrid = new QGridLayout;
    const QByteArray name = "OptR" + prefix.toLatin1() + "Sound";
    c.options = makeOptions(frame, optionGrid, name.constData(), kSounds, 3, 3);
    options->addLayout(optionGrid);
    options->addStretch(1);
    grid->addLayout(options, 0, 0, 1, 3);
    c.path = makeBox(frame, ("TxtR" + prefix.toLatin1() + "WavPath").constData());
    c.browse = makeButton(frame, ("CmdR" + prefix.toLatin1() + "Wav").constData(), "参照");
    c.play = makeButton(frame, ("CmdR" + prefix.toLatin1() + "WavPlay").constData(), "再生");
    grid->addWidget(c.path, 1, 0);
    grid->addWidget(c.browse, 1, 1);
    grid->addWidget(c.play, 1, 2);
    grid->setColumnStretch(0, 1);
    connect(c.options, &QButtonGroup::idToggled, this, [this, &c] { onSoundChanged(c); });
    connect(c.path, &QLineEdit::textEdited, this,
            [&c](const QString &text) { c.play->setEnabled(!text.isEmpty()); });
    connect(c.browse, &QPushButton::clicked, this, [this, &c, title] { browseSound(c, title); });
    connect(c.play, &QPushButton::clicked, this, [&c] {
        if (!PlayWaveFile(c.path->text()))
            QApplication::beep();
    });
    return frame;
}

QWidget *FrmOptions::BuildCaptureSheet()
{
    auto *page = new QWidget;
    QVBoxLayout *layout = pageLayout(page);

    auto *active = makeFrame(page, "");
    active->setTitle(QStringLiteral("ｱｸﾃｨﾌﾞｳｨﾝﾄﾞｳのｷｬﾌﾟﾁｬ設定"));
    auto *activeGrid = new QGridLayout(active);
    static const char *const modes[] = {"一定時間後にｱｸﾃｨﾌﾞなｳｨﾝﾄﾞｳをｷｬﾌﾟﾁｬする。",
                                        "ｳｨﾝﾄﾞｳをｸﾘｯｸしたﾀｲﾐﾝｸﾞでｷｬﾌﾟﾁｬする。"};
    OptActWinCaptMode = new QButtonGroup(active);
    OptActWinCaptMode->setObjectName(QStringLiteral("OptActWinCaptMode"));
    auto *timerRow = new QHBoxLayout;
    TxtActWindCaptTim = makeNumberBox(active, "TxtActWindCaptTim", 2);
    auto *before = makeLabel(active, "ｷｬﾌﾟﾁｬ開始：", TxtActWindCaptTim);
    auto *after = makeLabel(active, "秒後");
    m_actWindCaptTimLabels = {before, after};
    for (int i = 0; i < 2; ++i) {
        auto *option = new QRadioButton(u8(modes[i]), active);
        option->setObjectName(QStringLiteral("OptActWinCaptMode(%1)").arg(i));
        OptActWinCaptMode->addButton(option, i);
    }
    timerRow->addSpacing(24);
    timerRow->addWidget(before);
    timerRow->addWidget(TxtActWindCaptTim);
    timerRow->addWidget(after);
    timerRow->addStretch(1);
    activeGrid->addWidget(OptActWinCaptMode->button(0), 0, 0);
    activeGrid->addLayout(timerRow, 1, 0);
    activeGrid->addWidget(OptActWinCaptMode->button(1), 2, 0);
    connect(OptActWinCaptMode, &QButtonGroup::idToggled, this, &FrmOptions::onActWinCaptModeChanged);
    layout->addWidget(active);

    auto *after1 = makeFrame(page, "ｷｬﾌﾟﾁｬ時の動作");
    auto *afterGrid = new QGridLayout(after1);
    ChkCaptExeHide1 = makeCheck(after1, "ChkCaptExeHide1", "ﾃﾞｽｸﾄｯﾌﾟをｷｬﾌﾟﾁｬする時、ﾒｲﾝｳｨﾝﾄﾞｳを隠す。");
    ChkCaptExeHide2 = makeCheck(after1, "ChkCaptExeHide2", "範囲を指定してｷｬﾌﾟﾁｬする時、ﾒｲﾝｳｨﾝﾄﾞｳを隠す。");
    ChkAutoCaptTran = makeCheck(after1, "ChkAutoCaptTran", "ｷｬﾌﾟﾁｬ後、自動的に画像を転送する。");
    ChkAutoCaptClip = makeCheck(after1, "ChkAutoCaptClip", "ｷｬﾌﾟﾁｬ後、ｸﾘｯﾌﾟﾎﾞｰﾄﾞにｺﾋﾟｰする。");
    afterGrid->addWidget(ChkCaptExeHide1, 0, 0);
    afterGrid->addWidget(ChkCaptExeHide2, 1, 0);
    afterGrid->addWidget(ChkAutoCaptTran, 2, 0);
    afterGrid->addWidget(ChkAutoCaptClip, 3, 0);
    layout->addWidget(after1);

    m_captSave.enabled = makeCheck(page, "ChkAutoCaptSave", "ｷｬﾌﾟﾁｬ後、自動的に保存する。");
    layout->addWidget(BuildAutoSave(page, m_captSave, QStringLiteral("Capt")));

    auto *interval = new QHBoxLayout;
    ChkAutoCapt = makeCheck(page, "ChkAutoCapt", "一定間隔でﾃﾞｽｸﾄｯﾌﾟをｷｬﾌﾟﾁｬする。");
    TxtAutoCaptTim = makeNumberBox(page, "TxtAutoCaptTim", 5);
    m_autoCaptTimLabel = makeLabel(page, "秒間隔", TxtAutoCaptTim);
    interval->addWidget(ChkAutoCapt);
    interval->addSpacing(12);
    interval->addWidget(TxtAutoCaptTim);
    interval->addWidget(m_autoCaptTimLabel);
    interval->addStretch(1);
    connect(ChkAutoCapt, &QCheckBox::toggled, this, &FrmOptions::onAutoCaptToggled);
    layout->addLayout(interval);
    return page;
}

QWidget *FrmOptions::BuildPictureSheet()
{
    auto *page = new QWidget;
    QVBoxLayout *layout = pageLayout(page);

    auto *send = makeFrame(page, "画像送信");
    auto *sendGrid = new QGridLayout(send);
    QGroupBox *levelFrame = nullptr;
    OptSCPMsgLevel =
        makeOptionFrame(send, "送信後の通知", "OptSCPMsgLevel", kNoticeLevels, 4, 2, &levelFrame);
    ChkSPHide = makeCheck(send, "ChkSPHide", "画像を伏せて送信する。");
    ChkSPLock = makeCheck(send, "ChkSPLock", "ﾊﾟｽﾜｰﾄﾞでﾛｯｸする。");
    ChkPicOpen = makeCheck(send, "ChkPicOpen", "開封確認を要求する。");
    sendGrid->addWidget(levelFrame, 0, 0, 3, 1);
    sendGrid->addWidget(ChkSPHide, 0, 1);
    sendGrid->addWidget(ChkSPLock, 1, 1);
    sendGrid->addWidget(ChkPicOpen, 2, 1);
    connect(ChkSPHide, &QCheckBox::toggled, this, &FrmOptions::onHideToggled);
    layout->addWidget(send);

    m_recvSave.enabled = makeCheck(page, "ChkAutoRecvSave", "受信画像を自動的に保存する。");
    layout->addWidget(BuildAutoSave(page, m_recvSave, QStringLiteral("Recv")));

    auto *show = new QHBoxLayout;
    ChkRecvPicWin = makeCheck(page, "ChkRecvPicWin", "受信画像を表示しない。");
    ChkRecvPicMin = makeCheck(page, "ChkRecvPicMin", "受信画像を最小化して表示する。");
    show->addWidget(ChkRecvPicWin);
    show->addSpacing(12);
    show->addWidget(ChkRecvPicMin);
    show->addStretch(1);
    layout->addLayout(show);
    layout->addWidget(
        BuildSound(page, m_picSound, QStringLiteral("Pic"), QStringLiteral("画像受信時のサウンド")));
    return page;
}

QWidget *FrmOptions::BuildMessageSheet()
{
    auto *page = new QWidget;
    QVBoxLayout *layout = pageLayout(page);

    auto *send = makeFrame(page, "ﾒｯｾｰｼﾞ送信");
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
    TxtRRTim = makeNumberBox(send, "TxtRRTim", 3);
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
    connect(ChkSMHide, &QCheckBox::toggled, this, &FrmOptions::onHideToggled);
    connect(ChkRR, &QCheckBox::toggled, this, &FrmOptions::onRRToggled);
    layout->addWidget(send);

    ChkRecvMsgMin = makeCheck(page, "ChkRecvMsgMin", "受信ﾒｯｾｰｼﾞを最小化して表示する。");
    layout->addWidget(ChkRecvMsgMin);
    layout->addWidget(
        BuildSound(page, m_msgSound, QStringLiteral("Msg"), QStringLiteral("メッセージ受信時のサウンド")));

    auto *font = makeFrame(page, "ﾒｯｾｰｼﾞのﾌｫﾝﾄ");
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
    connect(CmdMsgFontSet, &QPushButton::clicked, this, &FrmOptions::onCmdMsgFontSetClicked);
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
    return page;
}

QWidget *FrmOptions::BuildFileSheet()
{
    auto *page = new QWidget;
    QVBoxLayout *layout = pageLayout(page);

    QGroupBox *levelFrame = nullptr;
    OptSCFMsgLevel =
        makeOptionFrame(page, "ﾌｧｲﾙ送信後の通知", "OptSCFMsgLevel", kNoticeLevels, 4, 2, &levelFrame);
    layout->addWidget(levelFrame);
    layout->addWidget(
        BuildSound(page, m_fileSound, QStringLiteral("File"), QStringLiteral("ファイル受信時のサウンド")));

    auto *place = makeFrame(page, "受信ﾌｧｲﾙの保存先");
    auto *placeGrid = new QGridLayout(place);
    TxtRecvFileSavePlace = makeBox(place, "TxtRecvFileSavePlace");
    auto *browse = makeButton(place, "CmdRecvFileSavePlace", "参照");
    ChkFileRecvOpenFol = makeCheck(place, "ChkFileRecvOpenFol", "受信後、保存先のﾌｫﾙﾀﾞを開く。");
    placeGrid->addWidget(TxtRecvFileSavePlace, 0, 0);
    placeGrid->addWidget(browse, 0, 1);
    placeGrid->addWidget(ChkFileRecvOpenFol, 1, 0, 1, 2);
    placeGrid->setColumnStretch(0, 1);
    connect(browse, &QPushButton::clicked, this, [this] {
        browseFolder(TxtRecvFileSavePlace, QStringLiteral("受信ファイルの保存先を指定してください。"));
    });
    layout->addWidget(place);
    return page;
}

QWidget *FrmOptions::BuildLogSheet()
{
    auto *page = new QWidget;
    QVBoxLayout *layout = pageLayout(page);

    ChkMsgLog = makeCheck(page, "ChkMsgLog", "ﾒｯｾｰｼﾞのﾛｸﾞを作成する。");
    connect(ChkMsgLog, &QCheckBox::toggled, this, &FrmOptions::onMsgLogToggled);
    layout->addWidget(ChkMsgLog);

    auto *frame = makeFrame(page, "ﾛｸﾞﾌｧｲﾙ");
    auto *grid = new QGridLayout(frame);
    QGroupBox *typeFrame = nullptr;
    OptMsgLogType = makeOptionFrame(frame, "ﾛｸﾞの作成単位", "OptMsgLogType", kLogTypes, 4, 2, &typeFrame);
    TxtMsgLogName = makeBox(frame, "TxtMsgLogName", 8);
    new KeyFilter(TxtMsgLogName, KeyFilter::LettersAndDigits);
    TxtMsgLogName->setFixedWidth(TxtMsgLogName->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWWWW")) +
                                 12);
    TxtMsgLogSavePlace = makeBox(frame, "TxtMsgLogSavePlace");
    TxtMsgLogShowPath = makeBox(frame, "TxtMsgLogShowPath");
    auto *placeBrowse = makeButton(frame, "CmdMsgLogSavePlace", "参照");
    auto *showBrowse = makeButton(frame, "CmdMsgLogSet", "参照");
    auto *nameLabel = makeLabel(frame, "ﾌｧｲﾙ名：", TxtMsgLogName);
    auto *extLabel = makeLabel(frame, "(.log)");
    auto *placeLabel = makeLabel(frame, "保存先：", TxtMsgLogSavePlace);
    auto *showLabel = makeLabel(frame, "表示ﾌﾟﾛｸﾞﾗﾑ：", TxtMsgLogShowPath);
    grid->addWidget(typeFrame, 0, 0, 1, 3);
    grid->addWidget(nameLabel, 1, 0);
    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(TxtMsgLogName);
    nameRow->addWidget(extLabel);
    nameRow->addStretch(1);
    grid->addLayout(nameRow, 1, 1, 1, 2);
    grid->addWidget(placeLabel, 2, 0);
    grid->addWidget(TxtMsgLogSavePlace, 2, 1);
    grid->addWidget(placeBrowse, 2, 2);
    grid->addWidget(showLabel, 3, 0);
    grid->addWidget(TxtMsgLogShowPath, 3, 1);
    grid->addWidget(showBrowse, 3, 2);
    grid->setColumnStretch(1, 1);
    m_logControls = {typeFrame,  TxtMsgLogName, TxtMsgLogSavePlace, TxtMsgLogShowPath, placeBrowse,
                     showBrowse, nameLabel,     extLabel,           placeLabel,        showLabel};
    for (QAbstractButton *option : OptMsgLogType->buttons())
        m_logControls.append(option);
    connect(placeBrowse, &QPushButton::clicked, this, [this] {
        browseFolder(TxtMsgLogSavePlace,
                     QStringLiteral("メッセージログファイルの保存先を指定してください。"));
    });
    connect(showBrowse, &QPushButton::clicked, this, [this] {
        browseProgram(TxtMsgLogShowPath, QStringLiteral("メッセージログを表示するアプリケーション"));
    });
    layout->addWidget(frame);
    return page;
}

QWidget *FrmOptions::BuildOtherSheet()
{
    auto *page = new QWidget;
    QVBoxLayout *layout = pageLayout(page);

    auto *edit = makeFrame(page, "画像編集ｱﾌﾟﾘｹｰｼｮﾝ");
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
    connect(TxtPicEditPath, &QLineEdit::textChanged, this, &FrmOptions::onPicEditPathChanged);
    connect(appSet, &QPushButton::clicked, this,
            [this] { browseProgram(TxtPicEditPath, QStringLiteral("画像編集のアプリケーション")); });
    layout->addWidget(edit);

    auto *tray = new QHBoxLayout;
    CboMouseClick = new QComboBox(page);
    CboMouseClick->setObjectName(QStringLiteral("CboMouseClick"));
    auto *clickLabel = makeLabel(page, "ﾀｽｸﾄﾚｲのｱｲｺﾝをﾀﾞﾌﾞﾙｸﾘｯｸした時：", CboMouseClick);
    clickLabel->setObjectName(QStringLiteral("LblMouseClick"));
    tray->addWidget(clickLabel);
    tray->addWidget(CboMouseClick, 1);
    layout->addLayout(tray);

    ChkRecvInfMin = makeCheck(page, "ChkRecvInfMin", "受信情報ｳｨﾝﾄﾞｳを最小化して表示する。");
    ChkSendInfMin = makeCheck(page, "ChkSendInfMin", "送信情報ｳｨﾝﾄﾞｳを最小化して表示する。");
    ChkStartAtLogon = makeCheck(page, "ChkStartAtLogon", "ログオン時に起動する");
    layout->addWidget(ChkRecvInfMin);
    layout->addWidget(ChkSendInfMin);
    layout->addWidget(ChkStartAtLogon);

    auto *jpeg = makeFrame(page, "JPEG圧縮率");
    auto *jpegRow = new QHBoxLayout(jpeg);
    TxtJpegComp = makeNumberBox(jpeg, "TxtJpegComp", 2);
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
            [this](int value) { TxtJpegComp->setText(numberText(value)); });
    connect(TxtJpegComp, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (const auto value = toNumber<int>(text); value && *value >= 1 && *value <= 99) {
            const QSignalBlocker quiet(SldJpegComp);
            SldJpegComp->setValue(*value);
        }
    });
    layout->addWidget(jpeg);

    auto *password = makeFrame(page, "ﾊﾟｽﾜｰﾄﾞ");
    auto *pwRow = new QHBoxLayout(password);
    TxtPW = makePasswordBox(QStringLiteral("TxtPW"), password);
    TxtPW->setReadOnly(true);
    auto *setPW = makeButton(password, "CmdSetPW", "設定");
    pwRow->addWidget(makeLabel(password, "ﾊﾟｽﾜｰﾄﾞ：", TxtPW));
    pwRow->addWidget(TxtPW, 1);
    pwRow->addWidget(setPW);
    connect(setPW, &QPushButton::clicked, this, &FrmOptions::onCmdSetPWClicked);
    layout->addWidget(password);
    return page;
}

void FrmOptions::LayOut()
{
    // The strip's box is as large as the largest sheet needs, and never narrower than the
    // tab row; the sheets then take the strip's client rectangle.
    QSize need;
    for (QFrame *sheet : m_sheets) {
        // Sizes count only once the style has set the fonts and margins.
        sheet->ensurePolished();
        need = need.expandedTo(sheet->sizeHint()).expandedTo(sheet->minimumSizeHint());
    }
    const int textHeight = m_tabStrip->textHeight();
    const QRect lastTab = m_tabStrip->tabRect(m_tabStrip->Count() - 1);
    // The client rectangle less the body's bevel (one pixel right, two at the bottom).
    const int width = qMax(need.width() + 3 + 1, lastTab.right() + 8);
    const int height = need.height() + textHeight + 11 + 2;
    constexpr int margin = 8;
    m_picTab->setGeometry(margin, margin, width, height);
    const QRect client(twipsToPixels(m_tabStrip->ClientLeft()), twipsToPixels(m_tabStrip->ClientTop()),
                       twipsToPixels(m_tabStrip->ClientWidth()), twipsToPixels(m_tabStrip->ClientHeight()));
    for (QFrame *sheet : m_sheets) {
        // Inside the body's bevel on the right and at the bottom.
        sheet->setGeometry(client.adjusted(0, 0, -1, -2));
        sheet->raise();
    }

    const int buttonWidth = std::max(
        {m_cmdOK->sizeHint().width(), m_cmdCancel->sizeHint().width(), m_cmdApply->sizeHint().width(), 90});
    const int buttonHeight = m_cmdOK->sizeHint().height();
    const int buttonTop = margin + height + margin;
    int x = margin + width;
    for (QPushButton *button : {m_cmdApply, m_cmdCancel, m_cmdOK}) {
        x -= buttonWidth;
        button->setGeometry(x, buttonTop, buttonWidth, buttonHeight);
        x -= 6;
    }
    setFixedSize(margin + width + margin, buttonTop + buttonHeight + margin);
}

// ---------------------------------------------------------------------------------------
// Loading and enabling

void FrmOptions::LoadControls()
{
    const Settings &s = m_ctx.settings;
    TxtGrp->setText(s.Grp);
    TxtName->setText(s.Name == kUnset ? QString() : s.Name);

    selectOption(OptActWinCaptMode, s.ActCaptMode);
    TxtActWindCaptTim->setText(s.IntTimer);
    ChkCaptExeHide1->setChecked(s.CaptExeHide1 == 1);
    ChkCaptExeHide2->setChecked(s.CaptExeHide2 == 1);
    ChkAutoCaptTran->setChecked(s.CaptAutoTran == 1);
    ChkAutoCaptClip->setChecked(s.CaptAutoClip == 1);
    m_captSave.enabled->setChecked(s.CaptAutoSave == 1);
    selectOption(m_captSave.type, s.CaptAutoSaveType);
    m_captSave.name->setText(s.CaptAutoSaveName);
    m_captSave.place->setText(s.CaptAutoSavePlace);
    m_captSave.nameConst->setChecked(s.CaptAutoSaveNameConst == 1);
    ChkAutoCapt->setChecked(s.AutoCapt == 1);
    TxtAutoCaptTim->setText(numberText(s.AutoCaptTim));

    selectOption(OptSCPMsgLevel, s.SndCmpPicLevel);
    ChkSPHide->setChecked(s.SndCmpPicHide == 1);
    ChkSPLock->setChecked(s.SndCmpPicLock == 1);
    ChkPicOpen->setChecked(s.SndPicOPChk == 1);
    m_recvSave.enabled->setChecked(s.RecvAutoSave == 1);
    selectOption(m_recvSave.type, s.RecvAutoSaveType);
    m_recvSave.name->setText(s.RecvAutoSaveName);
    m_recvSave.place->setText(s.RecvAutoSavePlace);
    m_recvSave.nameConst->setChecked(s.RecvAutoSaveNameConst == 1);
    ChkRecvPicWin->setChecked(s.RecvPicWin == 1);
    ChkRecvPicMin->setChecked(s.RecvPicMin == 1);
    selectOption(m_picSound.options, s.RecvPicSound);
    m_picSound.path->setText(s.RecvPicSoundPlace);

    selectOption(OptSCMMsgLevel, s.SndCmpMsgLevel);
    ChkSMHide->setChecked(s.SndCmpMsgHide == 1);
    ChkSMLock->setChecked(s.SndCmpMsgLock == 1);
    ChkMsgOpen->setChecked(s.SndMsgOPChk == 1);
    ChkRecvMsgMin->setChecked(s.RecvMsgMin == 1);
    ChkSendMsgClose->setChecked(s.SndMsgWinCls == 1);
    ChkSendMsgRClose->setChecked(s.SndMsgRWinCls == 1);
    ChkSendMsgRClose1->setChecked(s.SndMsgRWinCls1 == 1);
    ChkRR->setChecked(s.SndMsgRRChk == 1);
    TxtRRTim->setText(numberText(s.SndMsgRRTim));
    selectOption(m_msgSound.options, s.RecvMsgSound);
    m_msgSound.path->setText(s.RecvMsgSoundPlace);
    TxtMsgFontName->setText(s.MsgFontName);
    TxtMsgFontSize->setText(numberText(s.MsgFontSize));
    QFont nameFont = TxtMsgFontName->font();
    nameFont.setBold(s.MsgFontBold != 0);
    nameFont.setItalic(s.MsgFontItalic != 0);
    TxtMsgFontName->setFont(nameFont);

    selectOption(OptSCFMsgLevel, s.SndCmpFileLevel);
    selectOption(m_fileSound.options, s.RecvFileSound);
    m_fileSound.path->setText(s.RecvFileSoundPlace);
    TxtRecvFileSavePlace->setText(s.RecvFileSavePlace);
    ChkFileRecvOpenFol->setChecked(s.FileRecvFolOP == 1);

    ChkMsgLog->setChecked(s.MsgLog == 1);
    selectOption(OptMsgLogType, s.MsgLogType);
    TxtMsgLogName->setText(s.MsgLogName);
    TxtMsgLogSavePlace->setText(s.MsgLogSavePlace);
    TxtMsgLogShowPath->setText(s.MsgLogShowApp);

    TxtPicEditPath->setText(s.PicEditApp);
    selectOption(OptPicEditInf, s.PicEditAppInf);
    for (const char *action : kDoubleClickActions)
        CboMouseClick->addItem(u8(action));
    CboMouseClick->setCurrentIndex(s.LDblClick < CboMouseClick->count() ? s.LDblClick : -1);
    ChkRecvInfMin->setChecked(s.RecvInfMin == 1);
    ChkSendInfMin->setChecked(s.SendInfMin == 1);
    ChkStartAtLogon->setChecked(s.StartAtLogon == 1);
    TxtJpegComp->setText(numberText(s.JpegComp));
    if (s.JpegComp >= 1 && s.JpegComp <= 99) {
        const QSignalBlocker quiet(SldJpegComp);
        SldJpegComp->setValue(s.JpegComp);
    }
    ChkProgJpeg->setChecked(s.ProgJpeg == 1);
    TxtPW->setText(s.Password);
}

void FrmOptions::RunEnablingRules()
{
    onActWinCaptModeChanged();
    onAutoCaptToggled();
    onAutoSaveChanged(m_captSave);
    onAutoSaveChanged(m_recvSave);
    onHideToggled();
    onRRToggled();
    onMsgLogToggled();
    onSoundChanged(m_picSound);
    onSoundChanged(m_msgSound);
    onSoundChanged(m_fileSound);
    onPicEditPathChanged();
}

void FrmOptions::onActWinCaptModeChanged()
{
    const bool timed = OptActWinCaptMode->checkedId() == 0;
    TxtActWindCaptTim->setEnabled(timed);
    for (QWidget *label : m_actWindCaptTimLabels)
        label->setEnabled(timed);
}

void FrmOptions::onAutoCaptToggled()
{
    TxtAutoCaptTim->setEnabled(ChkAutoCapt->isChecked());
    m_autoCaptTimLabel->setEnabled(ChkAutoCapt->isChecked());
}

void FrmOptions::onAutoSaveChanged(AutoSaveControls &c)
{
    const bool on = c.enabled->isChecked();
    for (QWidget *w :
         std::initializer_list<QWidget *>{c.typeFrame, c.name, c.place, c.browse, c.nameConst, c.preview})
        w->setEnabled(on);
    for (QWidget *label : c.labels)
        label->setEnabled(on);
    // Only the types this copy can write: LZH needs the archiver, JPEG and PNG their writers.
    const bool available[] = {true, m_ctx.ArchiverReady, m_ctx.ImageLibLevel >= 1, m_ctx.ImageLibLevel >= 2};
    for (int i = 0; i < 4; ++i)
        c.type->button(i)->setEnabled(on && available[i]);

    const int type = c.type->checkedId();
    const QString extension = type >= 0 ? QLatin1String(kSaveExtensions[type]) : QString();
    const bool fixed = c.nameConst->isChecked();
    QString middle;
    if (c.received)
        middle = fixed ? QStringLiteral("-ﾏｼﾝ名.") : QStringLiteral("00001-ﾏｼﾝ名.");
    else
        middle = fixed ? QStringLiteral(".") : QStringLiteral("00001.");
    c.preview->setText(QStringLiteral("(Exp) ") + c.name->text() + middle + extension);
}

void FrmOptions::onHideToggled()
{
    ChkSPLock->setEnabled(ChkSPHide->isChecked());
    ChkPicOpen->setEnabled(ChkSPHide->isChecked());
    ChkSMLock->setEnabled(ChkSMHide->isChecked());
    ChkMsgOpen->setEnabled(ChkSMHide->isChecked());
}

void FrmOptions::onRRToggled()
{
    TxtRRTim->setEnabled(ChkRR->isChecked());
    m_rrTimLabel->setEnabled(ChkRR->isChecked());
}

void FrmOptions::onMsgLogToggled()
{
    for (QWidget *w : m_logControls)
        w->setEnabled(ChkMsgLog->isChecked());
}

void FrmOptions::onSoundChanged(SoundControls &c)
{
    const bool wave = c.options->checkedId() == 2;
    c.path->setEnabled(wave);
    c.browse->setEnabled(wave);
    c.play->setEnabled(wave && !c.path->text().isEmpty());
}

void FrmOptions::onPicEditPathChanged()
{
    const bool given = !TxtPicEditPath->text().isEmpty();
    m_picEditInfFrame->setEnabled(given);
    for (QAbstractButton *option : OptPicEditInf->buttons())
        option->setEnabled(given);
}

// ---------------------------------------------------------------------------------------
// Tabs, keys, pickers

void FrmOptions::showSelectedSheet()
{
    for (int i = 0; i < kTabCount; ++i)
        m_sheets[size_t(i)]->setVisible(i == m_tabStrip->SelectedIndex());
}

void FrmOptions::selectTab(int index)
{
    m_tabStrip->setSelectedIndex(index);
    showSelectedSheet();
}

bool FrmOptions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_picTab)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const int button = mouse->button() == Qt::LeftButton ? 1 : mouse->button() == Qt::RightButton ? 2 : 4;
        const QPoint at = mouse->position().toPoint();
        m_tabStrip->MouseDown(button, 0, at.x(), at.y());
        showSelectedSheet();
        m_picTab->setFocus(Qt::MouseFocusReason);
        return true;
    }
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Left && key->key() != Qt::Key_Right)
            return false;
        m_tabStrip->KeyDown(key->key() == Qt::Key_Left ? 37 : 39, 0);
        showSelectedSheet();
        return true;
    }
    case QEvent::FocusIn:
        m_tabStrip->GotFocus();
        return false;
    case QEvent::FocusOut:
        m_tabStrip->LostFocus();
        return false;
    default:
        return false;
    }
}

void FrmOptions::keyPressEvent(QKeyEvent *event)
{
    if (!DialogKey(
            event, m_cmdCancel, [this] { onCmdOKClicked(); }, [this] { close(); }))
        QWidget::keyPressEvent(event);
}

void FrmOptions::browseFolder(QLineEdit *box, const QString &prompt)
{
    const QString folder = BrowseFolder(this, prompt, box->text());
    if (!folder.isEmpty())
        box->setText(QDir::toNativeSeparators(folder));
}

void FrmOptions::browseProgram(QLineEdit *box, const QString &title)
{
    const QString program = ChooseProgram(this, title, dirOf(box->text()));
    if (!program.isEmpty())
        box->setText(program);
}

void FrmOptions::browseSound(SoundControls &c, const QString &title)
{
    const QString file =
        CMDFileDialog(0, this, title, QStringLiteral("ｻｳﾝﾄﾞﾌｧｲﾙ|*.wav;*.WAV|"), dirOf(c.path->text()));
    if (file.isEmpty()) {
        c.path->setEnabled(false);
        c.play->setEnabled(false);
        return;
    }
    c.path->setText(file);
    c.path->setEnabled(true);
    c.play->setEnabled(true);
}

void FrmOptions::onCmdMsgFontSetClicked()
{
    cCommonDlg dialog;
    dialog.setForm(this);
    dialog.setFontName(TxtMsgFontName->text());
    dialog.setFontSize(toNumber<qint16>(TxtMsgFontSize->text()).value_or(9));
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
    TxtMsgFontSize->setText(numberText(dialog.FontSize()));
}

void FrmOptions::onCmdGrpListClicked()
{
    auto *list = new FrmOptGrpList(m_engine.addresses(), this);
    connect(list, &FrmOptGrpList::chosen, this, [this](const QString &group) { TxtGrp->setText(group); });
    connect(list, &QDialog::finished, list, &QObject::deleteLater);
    list->open();
}

void FrmOptions::onCmdSetPWClicked()
{
    if (auto *dialog = qobject_cast<FrmSetPW *>(m_windows.open(WindowKind::SetPW)))
        connect(dialog, &FrmSetPW::passwordChanged, this, &FrmOptions::onSetPWPasswordChanged,
                Qt::UniqueConnection);
}

void FrmOptions::onSetPWPasswordChanged()
{
    TxtPW->setText(m_ctx.settings.Password);
}

// ---------------------------------------------------------------------------------------
// Saving

void FrmOptions::Write(const char *key, const QString &value)
{
    QString error;
    if (!SettingsFile(m_ctx.SettingsPath())
             .WriteSetting(QLatin1String(kSectionSettings), QLatin1String(key), value, &error) &&
        m_writeError.isEmpty())
        m_writeError = QLatin1String(key) + QStringLiteral(": ") + error;
}

void FrmOptions::WriteFlag(const char *key, uint8_t &field, bool on)
{
    field = on ? 1 : 0;
    Write(key, numberText(field));
}

void FrmOptions::WriteIndex(const char *key, uint8_t &field, const QButtonGroup *group)
{
    // No option chosen (a stored index out of range) keeps the stored one.
    if (group->checkedId() >= 0)
        field = uint8_t(group->checkedId());
    Write(key, numberText(field));
}

bool FrmOptions::Fail(const QString &text, QWidget *refused)
{
    ::ShowMessageBox(text, MsgBox::Exclamation, this);
    // The refused value is shown on its own sheet.
    for (int i = 0; refused && i < kTabCount; ++i) {
        if (m_sheets[size_t(i)]->isAncestorOf(refused))
            selectTab(i);
    }
    SelectRefusedValue(refused);
    m_saveFailed = true;
    return false;
}

bool FrmOptions::CheckTexts(const QString &sheet, std::initializer_list<QLineEdit *> boxes)
{
    for (QLineEdit *box : boxes) {
        if (!IsStorableSettingText(textOf(box)))
            return Fail(sheet + QStringLiteral(":使用できない文字が含まれています。\r") + box->text(), box);
    }
    return true;
}

bool FrmOptions::OfferMissingFolder(const QString &sheet, const AutoSaveControls &c)
{
    const QString folder = textOf(c.place);
    if (!c.enabled->isChecked() || folder.isEmpty() || QFileInfo(folder).isDir())
        return true;
    const QString shown = QDir::toNativeSeparators(folder);
    if (::ShowMessageBox(sheet + QStringLiteral(":保存先のﾌｫﾙﾀﾞがありません。\r") + shown +
                             QStringLiteral("\r\r作成しますか？"),
                         MsgBox::Question | MsgBox::YesNo, this) != MsgBox::IdYes)
        return true;
    if (QDir().mkpath(folder))
        return true;
    return Fail(sheet + QStringLiteral(":保存先のﾌｫﾙﾀﾞを作成できません。\r") + shown, c.place);
}

bool FrmOptions::SaveTab(int tab)
{
    m_writeError.clear();
    const bool checked = SaveSheet(tab);
    // The record holds the new values, the file does not: the user must know before OK
    // closes the dialog as if they were kept.
    if (checked && !m_writeError.isEmpty()) {
        qCDebug(lcUi) << "options sheet" << tab << "not saved:" << m_writeError;
        return Fail(QStringLiteral("設定を保存できませんでした。\r") + m_ctx.SettingsPath() +
                    QLatin1Char('\r') + m_writeError);
    }
    return checked;
}

bool FrmOptions::SaveSheet(int tab)
{
    switch (tab) {
    case 1:
        return SavePersonal();
    case 2:
        return SaveCapture();
    case 3:
        return SavePicture();
    case 4:
        return SaveMessage();
    case 5:
        return SaveFile();
    case 6:
        return SaveLog();
    case 7:
        return SaveOther();
    default:
        return true;
    }
}

bool FrmOptions::SavePersonal()
{
    if (!CheckTexts(QStringLiteral("個人情報"), {TxtGrp, TxtName}))
        return false;
    Settings &s = m_ctx.settings;
    s.Grp = textOf(TxtGrp);
    Write("Grp", s.Grp);
    s.Name = textOf(TxtName).isEmpty() ? kUnset : textOf(TxtName);
    Write("Name", s.Name);
    return true;
}

bool FrmOptions::SaveCapture()
{
    if (!CheckTexts(QStringLiteral("ｷｬﾌﾟﾁｬ"), {m_captSave.name, m_captSave.place}) ||
        !OfferMissingFolder(QStringLiteral("ｷｬﾌﾟﾁｬ"), m_captSave))
        return false;
    Settings &s = m_ctx.settings;
    WriteIndex("ActCaptMode", s.ActCaptMode, OptActWinCaptMode);
    if (s.ActCaptMode == 0) {
        const QString delay = TxtActWindCaptTim->text();
        if (delay.isEmpty())
            return Fail(kIntervalMissing, TxtActWindCaptTim);
        if (toNumber<int>(delay).value_or(-1) == 0)
            return Fail(kIntervalZero, TxtActWindCaptTim);
        s.IntTimer = delay;
    }
    Write("IntTimer", s.IntTimer);
    WriteFlag("CaptExeHide1", s.CaptExeHide1, ChkCaptExeHide1->isChecked());
    WriteFlag("CaptExeHide2", s.CaptExeHide2, ChkCaptExeHide2->isChecked());
    WriteFlag("CaptAutoTran", s.CaptAutoTran, ChkAutoCaptTran->isChecked());
    WriteFlag("CaptAutoClip", s.CaptAutoClip, ChkAutoCaptClip->isChecked());
    WriteFlag("CaptAutoSave", s.CaptAutoSave, m_captSave.enabled->isChecked());
    WriteIndex("CaptAutoSaveType", s.CaptAutoSaveType, m_captSave.type);
    s.CaptAutoSaveName = textOf(m_captSave.name);
    Write("CaptAutoSaveName", StoredAutoSavePrefix(s.CaptAutoSaveName));
    s.CaptAutoSavePlace = textOf(m_captSave.place);
    Write("CaptAutoSavePlace", s.CaptAutoSavePlace);
    WriteFlag("CaptAutoSaveNameConst", s.CaptAutoSaveNameConst, m_captSave.nameConst->isChecked());
    WriteFlag("AutoCapt", s.AutoCapt, ChkAutoCapt->isChecked());
    if (s.AutoCapt == 1) {
        const QString period = TxtAutoCaptTim->text();
        if (period.isEmpty())
            return Fail(kIntervalMissing, TxtAutoCaptTim);
        if (toNumber<int32_t>(period).value_or(-1) == 0)
            return Fail(kIntervalZero, TxtAutoCaptTim);
    }
    // A period that is no number keeps the old one, which is written again.
    s.AutoCaptTim = toNumber<int32_t>(TxtAutoCaptTim->text()).value_or(s.AutoCaptTim);
    Write("AutoCaptTim", numberText(s.AutoCaptTim));
    emit autoCaptureSettingsChanged();
    return true;
}

bool FrmOptions::SavePicture()
{
    if (!CheckTexts(QStringLiteral("画像転送"), {m_recvSave.name, m_recvSave.place, m_picSound.path}) ||
        !OfferMissingFolder(QStringLiteral("画像転送"), m_recvSave))
        return false;
    if (ChkRecvPicWin->isChecked() &&
        !(m_recvSave.enabled->isChecked() && !m_recvSave.place->text().isEmpty()))
        ::ShowMessageBox(QStringLiteral("画像転送:｢受信画像を自動的に保存する。｣及び｢保存先｣を\r"
                                        "指定してない場合、受信画像は廃棄されます。"),
                         MsgBox::Exclamation, this);
    Settings &s = m_ctx.settings;
    WriteIndex("SndCmpPicLevel", s.SndCmpPicLevel, OptSCPMsgLevel);
    WriteFlag("RecvAutoSave", s.RecvAutoSave, m_recvSave.enabled->isChecked());
    WriteIndex("RecvAutoSaveType", s.RecvAutoSaveType, m_recvSave.type);
    s.RecvAutoSaveName = textOf(m_recvSave.name);
    Write("RecvAutoSaveName", StoredAutoSavePrefix(s.RecvAutoSaveName));
    s.RecvAutoSavePlace = textOf(m_recvSave.place);
    Write("RecvAutoSavePlace", s.RecvAutoSavePlace);
    WriteFlag("RecvAutoSaveNameConst", s.RecvAutoSaveNameConst, m_recvSave.nameConst->isChecked());
    WriteFlag("RecvPicWin", s.RecvPicWin, ChkRecvPicWin->isChecked());
    s.RecvPicSoundPlace = textOf(m_picSound.path);
    Write("RecvPicSoundPlace", s.RecvPicSoundPlace);
    WriteIndex("RecvPicSound", s.RecvPicSound, m_picSound.options);
    WriteFlag("SndCmpPicHide", s.SndCmpPicHide, ChkSPHide->isChecked());
    WriteFlag("SndCmpPicLock", s.SndCmpPicLock, ChkSPLock->isChecked());
    WriteFlag("SndPicOPChk", s.SndPicOPChk, ChkPicOpen->isChecked());
    return true;
}

bool FrmOptions::SaveMessage()
{
    if (!CheckTexts(QStringLiteral("ﾒｯｾｰｼﾞ"), {m_msgSound.path, TxtMsgFontName}))
        return false;
    Settings &s = m_ctx.settings;
    WriteIndex("SndCmpMsgLevel", s.SndCmpMsgLevel, OptSCMMsgLevel);
    WriteFlag("SndCmpMsgHide", s.SndCmpMsgHide, ChkSMHide->isChecked());
    WriteFlag("SndCmpMsgLock", s.SndCmpMsgLock, ChkSMLock->isChecked());
    WriteFlag("SndMsgOPChk", s.SndMsgOPChk, ChkMsgOpen->isChecked());
    // The check box sits on the picture sheet but is saved with this one.
    WriteFlag("RecvPicMin", s.RecvPicMin, ChkRecvPicMin->isChecked());
    WriteFlag("RecvMsgMin", s.RecvMsgMin, ChkRecvMsgMin->isChecked());
    WriteFlag("SndMsgWinCls", s.SndMsgWinCls, ChkSendMsgClose->isChecked());
    WriteFlag("SndMsgRWinCls", s.SndMsgRWinCls, ChkSendMsgRClose->isChecked());
    WriteFlag("SndMsgRWinCls1", s.SndMsgRWinCls1, ChkSendMsgRClose1->isChecked());
    WriteFlag("SndMsgRRChk", s.SndMsgRRChk, ChkRR->isChecked());
    if (TxtRRTim->text().isEmpty())
        TxtRRTim->setText(QStringLiteral("0"));
    s.SndMsgRRTim = toNumber<int16_t>(TxtRRTim->text()).value_or(s.SndMsgRRTim);
    Write("SndMsgRRTim", numberText(s.SndMsgRRTim));
    WriteIndex("RecvMsgSound", s.RecvMsgSound, m_msgSound.options);
    s.RecvMsgSoundPlace = textOf(m_msgSound.path);
    Write("RecvMsgSoundPlace", s.RecvMsgSoundPlace);

    // The font keys are written only when they changed; 1 and 255 both mean bold.
    bool fontChanged = false;
    const QString fontName = textOf(TxtMsgFontName);
    if (!fontName.isEmpty() && fontName != s.MsgFontName) {
        s.MsgFontName = fontName;
        Write("MsgFontName", s.MsgFontName);
        fontChanged = true;
    }
    const int16_t fontSize = toNumber<int16_t>(TxtMsgFontSize->text()).value_or(s.MsgFontSize);
    if (fontSize != s.MsgFontSize) {
        s.MsgFontSize = fontSize;
        Write("MsgFontSize", numberText(s.MsgFontSize));
        fontChanged = true;
    }
    const bool bold = TxtMsgFontName->font().bold();
    if (bold != (s.MsgFontBold != 0)) {
        s.MsgFontBold = bold ? 255 : 0;
        Write("MsgFontBold", StoredFontFlag(bold));
        fontChanged = true;
    }
    const bool italic = TxtMsgFontName->font().italic();
    if (italic != (s.MsgFontItalic != 0)) {
        s.MsgFontItalic = italic ? 255 : 0;
        Write("MsgFontItalic", StoredFontFlag(italic));
        fontChanged = true;
    }
    if (fontChanged)
        emit messageFontChanged();
    return true;
}

bool FrmOptions::SaveFile()
{
    if (!CheckTexts(QStringLiteral("ﾌｧｲﾙ転送"), {m_fileSound.path, TxtRecvFileSavePlace}))
        return false;
    Settings &s = m_ctx.settings;
    WriteIndex("SndCmpFileLevel", s.SndCmpFileLevel, OptSCFMsgLevel);
    WriteIndex("RecvFileSound", s.RecvFileSound, m_fileSound.options);
    s.RecvFileSoundPlace = textOf(m_fileSound.path);
    Write("RecvFileSoundPlace", s.RecvFileSoundPlace);
    const QString place = textOf(TxtRecvFileSavePlace);
    Write("RecvFileSavePlace", place);
    if (place.isEmpty()) {
        // As at load: the default folder, created now.
        s.RecvFileSavePlace = m_ctx.ProgramDir + QStringLiteral("RECVFILE");
        QDir().mkpath(s.RecvFileSavePlace);
    } else {
        s.RecvFileSavePlace = place;
    }
    WriteFlag("FileRecvFolOP", s.FileRecvFolOP, ChkFileRecvOpenFol->isChecked());
    return true;
}

bool FrmOptions::SaveLog()
{
    if (!CheckTexts(QStringLiteral("ﾛｸﾞ"), {TxtMsgLogName, TxtMsgLogSavePlace, TxtMsgLogShowPath}))
        return false;
    Settings &s = m_ctx.settings;
    s.MsgLog = ChkMsgLog->isChecked() ? 1 : 0;
    WriteIndex("MsgLogType", s.MsgLogType, OptMsgLogType);
    if (s.MsgLog == 1) {
        const QString name = textOf(TxtMsgLogName);
        s.MsgLogName = name.isEmpty() && s.MsgLogType == 0 ? QStringLiteral("CTMSG") : name;
        QString folder = textOf(TxtMsgLogSavePlace);
        if (folder.isEmpty()) {
            // The program folder as the loader gives it, without the final separator.
            folder = m_ctx.ProgramDir;
            if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
                folder.chop(1);
        }
        s.MsgLogSavePlace = folder;
    }
    Write("MsgLog", numberText(s.MsgLog));
    Write("MsgLogName", s.MsgLogName);
    Write("MsgLogSavePlace", s.MsgLogSavePlace);
    s.MsgLogShowApp = textOf(TxtMsgLogShowPath);
    Write("MsgLogShowApp", s.MsgLogShowApp);
    return true;
}

bool FrmOptions::SaveOther()
{
    if (!CheckTexts(QStringLiteral("その他"), {TxtPicEditPath}))
        return false;
    Settings &s = m_ctx.settings;
    s.PicEditApp = textOf(TxtPicEditPath);
    Write("PicEditApp", s.PicEditApp);
    WriteIndex("PicEditAppInf", s.PicEditAppInf, OptPicEditInf);
    s.JpegComp = toNumber<uint8_t>(TxtJpegComp->text()).value_or(s.JpegComp);
    Write("JpegComp", numberText(s.JpegComp));
    WriteFlag("ProgJpeg", s.ProgJpeg, ChkProgJpeg->isChecked());
    if (CboMouseClick->currentIndex() >= 0)
        s.LDblClick = uint8_t(CboMouseClick->currentIndex());
    Write("LDblClick", numberText(s.LDblClick));
    WriteFlag("RecvInfMin", s.RecvInfMin, ChkRecvInfMin->isChecked());
    WriteFlag("SendInfMin", s.SendInfMin, ChkSendInfMin->isChecked());
    WriteFlag("StartAtLogon", s.StartAtLogon, ChkStartAtLogon->isChecked());
    // The setting stays saved when the entry cannot be written: the next start tries again.
    if (QString error;
        !AutostartEntry::apply(s.StartAtLogon == 1, QCoreApplication::applicationFilePath(),
                               m_loginArguments, &error))
        ::ShowMessageBox(QStringLiteral("ログオン時に起動する設定を書き込めませんでした。\r") + error,
                         MsgBox::Exclamation, this);
    return true;
}

void FrmOptions::onCmdApplyClicked()
{
    m_saveFailed = false;
    SaveTab(m_tabStrip->SelectedIndex() + 1);
}

void FrmOptions::onCmdOKClicked()
{
    m_saveFailed = false;
    for (int tab = 1; tab <= kTabCount; ++tab) {
        // A warning box runs its own loop: a quit in it closes this dialog, and OK ends there.
        if (!SaveTab(tab) || !isVisible())
            return;
    }
    m_commands.applySettings();
    if (m_ctx.NetworkReady)
        m_engine.AnnounceNameAndGroup();
    close();
}

void RegisterOptionsWindow(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows,
                           std::function<void(FrmOptions &)> made)
{
    windows.setFactory(WindowKind::Options, [&ctx, &engine, &commands, &windows, made] {
        auto *dialog = new FrmOptions(ctx, engine, commands, windows);
        if (made)
            made(*dialog);
        return dialog;
    });
    commands.setHandler(QStringLiteral("mnuOpt"), [&windows] { windows.open(WindowKind::Options); });
}
