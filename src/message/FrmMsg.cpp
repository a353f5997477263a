#include "message/FrmMsg.h"

#include "net/AddressStore.h"
#include "pictures/ModPrint.h"
#include "ui/ToolbarIcons.h"
#include "ui/Commands.h"
#include "net/EngineHost.h"
#include "base/ModZorvin.h"
#include "ui/ModZorvinUi.h"
#include "net/ReceivedMessage.h"
#include "base/SettingsFile.h"
#include "base/SettingsTable.h"
#include "ui/WindowRegistry.h"
#include "message/MessageTexts.h"
#include "message/MessageWindows.h"
#include "net/MessageDelivery.h"
#include "net/NetEngine.h"
#include "password/FrmPWCheck.h"
#include "password/PasswordWindows.h"
#include "ui/JapaneseFont.h"
#include "ui/Twips.h"
#include "ui/cCommonDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>

namespace {

const QString kCls = QStringLiteral("CLS");
const QString kOpenCheck = QStringLiteral("OPENCHECK");
const QString kOpenCaption = QStringLiteral("開く");
const QString kEnterMessage = QStringLiteral("メッセージを入力して下さい。");

// Smallest heights of the window, by use.
constexpr int kComposeMinTwips = 1750;
constexpr int kForwardMinTwips = 2500;
constexpr int kOtherMinTwips = 2750;
// A readable window stops flashing after this many paints or activations.
constexpr int kPaintsToStopFlashing = 5;
const QSize kDefaultSize(440, 300);
constexpr int kMargin = 6;
constexpr int kGap = 4;

QString caption(const char *suffix)
{
    return QString::fromUtf8(kProductName) + QString::fromUtf8(suffix);
}

// A window with a pin: the toolbar's "表示位置保存".
QIcon posSaveIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 24.0, size / 24.0);
        p.setPen(QPen(QColor(0x30, 0x36, 0x40), 1.2));
        p.setBrush(QColor(0xfc, 0xfc, 0xfa));
        p.drawRect(QRectF(2.5, 5.5, 16, 13));
        p.setBrush(QColor(0x3f, 0x8c, 0xd8));
        p.drawRect(QRectF(2.5, 5.5, 16, 3));
        p.setBrush(QColor(0xd8, 0x3a, 0x32));
        p.drawEllipse(QPointF(18, 5), 3.2, 3.2);
        p.drawLine(QPointF(18, 8.2), QPointF(16, 13));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

FrmMsg::FrmMsg(MessageWindows &owner, Use use, QWidget *parent) : QWidget(parent), m_owner(owner), m_use(use)
{
    setObjectName(QStringLiteral("FrmMsg"));
    setWindowIcon(QApplication::windowIcon());
    buildControls();
    ApplyMessageFont();
    const int minTwips = use == Use::Compose   ? kComposeMinTwips
                         : use == Use::Forward ? kForwardMinTwips
                                               : kOtherMinTwips;
    m_minimumHeight = twipsToPixels(minTwips);
    resize(kDefaultSize);
}

