#include "base/SettingsLoader.h"

#include "base/AnsiCodec.h"
#include "base/DataFile.h"
#include "base/ModZorvin.h"
#include "base/Settings.h"
#include "base/SettingsFile.h"
#include "base/SettingsTable.h"

#include <QDir>
#include <limits>

namespace {

int16_t readVersionPart(const QByteArray &data, const char *key)
{
    return ParseSettingNumber<int16_t>(
               SettingsFile::valueIn(data, QLatin1String(kSectionVersion), QLatin1String(key)))
        .value_or(0);
}

} // namespace

void LoadSettings(Settings &s, const SettingsFile &file, const QString &programDir)
{
    const QString password = s.Password;
    s = Settings();
    s.Password = password;

    // A missing or unreadable file reads as empty: every key gets its default. A huge one
    // is read up to the reader's limit, so that it costs no time to speak of.
    const QByteArray data = DataFile::readLimited(file.path(), SettingsFile::kMaxFileBytes).bytes;

    const bool unversioned = readVersionPart(data, "Major") == 0 && readVersionPart(data, "Minor") == 0 &&
                             readVersionPart(data, "Revision") == 0;

    for (const SettingRow &row : SettingRows()) {
        const QString value =
            SettingsFile::valueIn(data, QLatin1String(kSectionSettings), QLatin1String(row.key));
        ReadSettingValue(s, row, value, programDir);
        // A default folder inside the program folder is made at once; an existing folder or a
        // failure is not reported.
        if (value.isEmpty() && row.absent == SettingAbsent::InProgramFolder && *row.fallback)
            QDir().mkpath(SettingText(s, row));
    }

    // Files without a version stamp come from versions that kept the period in minutes. A
    // period that no longer fits counts as not converted.
    if (unversioned) {
        const qint64 seconds = qint64(s.AutoCaptTim) * 60;
        s.AutoCaptTim =
            (seconds > std::numeric_limits<int32_t>::max() || seconds < std::numeric_limits<int32_t>::min())
                ? 0
                : int32_t(seconds);
    }
    for (const SettingRow &row : SettingRows()) {
        if (row.absent == SettingAbsent::FallbackAlsoForZero && SettingNumber(s, row) == 0)
            SetSettingNumber(s, row, QByteArray(row.fallback).toLongLong());
    }
}

void WriteVersionStamp(const SettingsFile &file)
{
    const QString section = QLatin1String(kSectionVersion);
    file.WriteSetting(section, QStringLiteral("Major"), QString::number(kVersionMajor));
    file.WriteSetting(section, QStringLiteral("Minor"), QString::number(kVersionMinor));
    file.WriteSetting(section, QStringLiteral("Revision"), QString::number(kVersionRevision));
}

QString StoredAutoSavePrefix(const QString &prefix)
{
    Settings s;
    s.CaptAutoSaveName = prefix;
    return StoredSetting(s, SettingRowOf(QLatin1StringView("CaptAutoSaveName")));
}

QString StoredFontFlag(bool on)
{
    Settings s;
    s.MsgFontBold = on ? 255 : 0;
    return StoredSetting(s, SettingRowOf(QLatin1StringView("MsgFontBold")));
}

bool IsStorableSettingText(const QString &value)
{
    const QByteArray bytes = AnsiCodec::encode(value);
    if (bytes.size() > SettingsFile::kMaxValueBytes || AnsiCodec::decode(bytes) != value)
        return false;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    return value.isEmpty() || (!blank(value.front()) && !blank(value.back()));
}

QString TrimSettingBlanks(const QString &value)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype from = 0, to = value.size();
    while (from < to && blank(value[from]))
        ++from;
    while (to > from && blank(value[to - 1]))
        --to;
    return value.mid(from, to - from);
}
