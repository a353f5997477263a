#include "options/OptionControls.h"

#include "base/SettingsLoader.h"
#include "base/SettingsTable.h"
#include "ui/BrowseFolder.h"
#include "ui/ProgramPicker.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

KeyFilter::KeyFilter(QLineEdit *box, Kind kind) : QObject(box), m_kind(kind)
{
    box->installEventFilter(this);
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
    box->setValidator(new QRegularExpressionValidator(
        QRegularExpression(kind == Digits ? QStringLiteral("[0-9]*") : QStringLiteral("[0-9A-Za-z]*")), box));
}

bool KeyFilter::eventFilter(QObject *watched, QEvent *event)
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

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

int entryLimitOf(const char *key)
{
    return SettingRowOf(QLatin1StringView(key)).entryLimit;
}

QLineEdit *makeBox(QWidget *parent, const char *name, int maxLength)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    if (maxLength > 0)
        box->setMaxLength(maxLength);
    return box;
}

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

QLabel *makeLabel(QWidget *parent, const char *text, QWidget *buddy)
{
    auto *label = new QLabel(u8(text), parent);
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

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
    return new QGroupBox(u8(title), parent);
}

QButtonGroup *makeOptionFrame(QWidget *parent, const char *title, const char *name,
                              const char *const *captions, int count, int columns, QGroupBox **frame)
{
    *frame = makeFrame(parent, title);
    return makeOptions(*frame, new QGridLayout(*frame), name, captions, count, columns);
}

QVBoxLayout *pageLayout(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

QString dirOf(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

QString textOf(const QLineEdit *box)
{
    return TrimSettingBlanks(box->text());
}

void browseFolder(QWidget *parent, QLineEdit *box, const QString &prompt)
{
    const QString folder = BrowseFolder(parent, prompt, box->text());
    if (!folder.isEmpty())
        box->setText(QDir::toNativeSeparators(folder));
}

void browseProgram(QWidget *parent, QLineEdit *box, const QString &title)
{
    const QString program = ChooseProgram(parent, title, dirOf(box->text()));
    if (!program.isEmpty())
        box->setText(program);
}