void FrmMsg::buildControls()
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar"));
    m_toolbar->setIconSize(QSize(24, 24));
    // The pictures are made once for every message window.
    const auto icon = [this](const char *key) {
        return m_owner.sharedIcon(QLatin1String(key),
                                  [key] { return ToolbarIcons::forKey(QLatin1String(key)); });
    };
    const auto tool = [this](const char *key, const QString &tip, const QIcon &icon, void (FrmMsg::*slot)()) {
        QAction *action = m_toolbar->addAction(icon, tip);
        action->setObjectName(QLatin1String(key));
        action->setToolTip(tip);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    m_fileOpen = tool("FileOpen", QStringLiteral("開く"), icon("FileOpen"), &FrmMsg::onFileOpenTriggered);
    m_fileSave = tool("FileSave", QStringLiteral("保存"), icon("FileSave"), &FrmMsg::onFileSaveTriggered);
    m_print = tool("Print", QStringLiteral("印刷"), icon("Print"), &FrmMsg::onPrintTriggered);
    m_toolbar->addSeparator();
    m_posSave = tool("PosSave", QStringLiteral("表示位置保存"),
                     m_owner.sharedIcon(QStringLiteral("PosSave"), posSaveIcon), &FrmMsg::onPosSaveTriggered);

    const auto line = [this](const char *name) {
        auto *box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setReadOnly(true);
        box->setFocusPolicy(Qt::ClickFocus);
        return box;
    };
    m_txtHideMsg = line("TxtHideMsg");
    m_txtHideMsg->setText(QStringLiteral("メッセージを受信しました。"));
    m_txtHideTime = line("TxtHideTime");
    m_txtHideFrom = line("TxtHideFrom");

    m_txtMsg = new QPlainTextEdit(this);
    m_txtMsg->setObjectName(QStringLiteral("TxtMsg"));
    m_txtMsg->setTabChangesFocus(true);
    connect(m_txtMsg, &QPlainTextEdit::textChanged, this, &FrmMsg::onTxtMsgChanged);

    m_image = new QLabel(this);
    m_image->setObjectName(QStringLiteral("Image1"));
    m_image->setPixmap(icon("MessTran").pixmap(24, 24));
    m_chkInclude = new QCheckBox(QStringLiteral("引用"), this);
    m_chkInclude->setObjectName(QStringLiteral("ChkInclude"));
    m_chkInclude->setChecked(true);

    m_cmdMsgSend = addButton("CmdMsgSend", QStringLiteral("送信"), &FrmMsg::onCmdMsgSendClicked);
    m_cmdMsgDSend = addButton("CmdMsgDSend", QStringLiteral("即送信"), &FrmMsg::onCmdMsgDSendClicked);
    m_cmdMsgRpl = addButton("CmdMsgRpl", QStringLiteral("返信"), &FrmMsg::onCmdMsgRplClicked);
    m_cmdMsgTran = addButton("CmdMsgTran", QStringLiteral("転送"), &FrmMsg::onCmdMsgTranClicked);
    m_cmdOpen = addButton("CmdOpen", kOpenCaption, &FrmMsg::onCmdOpenClicked);
    m_cmdClear = addButton("CmdClear", QStringLiteral("クリア"), &FrmMsg::onCmdClearClicked);
    m_cmdMsgCan = addButton("CmdMsgCan", QStringLiteral("閉じる"), &FrmMsg::onCmdMsgCanClicked);
}

QPushButton *FrmMsg::addButton(const char *name, const QString &caption, void (FrmMsg::*clicked)())
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(QLatin1String(name));
    connect(button, &QPushButton::clicked, this, clicked);
    return button;
}

void FrmMsg::setShown(std::initializer_list<QWidget *> widgets, bool shown)
{
    for (QWidget *widget : widgets)
        widget->setVisible(shown);
}

void FrmMsg::prepareCompose(int id)
{
    setWindowTitle(caption(" - 送信メッセージ"));
    setShown({m_txtHideMsg, m_txtHideFrom, m_txtHideTime, m_cmdOpen, m_cmdMsgRpl, m_cmdMsgTran, m_cmdMsgDSend,
              m_chkInclude},
             false);
    m_posSave->setEnabled(false);
    m_msgId = id;
    centreOnScreen();
}

