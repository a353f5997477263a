#include "base/SettingsTable.h"

#include "base/SettingsFile.h"

#include <QtGlobal>

#include <limits>

namespace {

using enum SettingAbsent;
using enum SettingForm;
using S = Settings;

// clang-format off
constexpr SettingRow kRows[] = {
    // key                      field                         sheet absent        fallback  form  entry limit
    {"Grp",                    &S::Grp,                       1, Nothing,          "",       Plain, 24},
    {"Name",                   &S::Name,                      1, Fallback,         "未設定", Plain, 24},

    {"ActCaptMode",            &S::ActCaptMode,               2, Fallback,         "1"},
    {"IntTimer",               &S::IntTimer,                  2, Fallback,         "2",      Plain, 2},
    {"CaptExeHide1",           &S::CaptExeHide1,              2},
    {"CaptExeHide2",           &S::CaptExeHide2,              2},
    {"CaptAutoTran",           &S::CaptAutoTran,              2},
    {"CaptAutoClip",           &S::CaptAutoClip,              2},
    {"CaptAutoSave",           &S::CaptAutoSave,              2},
    {"CaptAutoSaveType",       &S::CaptAutoSaveType,          2},
    {"CaptAutoSaveName",       &S::CaptAutoSaveName,          2, Fallback,         "CPT",    NotingWhenEmpty, 8},
    {"CaptAutoSavePlace",      &S::CaptAutoSavePlace,         2},
    {"CaptAutoSaveNameConst",  &S::CaptAutoSaveNameConst,     2},
    {"AutoCapt",               &S::AutoCapt,                  2},
    {"AutoCaptTim",            &S::AutoCaptTim,               2, FallbackAlsoForZero, "300", Plain, 5},

    {"SndCmpPicLevel",         &S::SndCmpPicLevel,            3},
    {"RecvAutoSave",           &S::RecvAutoSave,              3},
    {"RecvAutoSaveType",       &S::RecvAutoSaveType,          3},
    {"RecvAutoSaveName",       &S::RecvAutoSaveName,          3, Fallback,         "CTR",    NotingWhenEmpty, 8},
    {"RecvAutoSavePlace",      &S::RecvAutoSavePlace,         3},
    {"RecvAutoSaveNameConst",  &S::RecvAutoSaveNameConst,     3},
    {"RecvPicWin",             &S::RecvPicWin,                3},
    {"RecvPicSoundPlace",      &S::RecvPicSoundPlace,         3},
    {"RecvPicSound",           &S::RecvPicSound,              3},
    {"SndCmpPicHide",          &S::SndCmpPicHide,             3},
    {"SndCmpPicLock",          &S::SndCmpPicLock,             3},
    {"SndPicOPChk",            &S::SndPicOPChk,               3},

    {"SndCmpMsgLevel",         &S::SndCmpMsgLevel,            4},
    {"SndCmpMsgHide",          &S::SndCmpMsgHide,             4},
    {"SndCmpMsgLock",          &S::SndCmpMsgLock,             4},
    {"SndMsgOPChk",            &S::SndMsgOPChk,               4},
    // Its check box sits on the picture sheet, but the message sheet saves it.
    {"RecvPicMin",             &S::RecvPicMin,                4},
    {"RecvMsgMin",             &S::RecvMsgMin,                4},
    {"SndMsgWinCls",           &S::SndMsgWinCls,              4, Fallback,         "1"},
    {"SndMsgRWinCls",          &S::SndMsgRWinCls,             4, Fallback,         "1"},
    {"SndMsgRWinCls1",         &S::SndMsgRWinCls1,            4, Fallback,         "1"},
    {"SndMsgRRChk",            &S::SndMsgRRChk,               4, Fallback,         "1"},
    {"SndMsgRRTim",            &S::SndMsgRRTim,               4, Fallback,         "15",     Plain, 3},
    {"RecvMsgSound",           &S::RecvMsgSound,              4},
    {"RecvMsgSoundPlace",      &S::RecvMsgSoundPlace,         4},

    {"SndCmpFileLevel",        &S::SndCmpFileLevel,           5},
    {"RecvFileSound",          &S::RecvFileSound,             5},
    {"RecvFileSoundPlace",     &S::RecvFileSoundPlace,        5},
    {"RecvFileSavePlace",      &S::RecvFileSavePlace,         5, InProgramFolder,  "RECVFILE"},
    {"FileRecvFolOP",          &S::FileRecvFolOP,             5},

    {"MsgLogType",             &S::MsgLogType,                6},
    {"MsgLog",                 &S::MsgLog,                    6},
    {"MsgLogName",             &S::MsgLogName,                6, FallbackForFixedLogName, "CTMSG", Plain, 8},
    {"MsgLogSavePlace",        &S::MsgLogSavePlace,           6, InProgramFolder,  ""},
    {"MsgLogShowApp",          &S::MsgLogShowApp,             6, Fallback,         "NOTEPAD"},

    {"PicEditApp",             &S::PicEditApp,                7},
    {"PicEditAppInf",          &S::PicEditAppInf,             7},
    {"JpegComp",               &S::JpegComp,                  7, Fallback,         "10",     Plain, 2},
    {"ProgJpeg",               &S::ProgJpeg,                  7, Fallback,         "0"},
    {"LDblClick",              &S::LDblClick,                 7, Fallback,         "1"},
    {"RecvInfMin",             &S::RecvInfMin,                7},
    {"SendInfMin",             &S::SendInfMin,                7},
    // Our own key: the desktop starts the program at login (older copies ignore it).
    {"StartAtLogon",           &S::StartAtLogon,              7},
    // Our own key, after every older one: pictures, files and messages go only sealed.
    {"SndSealedOnly",          &S::SndSealedOnly,             7},

    // The message sheet writes these only when they changed.
    {"MsgFontName",            &S::MsgFontName,               0, Fallback,         "ＭＳ Ｐゴシック"},
    {"MsgFontSize",            &S::MsgFontSize,               0, Fallback,         "9"},
    {"MsgFontBold",            &S::MsgFontBold,               0, Nothing,          "",       FontFlag},
    {"MsgFontItalic",          &S::MsgFontItalic,             0, Nothing,          "",       FontFlag},
    // The first-run dialog writes "1" and leaves the record as it is.
    {"ZorvinOpMsg",            &S::OpMsgDone},
    {"RPicPosTop",             &S::RPicPosTop},
    {"RPicPosLeft",            &S::RPicPosLeft},
    {"RMsgPosTop",             &S::RMsgPosTop},
    {"RMsgPosLeft",            &S::RMsgPosLeft},
    {"KeyMenu",                HotKeySlot{0}},
    {"KeyCapt0",               HotKeySlot{1}},
    {"KeyCapt1",               HotKeySlot{2}},
    {"KeyCapt2",               HotKeySlot{3}},
    {"KeyCapt3",               HotKeySlot{4}},
    {"KeyCapt4",               HotKeySlot{5}},
};
// clang-format on

const QString kNoting = QStringLiteral("Noting");

template <class... F> struct Overloaded : F...
{
    using F::operator()...;
};
template <class... F> Overloaded(F...) -> Overloaded<F...>;

template <typename T> bool setIfInRange(T &field, qint64 value)
{
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        return false;
    field = T(value);
    return true;
}

} // namespace

