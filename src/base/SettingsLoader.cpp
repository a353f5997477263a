#include "base/SettingsLoader.h"

#include "base/AnsiCodec.h"
#include "base/DataFile.h"
#include "base/ModZorvin.h"
#include "base/Settings.h"
#include "base/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <limits>
#include <optional>

namespace {

const QString kNoting = QStringLiteral("Noting");

// Reads the keys of ZorvinSetting from one reading of the file. A value that does not
// convert leaves the field as it was (0 after the reset), which is why a non-numeric value
// of a key with an own default gives 0 and not the default.
class KeyReader
{
  public:
    explicit KeyReader(const QByteArray &data) : m_data(data) {}

    QString text(const char *key) const
    {
        return SettingsFile::valueIn(m_data, QLatin1String(kSectionSettings), QLatin1String(key));
    }

    void text(const char *key, QString &field) const { field = text(key); }

    void textOr(const char *key, QString &field, const QString &fallback) const
    {
        field = text(key);
        if (field.isEmpty())
            field = fallback;
    }

    template <typename T> void number(const char *key, T &field) const
    {
        if (const auto value = parse<T>(text(key)))
            field = *value;
    }

    template <typename T> void numberOr(const char *key, T &field, T fallback) const
    {
        const QString value = text(key);
        if (value.isEmpty())
            field = fallback;
        else if (const auto parsed = parse<T>(value))
            field = *parsed;
    }

    // Decimal integer text within the range of T; anything else is no number.
    template <typename T> static std::optional<T> parse(const QString &value)
    {
        bool ok = false;
        const qlonglong n = value.toLongLong(&ok, 10);
        if (!ok || n < std::numeric_limits<T>::min() || n > std::numeric_limits<T>::max())
            return std::nullopt;
        return T(n);
    }