void FrmMsg::prepareReply(const FrmMsg &received, int id)
{
    const ModZorvin &ctx = m_owner.context();
    if (ctx.settings.SndMsgRWinCls == 1)
        m_linkId = received.m_rcvId;
    setWindowTitle(caption(" - 返信メッセージ"));
    m_tag = received.m_tag;
    if (received.m_chkInclude->isChecked())
        setMessageText(
            MessageTexts::replyText(received.m_text, received.m_date, received.m_time, received.m_from));
    else
        setMessageText(QString());
    setShown({m_cmdOpen, m_cmdMsgRpl, m_cmdMsgTran, m_chkInclude, m_txtHideMsg, m_txtHideTime}, false);

    // A sender the address book does not know gets no "To: " line.
    const AddressStore &store = m_owner.engine().addresses();
    if (store.indexOf(m_tag) >= 0) {
        const QString name = store.FindAddressByIp(m_tag).EntryName;
        m_txtHideFrom->setText(QStringLiteral("To: ") + (name.isEmpty() ? m_tag : name));
        m_txtHideFrom->show();
    } else {
        m_txtHideFrom->hide();
    }
    m_msgId = id;
    m_fileOpen->setEnabled(false);
    centreOnScreen();
}

void FrmMsg::prepareForward(const FrmMsg &received, int id)
{
    const ModZorvin &ctx = m_owner.context();
    if (ctx.settings.SndMsgRWinCls1 == 1)
        m_linkId = received.m_rcvId;
    setWindowTitle(caption(" - 転送メッセージ"));
    setMessageText(MessageTexts::forwardText(ctx.settings.Name, received.m_from, received.m_date,
                                             received.m_time, received.m_text));
    m_msgId = id;
    setShown({m_cmdOpen, m_cmdMsgRpl, m_cmdMsgDSend, m_cmdMsgTran, m_txtHideMsg, m_txtHideTime, m_txtHideFrom,
              m_chkInclude},
             false);
    m_fileOpen->setEnabled(false);
    centreOnScreen();
}

void FrmMsg::prepareReceived(const ReceivedMessage &message)
{
    const Settings &s = m_owner.context().settings;
    m_rcvId = message.messageId;
    if (s.SndMsgRWinCls == 1 || s.SndMsgRWinCls1 == 1)
        m_st = kCls;
    setWindowTitle(message.caption());
    setMessageText(message.text);
    m_tag = message.senderAddress;
    m_from = message.fromName();
    m_date = message.arrivalDate;
    m_time = message.arrivalTime;
    m_txtHideFrom->setText(message.fromLine());
    m_txtHideTime->setText(message.dateLine());

    m_faceDown = message.isClosed();
    m_locked = message.displayMode == u'L';
    if (m_faceDown) {
        setShown({m_toolbar, m_image, m_cmdMsgCan, m_cmdMsgRpl, m_cmdMsgTran, m_chkInclude, m_txtMsg}, false);
        if (m_locked)
            m_cmdOpen->setText(FrmPWCheck::LockedOpenCaption(m_owner.context()));
        if (message.openCheck)
            m_st0 = kOpenCheck;
    } else {
        setShown({m_cmdOpen, m_txtHideMsg}, false);
    }
    m_fileOpen->setEnabled(false);
    m_txtMsg->setReadOnly(true);
    m_txtMsg->setFocusPolicy(Qt::ClickFocus);
    QPalette palette = m_txtMsg->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    m_txtMsg->setPalette(palette);
    setShown({m_cmdMsgSend, m_cmdMsgDSend, m_cmdClear}, false);

    // The saved position, kept on a screen: a position saved on a monitor that is gone
    // would put the window out of reach.
    QPoint at(twipsToPixels(s.RMsgPosLeft), twipsToPixels(s.RMsgPosTop));
    if (!QGuiApplication::screenAt(at) && QGuiApplication::primaryScreen())
        at = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
    move(at);
    layoutControls();
    // Closed, the window holds three lines and a button.
    if (m_faceDown)
        resize(width(), minimumHeight());
}

void FrmMsg::ApplyMessageFont()
{
    const Settings &s = m_owner.context().settings;
    QFont font = m_txtMsg->font();
    if (!s.MsgFontName.isEmpty())
        font.setFamilies({JapaneseFont::shownFamily(s.MsgFontName)});
    if (s.MsgFontSize > 0)
        font.setPointSize(s.MsgFontSize);
    font.setBold(s.MsgFontBold != 0);
    font.setItalic(s.MsgFontItalic != 0);
    m_txtMsg->setFont(font);
}

