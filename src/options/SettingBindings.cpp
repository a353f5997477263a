#include "options/SettingBindings.h"

#include "base/SettingsLoader.h"
#include "base/SettingsTable.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

void SettingBindings::flag(const char *key, QCheckBox *box)
{
    add(key, Kind::Flag, box);
}

void SettingBindings::choice(const char *key, QButtonGroup *group)
{
    add(key, Kind::Options, group);
}

void SettingBindings::choice(const char *key, QComboBox *box)
{
    add(key, Kind::Combo, box);
}

void SettingBindings::text(const char *key, QLineEdit *box)
{
    add(key, Kind::Text, box);
}

void SettingBindings::number(const char *key, QLineEdit *box)
{
    add(key, Kind::Number, box);
}

void SettingBindings::add(const char *key, Kind kind, QObject *control)
{
    const SettingRow &row = SettingRowOf(QLatin1StringView(key));
    Q_ASSERT(IsTextSetting(row) == (kind == Kind::Text));
    m_bindings.push_back({&row, kind, control});
}

void SettingBindings::load(const Settings &s) const
{
    for (const Binding &b : m_bindings) {
        switch (b.kind) {
        case Kind::Flag:
            static_cast<QCheckBox *>(b.control)->setChecked(SettingNumber(s, *b.row) == 1);
            break;
        case Kind::Options:
            if (QAbstractButton *button =
                    static_cast<QButtonGroup *>(b.control)->button(int(SettingNumber(s, *b.row))))
                button->setChecked(true);
            break;
        case Kind::Combo: {
            auto *box = static_cast<QComboBox *>(b.control);
            const qint64 index = SettingNumber(s, *b.row);
            box->setCurrentIndex(index < box->count() ? int(index) : -1);
            break;
        }
        case Kind::Text:
            static_cast<QLineEdit *>(b.control)->setText(SettingText(s, *b.row));
            break;
        case Kind::Number:
            static_cast<QLineEdit *>(b.control)->setText(QString::number(SettingNumber(s, *b.row)));
            break;
        }
    }
}

void SettingBindings::store(Settings &s, const SettingRow &row) const
{
    for (const Binding &b : m_bindings) {
        if (b.row != &row)
            continue;
        switch (b.kind) {
        case Kind::Flag:
            SetSettingNumber(s, row, static_cast<QCheckBox *>(b.control)->isChecked() ? 1 : 0);
            break;
        case Kind::Options:
            if (const int id = static_cast<QButtonGroup *>(b.control)->checkedId(); id >= 0)
                SetSettingNumber(s, row, id);
            break;
        case Kind::Combo:
            if (const int index = static_cast<QComboBox *>(b.control)->currentIndex(); index >= 0)
                SetSettingNumber(s, row, index);
            break;
        case Kind::Text:
            SettingText(s, row) = TrimSettingBlanks(static_cast<QLineEdit *>(b.control)->text());
            break;
        case Kind::Number: {
            bool ok = false;
            const qlonglong n = static_cast<QLineEdit *>(b.control)->text().toLongLong(&ok, 10);
            if (ok)
                SetSettingNumber(s, row, n);
            break;
        }
        }
    }
}