  private:
    const QByteArray &m_data;
};

int16_t readVersionPart(const QByteArray &data, const char *key)
{
    return KeyReader::parse<int16_t>(
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

    const KeyReader r(data);
    r.number("ZorvinOpMsg", s.OpMsgDone);
    r.text("Grp", s.Grp);
    r.textOr("Name", s.Name, QStringLiteral("未設定"));
    r.numberOr<uint8_t>("ActCaptMode", s.ActCaptMode, 1);
    r.textOr("IntTimer", s.IntTimer, QStringLiteral("2"));
    r.number("CaptExeHide1", s.CaptExeHide1);
    r.number("CaptExeHide2", s.CaptExeHide2);
    r.number("CaptAutoTran", s.CaptAutoTran);
    r.number("CaptAutoClip", s.CaptAutoClip);
    r.number("CaptAutoSave", s.CaptAutoSave);
    r.number("CaptAutoSaveType", s.CaptAutoSaveType);
    r.textOr("CaptAutoSaveName", s.CaptAutoSaveName, QStringLiteral("CPT"));
    if (s.CaptAutoSaveName == kNoting)
        s.CaptAutoSaveName.clear();
    r.text("CaptAutoSavePlace", s.CaptAutoSavePlace);
    r.number("CaptAutoSaveNameConst", s.CaptAutoSaveNameConst);
    r.number("AutoCapt", s.AutoCapt);

    // Files without a version stamp come from versions that kept the period in minutes. A
    // period that no longer fits counts as not converted.
    r.number("AutoCaptTim", s.AutoCaptTim);
    if (unversioned) {
        const qint64 seconds = qint64(s.AutoCaptTim) * 60;
        s.AutoCaptTim =
            (seconds > std::numeric_limits<int32_t>::max() || seconds < std::numeric_limits<int32_t>::min())
                ? 0
                : int32_t(seconds);
    }
    if (s.AutoCaptTim == 0)
        s.AutoCaptTim = 300;

    r.number("SndCmpPicLevel", s.SndCmpPicLevel);
    r.number("SndCmpPicHide", s.SndCmpPicHide);
    r.number("SndCmpPicLock", s.SndCmpPicLock);
    r.number("SndPicOPChk", s.SndPicOPChk);
    r.number("RecvPicSound", s.RecvPicSound);
    r.text("RecvPicSoundPlace", s.RecvPicSoundPlace);
    r.number("RecvAutoSave", s.RecvAutoSave);
    r.number("RecvAutoSaveType", s.RecvAutoSaveType);
    r.textOr("RecvAutoSaveName", s.RecvAutoSaveName, QStringLiteral("CTR"));
    if (s.RecvAutoSaveName == kNoting)
        s.RecvAutoSaveName.clear();
    r.text("RecvAutoSavePlace", s.RecvAutoSavePlace);
    r.number("RecvAutoSaveNameConst", s.RecvAutoSaveNameConst);
    r.number("RecvPicWin", s.RecvPicWin);
    r.number("RecvPicMin", s.RecvPicMin);
    r.number("RPicPosTop", s.RPicPosTop);
    r.number("RPicPosLeft", s.RPicPosLeft);
    r.number("SndCmpMsgLevel", s.SndCmpMsgLevel);
    r.number("SndCmpMsgLock", s.SndCmpMsgLock);
    r.number("SndCmpMsgHide", s.SndCmpMsgHide);
    r.number("SndMsgOPChk", s.SndMsgOPChk);
    r.number("RecvMsgSound", s.RecvMsgSound);
    r.text("RecvMsgSoundPlace", s.RecvMsgSoundPlace);
    r.textOr("MsgFontName", s.MsgFontName, QStringLiteral("ＭＳ Ｐゴシック"));
    r.numberOr<int16_t>("MsgFontSize", s.MsgFontSize, 9);
    r.number("MsgFontBold", s.MsgFontBold);
    r.number("MsgFontItalic", s.MsgFontItalic);
    r.number("RecvMsgMin", s.RecvMsgMin);
    r.numberOr<uint8_t>("SndMsgWinCls", s.SndMsgWinCls, 1);
    r.numberOr<uint8_t>("SndMsgRWinCls", s.SndMsgRWinCls, 1);
    r.numberOr<uint8_t>("SndMsgRWinCls1", s.SndMsgRWinCls1, 1);
    r.numberOr<uint8_t>("SndMsgRRChk", s.SndMsgRRChk, 1);
    r.numberOr<int16_t>("SndMsgRRTim", s.SndMsgRRTim, 15);
    r.number("RMsgPosTop", s.RMsgPosTop);
    r.number("RMsgPosLeft", s.RMsgPosLeft);
    r.number("SndCmpFileLevel", s.SndCmpFileLevel);
    r.number("RecvFileSound", s.RecvFileSound);
    r.text("RecvFileSoundPlace", s.RecvFileSoundPlace);
    r.text("RecvFileSavePlace", s.RecvFileSavePlace);
    if (s.RecvFileSavePlace.isEmpty()) {
        s.RecvFileSavePlace = programDir + QStringLiteral("RECVFILE");
        QDir().mkpath(s.RecvFileSavePlace); // an existing folder or a failure is not reported
    }
    r.number("FileRecvFolOP", s.FileRecvFolOP);
    r.number("MsgLog", s.MsgLog);
    r.number("MsgLogType", s.MsgLogType);
    r.text("MsgLogName", s.MsgLogName);
    if (s.MsgLogName.isEmpty() && s.MsgLogType == 0)
        s.MsgLogName = QStringLiteral("CTMSG");
    // The log folder is the program folder as the platform reports it, without the final
    // separator; the log writer adds one.
    QString programFolder = programDir;
    if (programFolder.size() > 1 && programFolder.endsWith(QLatin1Char('/')))
        programFolder.chop(1);
    r.textOr("MsgLogSavePlace", s.MsgLogSavePlace, programFolder);
    r.textOr("MsgLogShowApp", s.MsgLogShowApp, QStringLiteral("NOTEPAD"));
    r.text("PicEditApp", s.PicEditApp);
    r.number("PicEditAppInf", s.PicEditAppInf);
    r.numberOr<uint8_t>("JpegComp", s.JpegComp, 10);
    r.numberOr<uint8_t>("ProgJpeg", s.ProgJpeg, 0);
    r.numberOr<uint8_t>("LDblClick", s.LDblClick, 1);
    r.number("SendInfMin", s.SendInfMin);
    r.number("RecvInfMin", s.RecvInfMin);
    r.number("StartAtLogon", s.StartAtLogon);
    r.text("KeyMenu", s.KeyMenu());
    for (int mode = 0; mode < 5; ++mode)
        s.KeyCapt(mode) = r.text(QStringLiteral("KeyCapt%1").arg(mode).toLatin1().constData());
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
    return prefix.isEmpty() ? kNoting : prefix;
}

QString StoredFontFlag(bool on)
{
    return on ? QStringLiteral("255") : QStringLiteral("0");
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