QString FrmMsg::registryKey() const
{
    return m_use == Use::Received ? QLatin1Char('R') + m_rcvId : MessageDelivery::FormatMessageId(m_msgId);
}

QString FrmMsg::messageText() const
{
    return m_edited ? MessageTexts::toWire(m_txtMsg->toPlainText()) : m_text;
}

void FrmMsg::setMessageText(const QString &text)
{
    // A received message is shown whole: the limit is for what this side sends.
    m_text = m_use == Use::Received ? text : MessageTexts::limited(text);
    m_edited = false;
    m_settingText = true;
    m_txtMsg->setPlainText(MessageTexts::toEditor(m_text));
    m_settingText = false;
    m_cmdMsgDSend->setEnabled(true);
}

void FrmMsg::onTxtMsgChanged()
{
    if (m_settingText)
        return;
    m_edited = true;
    m_cmdMsgDSend->setEnabled(true);
    const QString wire = MessageTexts::toWire(m_txtMsg->toPlainText());
    if (wire.size() <= MessageTexts::kMaxTextChars)
        return;
    m_settingText = true;
    m_txtMsg->setPlainText(MessageTexts::toEditor(MessageTexts::limited(wire)));
    m_txtMsg->moveCursor(QTextCursor::End);
    m_settingText = false;
}

QString FrmMsg::takeLinkId()
{
    return std::exchange(m_linkId, QString());
}

void FrmMsg::centreOnScreen()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void FrmMsg::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

// Top to bottom: the toolbar, the notice and the date and sender lines, the text, and a
// row of buttons along the bottom edge (the quotation box at its left).
void FrmMsg::layoutControls()
{
    const int w = width();
    int y = kMargin;
    if (!m_toolbar->isHidden()) {
        const int h = m_toolbar->sizeHint().height();
        m_toolbar->setGeometry(0, 0, w, h);
        y = h + kGap;
    }
    const int lineHeight = m_txtHideTime->sizeHint().height();
    for (QLineEdit *box : {m_txtHideMsg, m_txtHideTime, m_txtHideFrom}) {
        if (box->isHidden())
            continue;
        box->setGeometry(kMargin, y, w - 2 * kMargin, lineHeight);
        y += lineHeight + kGap;
    }

    QList<QPushButton *> buttons;
    for (QPushButton *b :
         {m_cmdMsgSend, m_cmdMsgDSend, m_cmdMsgRpl, m_cmdMsgTran, m_cmdOpen, m_cmdClear, m_cmdMsgCan}) {
        if (!b->isHidden())
            buttons << b;
    }
    int buttonHeight = 0;
    int rowWidth = 0;
    for (QPushButton *b : std::as_const(buttons)) {
        buttonHeight = std::max(buttonHeight, b->sizeHint().height());
        rowWidth += std::max(b->sizeHint().width(), 72) + kGap;
    }
    int left = kMargin;
    if (!m_image->isHidden()) {
        const QSize size = m_image->sizeHint();
        m_image->setGeometry(left, height() - kMargin - (buttonHeight + size.height()) / 2, size.width(),
                             size.height());
        left += size.width() + kGap;
    }
    if (!m_chkInclude->isHidden()) {
        const QSize size = m_chkInclude->sizeHint();
        m_chkInclude->setGeometry(left, height() - kMargin - (buttonHeight + size.height()) / 2, size.width(),
                                  size.height());
        left += size.width() + kGap;
    }
    const int rowTop = height() - kMargin - buttonHeight;
    int x = w - kMargin;
    for (auto it = buttons.crbegin(); it != buttons.crend(); ++it) {
        const int bw = std::max((*it)->sizeHint().width(), 72);
        x -= bw;
        (*it)->setGeometry(x, rowTop, bw, buttonHeight);
        x -= kGap;
    }

    const int textTop = y;
    if (!m_txtMsg->isHidden())
        m_txtMsg->setGeometry(kMargin, textTop, w - 2 * kMargin, std::max(20, rowTop - kGap - textTop));

    // What the controls need, and never less than the height of the window's use.
    const int needHeight = textTop + (m_txtMsg->isHidden() ? 0 : 40 + kGap) + buttonHeight + kMargin;
    setMinimumSize(left + rowWidth + kMargin, std::max(m_minimumHeight, needHeight));
}

