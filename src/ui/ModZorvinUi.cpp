#include "ui/ModZorvinUi.h"

#include "platform/ScreenPlatform.h"

#include "net/EngineHost.h"
#include "base/ModZorvin.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>
#include <QWidget>

#include <algorithm>

QString MessageBoxTitle()
{
    return QString::fromUtf8(kProductName);
}

QString SettingsNotSavedText(const QString &settingsPath, const QString &keyAndReason)
{
    return QStringLiteral("設定を保存できませんでした。\r") + settingsPath + QLatin1Char('\r') + keyAndReason;
}

int ShowMessageBox(const QString &text, int style, QWidget *parent)
{
    QMessageBox box(parent);
    box.setWindowTitle(MessageBoxTitle());
    // The wire and file texts use CR as the line break; a message box shows it as one.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);
    // A text with line breaks of its own is laid out at the width of its longest line (as
    // far as the screen allows), so that the box does not wrap the tail of a line onto a
    // line of its own.
    if (shown.contains(QLatin1Char('\n'))) {
        if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            int widest = 0;
            for (const QString &line : shown.split(QLatin1Char('\n')))
                widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
            const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
            const int room = screen ? screen->availableGeometry().width() * 3 / 4 : widest;
            label->setMinimumWidth(std::min(widest + 2, room));
        }
    }

    switch (style & 0xF0) {
    case MsgBox::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgBox::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgBox::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgBox::Information:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }

    struct Choice
    {
        QMessageBox::StandardButton button;
        int id;
    };
    QList<Choice> choices;
    switch (style & 0x0F) {
    case MsgBox::OkCancel:
        choices = {{QMessageBox::Ok, MsgBox::IdOk}, {QMessageBox::Cancel, MsgBox::IdCancel}};
        break;
    case MsgBox::YesNo:
        choices = {{QMessageBox::Yes, MsgBox::IdYes}, {QMessageBox::No, MsgBox::IdNo}};
        break;
    case MsgBox::RetryCancel:
        choices = {{QMessageBox::Retry, MsgBox::IdRetry}, {QMessageBox::Cancel, MsgBox::IdCancel}};
        break;
    default:
        choices = {{QMessageBox::Ok, MsgBox::IdOk}};
        break;
    }
    for (const Choice &c : choices)
        box.addButton(c.button);
    const int defaultIndex = (style & MsgBox::DefaultButton2) && choices.size() > 1 ? 1 : 0;
    box.setDefaultButton(choices[defaultIndex].button);
    box.setEscapeButton(choices.size() > 1 ? choices.last().button : choices.first().button);

    // The box must be seen: the first open window that covers the screen on the
    // always-on-top layer (the area selection) goes off that layer and lets go of the
    // keyboard while the box is up.
    QPointer<QWidget> covering;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->property(kGivesWayToNotices).toBool()) {
            covering = window;
            break;
        }
    }
    if (covering) {
        covering->releaseKeyboard();
        SetTopMost(covering, false);
        covering->lower();
    }
    box.exec();
    if (covering && covering->isVisible()) {
        SetTopMost(covering, true);
        covering->raise();
        covering->grabKeyboard();
    }
    const auto pressed = box.standardButton(box.clickedButton());
    for (const Choice &c : choices) {
        if (c.button == pressed)
            return c.id;
    }
    return choices.size() > 1 ? choices.last().id : choices.first().id;
}

void FlashWindow(QWidget *window, bool on)
{
    if (window && on)
        QApplication::alert(window, 0);
}

void SetTopMost(QWidget *window, bool on)
{
    if (!window)
        return;
    // A shown window changes layers through the window manager: a changed window flag
    // would unmap it and map it again.
    if (window->isVisible() && window->windowHandle()) {
        const std::unique_ptr<ScreenPlatform> platform = ScreenPlatform::create();
        if (platform->setKeepAbove(window->windowHandle(), on))
            return;
    }
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible)
        window->show();
}

uint8_t DetectImageLibLevel()
{
    const QList<QByteArray> formats = QImageWriter::supportedImageFormats();
    const bool jpeg = formats.contains("jpeg") || formats.contains("jpg");
    const bool png = formats.contains("png");
    if (jpeg && png)
        return 2;
    return jpeg ? 1 : 0;
}

bool PlayWaveFile(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    for (const char *player : {"paplay", "aplay"}) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(player));
        if (!program.isEmpty() && QProcess::startDetached(program, {path}))
            return true;
    }
    return false;
}

void TellTerminal(const QString &text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextStream(stderr) << lines << Qt::endl;
}

bool OpenWithDesktop(const QString &path)
{
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return true;
    TellTerminal(QStringLiteral("zorvin: cannot open %1 (is xdg-open installed?)")
                     .arg(QDir::toNativeSeparators(path)));
    return false;
}

bool StartProgram(const QString &program, const QStringList &arguments)
{
    if (QProcess::startDetached(program, arguments))
        return true;
    TellTerminal(QStringLiteral("zorvin: cannot start %1 %2").arg(program, arguments.join(QLatin1Char(' '))));
    return false;
}
