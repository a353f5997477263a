// One sheet of the options dialog: builds its controls, loads them from the settings record,
// keeps their enabling rules, and validates and saves its keys through a SheetSave.
#pragma once

#include "options/SettingBindings.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <initializer_list>

class ModZorvin;
class QLineEdit;
struct Settings;
struct SettingRow;

// The save of one sheet: its keys in the table's order, each taken from its control into the
// record just before it is written, so that a check that stops the save leaves record and file
// alike. The first key the file refused is kept for the dialog to report.
class SheetSave
{
  public:
    // Shows a refused value (the warning, its sheet, the focus on it) and gives false.
    using Refuse = std::function<bool(const QString &text, QWidget *refused)>;

    SheetSave(Settings &s, const QString &settingsPath, int sheet, const SettingBindings &bindings,
              Refuse refuse);

    Settings &settings() { return m_settings; }
    // Stores and writes the sheet's keys not written yet, up to and including `key`.
    void through(const char *key);
    // Stores and writes the rest of the sheet's keys.
    void rest();
    // Writes one key outside the sheet's pass (one written only when it changed).
    void write(const char *key);

    bool fail(const QString &text, QWidget *refused = nullptr) { return m_refuse(text, refused); }
    // False (after the warning) when a box holds a text the settings file cannot give back.
    bool checkTexts(const QString &sheet, std::initializer_list<QLineEdit *> boxes);

    const QString &writeError() const { return m_writeError; }

  private:
    void writeRow(const SettingRow &row);

    Settings &m_settings;
    QString m_path;
    int m_sheet;
    const SettingBindings &m_bindings;
    Refuse m_refuse;
    size_t m_next = 0; // index into the table: rows before it are done
    QString m_writeError;
};

class OptionsSheet : public QWidget
{
    Q_OBJECT
  public:
    OptionsSheet(ModZorvin &ctx, int number);

    // 1..7, as the save numbers the tabs.
    int number() const { return m_number; }
    // Fills the controls from the record.
    virtual void load();
    // Sets the enabled states that follow the loaded values.
    virtual void runEnablingRules() {}
    // Validates and saves; false when a check stopped it (what was written stays written).
    virtual bool save(SheetSave &save) = 0;
    const SettingBindings &bindings() const { return m_bindings; }

  protected:
    ModZorvin &m_ctx;
    SettingBindings m_bindings;

  private:
    int m_number;
};
