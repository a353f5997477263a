#include "ui/WindowKeys.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QActionEvent>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

namespace {

// The helpers have no meta-object of their own: they are found by name, so that a widget
// gets each one once.
bool hasHelper(const QObject *owner, const char *name)
{
    return owner->findChild<QObject *>(QLatin1String(name), Qt::FindDirectChildrenOnly) != nullptr;
}

class EscapeCloser : public QObject
{
  public:
    static constexpr char kName[] = "zorvinEscapeCloser";
    explicit EscapeCloser(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(QLatin1String(kName));
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window || event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier ||
            m_window->property(kKeepsOpenOnEscape).toBool())
            return false;
        // A key reaches the window only when no control took it; the window's own handler
        // (a dialog's cancel) still comes first.
        static_cast<QObject *>(m_window)->event(event);
        if (!event->isAccepted()) {
            event->accept();
            m_window->close();
        }
        return true;
    }

  private:
    QWidget *m_window;
};

QChar accessKey(const QAction *action)
{
    const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
    if (mnemonic.isEmpty())
        return {};
    return QChar(char16_t(mnemonic[0].key() & 0xffff)).toUpper();
}

class MenuKeys : public QObject
{
  public:
    static constexpr char kName[] = "zorvinMenuKeys";
    explicit MenuKeys(QMenu *menu) : QObject(menu), m_menu(menu)
    {
        setObjectName(QLatin1String(kName));
        menu->installEventFilter(this);
        for (QAction *action : menu->actions())
            watchSubMenu(action);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_menu)
            return false;
        if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionChanged) {
            watchSubMenu(static_cast<QActionEvent *>(event)->action());
            return false;
        }
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        if (text.size() != 1 || !text.at(0).isLetterOrNumber() ||
            (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)))
            return false;
        bool only = false;
        QAction *next =
            NextAccessKeyItem(m_menu->actions(), text.at(0).toUpper(), m_menu->activeAction(), &only);
        if (!next) {
            // Only disabled items hold it, or none: nothing to go to.
            return true;
        }
        moveTo(next);
        if (only) {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QCoreApplication::sendEvent(m_menu, &enter);
        }
        return true;
    }

  private:
    // As the arrow keys move: a sub-menu reached this way stays shut until Enter, so that
    // the next press still goes to this menu (setActiveAction would open it).
    void moveTo(QAction *target)
    {
        for (qsizetype i = 0; i <= m_menu->actions().size() && m_menu->activeAction() != target; ++i) {
            QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
            QCoreApplication::sendEvent(m_menu, &down);
        }
    }

    void watchSubMenu(QAction *action)
    {
        QMenu *sub = action ? action->menu() : nullptr;
        if (sub && !hasHelper(sub, kName))
            new MenuKeys(sub);
    }

    QMenu *m_menu;
};

class TypedNames : public QObject
{
  public:
    static constexpr char kName[] = "zorvinTypedNames";
    explicit TypedNames(QComboBox *combo) : QObject(combo), m_combo(combo)
    {
        setObjectName(QLatin1String(kName));
        combo->installEventFilter(this);
        combo->view()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        if (text.size() != 1 || !text.at(0).isPrint() || text.at(0).isSpace() ||
            (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)))
            return false;
        if (!m_typing.isValid() || m_typing.elapsed() > QApplication::keyboardInputInterval())
            m_typed.clear();
        m_typing.start();
        m_typed += text;
        QStringList names;
        for (int i = 0; i < m_combo->count(); ++i)
            names << m_combo->itemText(i);
        const int current =
            m_combo->view()->isVisible() ? m_combo->view()->currentIndex().row() : m_combo->currentIndex();
        const int index = TypedNameIndex(names, m_typed, current);
        if (index < 0)
            return true;
        if (m_combo->view()->isVisible())
            m_combo->view()->setCurrentIndex(m_combo->model()->index(index, m_combo->modelColumn()));
        else
            m_combo->setCurrentIndex(index);
        return true;
    }

  private:
    QComboBox *m_combo;
    QString m_typed;
    QElapsedTimer m_typing;
};

} // namespace

void MatchTypedNames(QComboBox *combo)
{
    if (combo && !hasHelper(combo, TypedNames::kName))
        new TypedNames(combo);
}

int TypedNameIndex(const QStringList &names, const QString &typed, int current)
{
    if (typed.isEmpty())
        return -1;
    // The same letter again ("S" on S, "SS") moves on among the names that start with it.
    const QString letter = typed.left(1);
    const bool sameLetter = typed.count(typed.front()) == typed.size();
    if (sameLetter && current >= 0 && current < names.size() &&
        names[current].startsWith(letter, Qt::CaseInsensitive)) {
        for (int step = 1; step <= names.size(); ++step) {
            const int i = (current + step) % int(names.size());
            if (names[i].startsWith(letter, Qt::CaseInsensitive))
                return i;
        }
    }
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].compare(typed, Qt::CaseInsensitive) == 0)
            return i;
    }
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].startsWith(typed, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

void CloseOnEscape(QWidget *window)
{
    if (window && !hasHelper(window, EscapeCloser::kName))
        new EscapeCloser(window);
}

void SelectRefusedValue(QWidget *control)
{
    if (!control || !control->isEnabled())
        return;
    control->setFocus(Qt::OtherFocusReason);
    if (auto *line = qobject_cast<QLineEdit *>(control))
        line->selectAll();
    else if (auto *spin = qobject_cast<QAbstractSpinBox *>(control))
        spin->selectAll();
    else if (auto *combo = qobject_cast<QComboBox *>(control); combo && combo->lineEdit())
        combo->lineEdit()->selectAll();
    else if (auto *edit = qobject_cast<QTextEdit *>(control))
        edit->selectAll();
    else if (auto *plain = qobject_cast<QPlainTextEdit *>(control))
        plain->selectAll();
}

void InstallMenuKeys(QMenu *menu)
{
    if (menu && !hasHelper(menu, MenuKeys::kName))
        new MenuKeys(menu);
}

QAction *NextAccessKeyItem(const QList<QAction *> &actions, QChar key, const QAction *current, bool *only)
{
    QList<QAction *> holders;
    for (QAction *action : actions) {
        if (action->isVisible() && action->isEnabled() && !action->isSeparator() && accessKey(action) == key)
            holders << action;
    }
    if (only)
        *only = holders.size() == 1;
    if (holders.isEmpty())
        return nullptr;
    // After the current item in menu order, wrapping round; from the top when the current
    // one holds another key.
    const int from = current ? int(actions.indexOf(const_cast<QAction *>(current))) : -1;
    for (QAction *action : holders) {
        if (actions.indexOf(action) > from)
            return action;
    }
    return holders.first();
}