std::span<const SettingRow> SettingRows()
{
    return kRows;
}

const SettingRow &SettingRowOf(QLatin1StringView key)
{
    for (const SettingRow &row : kRows) {
        if (key == QLatin1StringView(row.key))
            return row;
    }
    qFatal("no setting %s", key.data());
}

const SettingRow &HotKeyRow(int index)
{
    for (const SettingRow &row : kRows) {
        if (const auto *slot = std::get_if<HotKeySlot>(&row.field); slot && slot->index == index)
            return row;
    }
    qFatal("no hotkey %d", index);
}

bool IsTextSetting(const SettingRow &row)
{
    return std::holds_alternative<QString Settings::*>(row.field) ||
           std::holds_alternative<HotKeySlot>(row.field);
}

qint64 SettingNumber(const Settings &s, const SettingRow &row)
{
    return std::visit(Overloaded{[](QString Settings::*) -> qint64 { return 0; },
                                 [](HotKeySlot) -> qint64 { return 0; },
                                 [&s](auto member) -> qint64 { return s.*member; }},
                      row.field);
}

bool SetSettingNumber(Settings &s, const SettingRow &row, qint64 value)
{
    return std::visit(Overloaded{[](QString Settings::*) { return false; }, [](HotKeySlot) { return false; },
                                 [&s, value](auto member) { return setIfInRange(s.*member, value); }},
                      row.field);
}