bool FrmMsg::warnIfEmpty()
{
    if (!messageText().isEmpty())
        return false;
    const QPointer<FrmMsg> alive(this);
    ShowMessageBox(kEnterMessage, MsgBox::Exclamation, this);
    if (alive)
        m_txtMsg->setFocus();
    return true;
}

void FrmMsg::onCmdMsgSendClicked()
{
    if (warnIfEmpty())
        return;
    if (m_owner.context().settings.SndMsgWinCls == 1)
        m_st = kCls;
    // The send dialog starts with an empty list, or with the sender of the message this
    // window answers when that sender can receive.
    m_owner.commands().LoadSendAddr(SendHandOver(1, QImage(), m_tag, messageText(), m_msgId));
}

void FrmMsg::onCmdMsgDSendClicked()
{
    if (warnIfEmpty())
        return;
    if (!m_owner.engine().messages().DirectSend(m_tag, messageText()))
        return;
    m_cmdMsgDSend->setEnabled(false);
    const QString link = takeLinkId();
    if (m_owner.context().settings.SndMsgWinCls == 1)
        close();
    m_owner.CloseLinked(link);
}

void FrmMsg::onCmdMsgRplClicked()
{
    m_owner.OpenReply(*this);
}

void FrmMsg::onCmdMsgTranClicked()
{
    m_owner.OpenForward(*this);
}

void FrmMsg::onCmdClearClicked()
{
    setMessageText(QString());
}

void FrmMsg::onCmdMsgCanClicked()
{
    close();
}

void FrmMsg::onCmdOpenClicked()
{
    if (!m_locked) {
        openMessage();
        return;
    }
    auto *check = m_owner.windows().load<FrmPWCheck>(WindowKind::PWCheck);
    // One question at a time: its answer belongs to the window that asked.
    if (!check || m_checkingPassword || check->isVisible())
        return;
    m_checkingPassword = true;
    connect(
        check, &FrmPWCheck::checked, this,
        [this](bool passed) {
            m_checkingPassword = false;
            // The dialog closes on its way out of this signal; the answer goes on after it.
            QTimer::singleShot(0, this, [this, passed] {
                if (!isVisible())
                    return;
                if (passed)
                    openMessage();
                else
                    ShowMessageBox(QStringLiteral("ﾊﾟｽﾜｰﾄﾞが違います。"), MsgBox::Exclamation, this);
            });
        },
        Qt::SingleShotConnection);
    check->Ask();
}

void FrmMsg::openMessage()
{
    if (!m_faceDown)
        return;
    m_faceDown = false;
    setShown({m_cmdOpen, m_txtHideMsg}, false);
    setShown({m_toolbar, m_txtHideTime, m_txtHideFrom, m_txtMsg, m_image, m_cmdMsgRpl, m_cmdMsgTran,
              m_cmdMsgCan, m_chkInclude},
             true);
    layoutControls();
    if (!isMinimized() && height() < kDefaultSize.height())
        resize(width(), kDefaultSize.height());
    stopFlashing();
    // Once only: the open button is gone for good.
    if (std::exchange(m_st0, QString()) == kOpenCheck)
        m_owner.engine().messages().SendOpenReceipt(m_tag, QStringLiteral("M"));
}

void FrmMsg::startFlashing()
{
    m_flashing = true;
    m_paintCount = 0;
    m_owner.flashAndBlink(this, true);
}

