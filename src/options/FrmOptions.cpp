#include "options/FrmOptions.h"

#include "base/ModZorvin.h"
#include "base/SettingsFile.h"
#include "net/EngineHost.h"
#include "net/NetEngine.h"
#include "options/CaptureSheet.h"
#include "options/FileSheet.h"
#include "options/LogSheet.h"
#include "options/MessageSheet.h"
#include "options/OptionControls.h"
#include "options/OtherSheet.h"
#include "options/PersonalSheet.h"
#include "options/PictureSheet.h"
#include "ui/Commands.h"
#include "ui/DialogKeys.h"
#include "ui/ModZorvinUi.h"
#include "ui/Twips.h"
#include "ui/UiLog.h"
#include "ui/WindowKeys.h"
#include "ui/WindowRegistry.h"
#include "ui/cTabStrip.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const char *const kTabCaptions[] = {"個人情報", "ｷｬﾌﾟﾁｬ", "画像転送", "ﾒｯｾｰｼﾞ", "ﾌｧｲﾙ転送", "ﾛｸﾞ", "その他"};
} // namespace

FrmOptions::FrmOptions(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows,
                       QWidget *parent)
    : QWidget(parent, Qt::Dialog), m_ctx(ctx), m_engine(engine), m_commands(commands)
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

    BuildSheets(windows);

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

    for (OptionsSheet *page : m_pages)
        page->load();
    for (OptionsSheet *page : m_pages)
        page->runEnablingRules();
    LayOut();
    showSelectedSheet();

    // Centred on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

FrmOptions::~FrmOptions() = default;

void FrmOptions::BuildSheets(WindowRegistry &windows)
{
    // Each sheet's page sits in a frame of the frame array "fraTabSheet", which the tab strip
    // shows one at a time.
    auto *personal = new PersonalSheet(m_ctx, m_engine);
    auto *capture = new CaptureSheet(m_ctx);
    auto *picture = new PictureSheet(m_ctx);
    auto *message = new MessageSheet(m_ctx, picture->recvPicMinBox());
    m_otherSheet = new OtherSheet(m_ctx, windows);
    m_pages = {personal, capture, picture, message, new FileSheet(m_ctx), new LogSheet(m_ctx), m_otherSheet};
    connect(capture, &CaptureSheet::autoCaptureSettingsChanged, this,
            &FrmOptions::autoCaptureSettingsChanged);
    connect(message, &MessageSheet::messageFontChanged, this, &FrmOptions::messageFontChanged);
    for (int i = 0; i < kTabCount; ++i) {
        auto *sheet = new QFrame(this);
        sheet->setObjectName(QStringLiteral("fraTabSheet(%1)").arg(i));
        sheet->setFrameShape(QFrame::NoFrame);
        sheet->setAutoFillBackground(true);
        sheet->setBackgroundRole(QPalette::Button);
        m_sheets[size_t(i)] = sheet;
        auto *layout = new QVBoxLayout(sheet);
        layout->setContentsMargins(10, 8, 10, 8);
        m_pages[size_t(i)]->setParent(sheet);
        layout->addWidget(m_pages[size_t(i)]);
        layout->addStretch(1);
    }
}

void FrmOptions::setLoginArguments(const QStringList &arguments)
{
    m_otherSheet->setLoginArguments(arguments);
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

// ---------------------------------------------------------------------------------------
// Saving

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

bool FrmOptions::SaveTab(int tab)
{
    if (tab < 1 || tab > kTabCount)
        return true;
    OptionsSheet &page = *m_pages[size_t(tab - 1)];
    SheetSave save(m_ctx.settings, m_ctx.SettingsPath(), tab, page.bindings(),
                   [this](const QString &text, QWidget *refused) { return Fail(text, refused); });
    const bool checked = page.save(save);
    // The record holds the new values, the file does not: the user must know before OK
    // closes the dialog as if they were kept.
    if (checked && !save.writeError().isEmpty()) {
        qCDebug(lcUi) << "options sheet" << tab << "not saved:" << save.writeError();
        return Fail(SettingsNotSavedText(m_ctx.SettingsPath(), save.writeError()));
    }
    return checked;
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