QString &SettingText(Settings &s, const SettingRow &row)
{
    if (const auto *slot = std::get_if<HotKeySlot>(&row.field))
        return s.HotKeys[size_t(slot->index)];
    return s.*std::get<QString Settings::*>(row.field);
}

const QString &SettingText(const Settings &s, const SettingRow &row)
{
    return SettingText(const_cast<Settings &>(s), row);
}

QString ProgramFolderSetting(const QString &programDir)
{
    QString folder = programDir;
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

QString SettingFallback(const SettingRow &row, const Settings &s, const QString &programDir)
{
    const QString fallback = QString::fromUtf8(row.fallback);
    switch (row.absent) {
    case SettingAbsent::Nothing:
        return IsTextSetting(row) ? QString() : QStringLiteral("0");
    case SettingAbsent::FallbackForFixedLogName:
        return s.MsgLogType == 0 ? fallback : QString();
    case SettingAbsent::InProgramFolder:
        // programDir ends with "/": the folder inside it is programDir + name.
        return fallback.isEmpty() ? ProgramFolderSetting(programDir) : programDir + fallback;
    case SettingAbsent::Fallback:
    case SettingAbsent::FallbackAlsoForZero:
        break;
    }
    return fallback;
}

QString StoredSetting(const Settings &s, const SettingRow &row)
{
    if (IsTextSetting(row)) {
        const QString &text = SettingText(s, row);
        return row.form == SettingForm::NotingWhenEmpty && text.isEmpty() ? kNoting : text;
    }
    const qint64 n = SettingNumber(s, row);
    if (row.form == SettingForm::FontFlag)
        return n != 0 ? QStringLiteral("255") : QStringLiteral("0");
    return QString::number(n);
}

void ReadSettingValue(Settings &s, const SettingRow &row, const QString &value, const QString &programDir)
{
    const bool useFallback = value.isEmpty() && row.absent != SettingAbsent::Nothing &&
                             row.absent != SettingAbsent::FallbackAlsoForZero;
    const QString text = useFallback ? SettingFallback(row, s, programDir) : value;
    if (IsTextSetting(row)) {
        SettingText(s, row) = row.form == SettingForm::NotingWhenEmpty && text == kNoting ? QString() : text;
        return;
    }
    // The reader of the field's type: a value that does not fit it is no number.
    std::visit(Overloaded{[](QString Settings::*) {}, [](HotKeySlot) {},
                          [&s, &text](auto member) {
                              using T = std::remove_reference_t<decltype(s.*member)>;
                              if (const auto n = ParseSettingNumber<T>(text))
                                  s.*member = *n;
                          }},
               row.field);
}

bool WriteSettingRow(const SettingsFile &file, const Settings &s, const SettingRow &row, QString *error)
{
    return file.WriteSetting(QLatin1String(kSectionSettings), QLatin1String(row.key), StoredSetting(s, row),
                             error);
}

bool WriteSettingKey(const SettingsFile &file, const Settings &s, QLatin1StringView key, QString *error)
{
    return WriteSettingRow(file, s, SettingRowOf(key), error);
}

QString UnsetName()
{
    return QString::fromUtf8(SettingRowOf(QLatin1StringView("Name")).fallback);
}