void FrmMsg::stopFlashing()
{
    if (!m_flashing)
        return;
    m_flashing = false;
    m_paintCount = 0;
    m_owner.flashAndBlink(this, false);
}

bool FrmMsg::event(QEvent *event)
{
    // The reader has looked at a readable message a few times: enough flashing. A face-down
    // message keeps flashing until it is opened.
    if (m_flashing && !m_faceDown &&
        (event->type() == QEvent::Paint || event->type() == QEvent::WindowActivate)) {
        if (++m_paintCount >= kPaintsToStopFlashing)
            stopFlashing();
    }
    return QWidget::event(event);
}

void FrmMsg::closeEvent(QCloseEvent *event)
{
    if (m_use == Use::Received)
        stopFlashing();
    QWidget::closeEvent(event);
}

void FrmMsg::showError(int number, const QString &description)
{
    ShowMessageBox(QString::number(number) + QStringLiteral("  ") + description, MsgBox::Exclamation, this);
}

void FrmMsg::onFileOpenTriggered()
{
    const QPointer<FrmMsg> alive(this);
    const QString path =
        CMDFileDialog(0, this, QStringLiteral("ファイルを開く"),
                      QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ(*.txt)|*.txt|全てのﾌｧｲﾙ(*.*)|*.*|"), m_owner.lastOpenFolder());
    if (!alive || path.isEmpty())
        return;
    m_fileOpen->setEnabled(false);
    QFile file(path);
    // Only the start of a file can become a message; a huge file is not read to its end.
    const QByteArray bytes =
        file.open(QIODevice::ReadOnly) ? file.read(MessageTexts::kFileReadBytes) : QByteArray();
    if (file.error() != QFileDevice::NoError) {
        m_fileOpen->setEnabled(true);
        showError(int(file.error()), file.errorString());
        return;
    }
    m_owner.setLastOpenFolder(QFileInfo(path).absolutePath() + QLatin1Char('/'));
    setMessageText(MessageTexts::fromTextFile(bytes));
    m_fileOpen->setEnabled(true);
}

void FrmMsg::onFileSaveTriggered()
{
    const QString text = messageText();
    if (text.isEmpty())
        return;
    const QPointer<FrmMsg> alive(this);
    const QString path = CMDFileDialog(2, this, QStringLiteral("ファイルの保存"),
                                       QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ (*.txt)|*.txt|"), m_owner.lastSaveFolder());
    if (!alive || path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(MessageTexts::toTextFile(text)) < 0 ||
        !file.commit()) {
        showError(int(file.error()), file.errorString());
        return;
    }
    m_owner.setLastSaveFolder(QFileInfo(path).absolutePath() + QLatin1Char('/'));
}

void FrmMsg::onPrintTriggered()
{
    QString head;
    if (m_use == Use::Reply)
        head = MessageTexts::replyPrintHead(m_txtHideFrom->text());
    else if (m_use == Use::Received)
        head = MessageTexts::receivedPrintHead(m_txtHideTime->text(), m_txtHideFrom->text());
    const Settings &s = m_owner.context().settings;
    QFont font(JapaneseFont::shownFamily(s.MsgFontName));
    if (s.MsgFontSize > 0)
        font.setPointSize(s.MsgFontSize);
    const ModPrint::Result result = ModPrint::PrintText(
        m_owner.commands().printTarget(), head + messageText(), font, QString::fromUtf8(kProductName));
    ModPrint::TellResult(result, this);
}

void FrmMsg::onPosSaveTriggered()
{
    Settings &s = m_owner.context().settings;
    s.RMsgPosTop = pixelsToTwips(pos().y());
    s.RMsgPosLeft = pixelsToTwips(pos().x());
    const SettingsFile file(m_owner.context().SettingsPath());
    WriteSettingKey(file, s, QLatin1StringView("RMsgPosTop"));
    WriteSettingKey(file, s, QLatin1StringView("RMsgPosLeft"));
}
