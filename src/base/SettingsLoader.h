// Fills the settings record from zorvin.ini at start-up by the rows of the settings table
// (SettingsTable.h), with the rules that need the whole file; and the checks of setting texts.
#pragma once

#include <QString>

class SettingsFile;
struct Settings;

// Resets the record (all but Password, which comes from its own file) and reads section
// ZorvinSetting, every key of the table. programDir ends with "/"; the default receive folder
// is created in it.
// Never fails: a missing or unreadable file gives the defaults.
void LoadSettings(Settings &s, const SettingsFile &file, const QString &programDir);

// Writes Major, Minor and Revision of section Zorvin with this program's version; an older
// file without them keeps AutoCaptTim in minutes.
void WriteVersionStamp(const SettingsFile &file);

// The stored form of CaptAutoSaveName / RecvAutoSaveName (the table's): an empty prefix is
// "Noting", because an empty value would load as the default prefix.
QString StoredAutoSavePrefix(const QString &prefix);

// The stored form of MsgFontBold / MsgFontItalic (the table's): "255" for on, "0" for off.
QString StoredFontFlag(bool on);

// A text the reader gives back exactly as it was written: every character in code page 932,
// no line break or NUL, no blank at either end, at most SettingsFile::kMaxValueBytes bytes.
bool IsStorableSettingText(const QString &value);
// The text without the blanks and tabs at its ends, which the reader would not give back.
QString TrimSettingBlanks(const QString &value);
