#include "options/OptionsSheet.h"

#include "base/ModZorvin.h"
#include "base/SettingsFile.h"
#include "base/SettingsLoader.h"
#include "base/SettingsTable.h"
#include "options/OptionControls.h"

#include <QLineEdit>

SheetSave::SheetSave(Settings &s, const QString &settingsPath, int sheet, const SettingBindings &bindings,
                     Refuse refuse)
    : m_settings(s), m_path(settingsPath), m_sheet(sheet), m_bindings(bindings), m_refuse(std::move(refuse))
{}

void SheetSave::through(const char *key)
{
    const std::span<const SettingRow> rows = SettingRows();
    const SettingRow &last = SettingRowOf(QLatin1StringView(key));
    Q_ASSERT(last.sheet == m_sheet);
    for (; m_next < rows.size(); ++m_next) {
        const SettingRow &row = rows[m_next];
        if (row.sheet != m_sheet)
            continue;
        m_bindings.store(m_settings, row);
        writeRow(row);
        if (&row == &last) {
            ++m_next;
            return;
        }
    }
}

void SheetSave::rest()
{
    const std::span<const SettingRow> rows = SettingRows();
    for (; m_next < rows.size(); ++m_next) {
        if (rows[m_next].sheet == m_sheet) {
            m_bindings.store(m_settings, rows[m_next]);
            writeRow(rows[m_next]);
        }
    }
}

void SheetSave::write(const char *key)
{
    writeRow(SettingRowOf(QLatin1StringView(key)));
}

void SheetSave::writeRow(const SettingRow &row)
{
    QString error;
    if (!WriteSettingRow(SettingsFile(m_path), m_settings, row, &error) && m_writeError.isEmpty())
        m_writeError = QLatin1String(row.key) + QStringLiteral(": ") + error;
}

bool SheetSave::checkTexts(const QString &sheet, std::initializer_list<QLineEdit *> boxes)
{
    for (QLineEdit *box : boxes) {
        if (!IsStorableSettingText(textOf(box)))
            return fail(sheet + QStringLiteral(":使用できない文字が含まれています。\r") + box->text(), box);
    }
    return true;
}

OptionsSheet::OptionsSheet(ModZorvin &ctx, int number) : m_ctx(ctx), m_number(number) {}

void OptionsSheet::load()
{
    m_bindings.load(m_ctx.settings);
}
