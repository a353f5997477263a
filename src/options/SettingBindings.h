// The controls of an option sheet tied to their rows of the settings table: loading shows the
// record's values, storing takes a control's value back into the record.
#pragma once

#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QObject;
struct Settings;
struct SettingRow;

class SettingBindings
{
  public:
    // A check box: 1 when ticked, 0 when not; shown ticked only for 1.
    void flag(const char *key, QCheckBox *box);
    // An option group: the index of the chosen option; none chosen (a stored index out of
    // range) keeps the stored one.
    void choice(const char *key, QButtonGroup *group);
    // A combo box, the same way: its index, none chosen keeps the stored one.
    void choice(const char *key, QComboBox *box);
    // A text box, taken without the blanks at its ends that the file would not give back.
    void text(const char *key, QLineEdit *box);
    // A box with a number: a text that is no number of the field's type keeps the old value.
    void number(const char *key, QLineEdit *box);

    void load(const Settings &s) const;
    // Takes the bound control's value into the row's field; a row without a control stays.
    void store(Settings &s, const SettingRow &row) const;

  private:
    enum class Kind { Flag, Options, Combo, Text, Number };
    struct Binding
    {
        const SettingRow *row;
        Kind kind;
        QObject *control;
    };
    void add(const char *key, Kind kind, QObject *control);

    std::vector<Binding> m_bindings;
};
