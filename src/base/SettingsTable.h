// Every key of section ZorvinSetting, declared once: the field of the record it fills, what an
// absent value gives, how the value is stored and who writes it. The loader, the key writers and
// the option sheets all work from this table.
#pragma once

#include "base/Settings.h"

#include <QLatin1StringView>
#include <QString>

#include <limits>
#include <optional>
#include <span>
#include <variant>

class SettingsFile;

// One of the six hotkey texts (Settings::HotKeys, 0 = KeyMenu, 1..5 = KeyCapt0..KeyCapt4).
struct HotKeySlot
{
    int index;
};

// The field a key fills; its type is the reader (text, byte, int16, int32) and so the limit of
// what loads: a number outside the type's range does not convert.
using SettingField = std::variant<QString Settings::*, uint8_t Settings::*, int16_t Settings::*,
                                  int32_t Settings::*, HotKeySlot>;

// What an absent (missing or empty) value gives.
enum class SettingAbsent : uint8_t {
    Nothing,                 // "" or 0, and a number that does not convert leaves 0 too
    Fallback,                // `fallback`; a value that does not convert still gives 0
    FallbackAlsoForZero,     // `fallback`, also for 0 after the minutes rule of old files
    FallbackForFixedLogName, // `fallback` while MsgLogType is 0 (fixed log name), else ""
    InProgramFolder,         // the program folder, or the folder `fallback` inside it, which is created
};

// How the record's value is written.
enum class SettingForm : uint8_t {
    Plain,           // texts as held, numbers in decimal
    NotingWhenEmpty, // an empty text is written (and read back) as "Noting"
    FontFlag,        // nonzero is written as "255", zero as "0"
};

struct SettingRow
{
    const char *key;
    SettingField field;
    // The option sheet (1..7) whose save writes this key in table order; 0 for keys that their
    // own windows write (positions, hotkeys, the first-run answer) or that are written only
    // when they changed (the message font).
    int sheet = 0;
    SettingAbsent absent = SettingAbsent::Nothing;
    const char *fallback = ""; // UTF-8 text or decimal number
    SettingForm form = SettingForm::Plain;
    // The most characters (digits for numbers) the options dialog lets the user type; 0 = any.
    int entryLimit = 0;
};

// The rows in the order the options dialog writes them, sheet by sheet, then the keys that other
// windows write. A file written from scratch has its keys in this order.
std::span<const SettingRow> SettingRows();
// The row of a key of the table; asking for another key is a programming error.
const SettingRow &SettingRowOf(QLatin1StringView key);
// The row of hotkey `index` (0 = KeyMenu, 1..5 = KeyCapt0..KeyCapt4).
const SettingRow &HotKeyRow(int index);

// What an absent value gives for this row, given the record read so far (MsgLogName depends on
// MsgLogType) and the program folder ending with "/". Nothing is created.
QString SettingFallback(const SettingRow &row, const Settings &s, const QString &programDir);
// The program folder as the loader stores it: without the final separator.
QString ProgramFolderSetting(const QString &programDir);

// The field's value as the file stores it (its stored form).
QString StoredSetting(const Settings &s, const SettingRow &row);
// Sets the field from the text read for it, by the row's reader and absent rule (a number that
// does not convert leaves the field as it is). What needs the whole file is the loader's: the
// minutes of old files, then FallbackAlsoForZero, and creating an InProgramFolder default.
void ReadSettingValue(Settings &s, const SettingRow &row, const QString &value, const QString &programDir);

// Decimal integer text within the range of T; anything else is no number. The reader of every
// number key, and of the dialog's number boxes.
template <typename T> std::optional<T> ParseSettingNumber(const QString &value)
{
    bool ok = false;
    const qlonglong n = value.toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max())
        return std::nullopt;
    return T(n);
}

// The field of a number row (byte, int16, int32) and of a text row (text or hotkey); the
// row must be of that kind. A number outside the field's type is not stored: false.
bool IsTextSetting(const SettingRow &row);
qint64 SettingNumber(const Settings &s, const SettingRow &row);
bool SetSettingNumber(Settings &s, const SettingRow &row, qint64 value);
QString &SettingText(Settings &s, const SettingRow &row);
const QString &SettingText(const Settings &s, const SettingRow &row);

// Writes the field's stored form to the row's key; false with the reason in `error`.
bool WriteSettingRow(const SettingsFile &file, const Settings &s, const SettingRow &row,
                     QString *error = nullptr);
// The same for the row of `key`.
bool WriteSettingKey(const SettingsFile &file, const Settings &s, QLatin1StringView key,
                     QString *error = nullptr);

// The name the file holds while the user gave none (the default of Name), "未設定".
QString UnsetName();
