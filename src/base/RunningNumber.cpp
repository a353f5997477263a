#include "base/RunningNumber.h"

namespace {

QString keyOf(RunningNumber::Counter counter)
{
    return counter == RunningNumber::AutoCaptNo ? QStringLiteral("AutoCaptNo") : QStringLiteral("AutoRecvNo");
}

} // namespace

RunningNumber::RunningNumber(const SettingsFile &file, Counter counter, bool fixedName)
    : m_file(file), m_counter(counter), m_fixedName(fixedName)
{
    if (!m_fixedName)
        m_number = next(m_file.ReadSetting(QLatin1String(kSectionSettings), keyOf(counter)), counter);
}

QString RunningNumber::text() const
{
    return m_fixedName ? QString() : QStringLiteral("%1").arg(m_number, 5, 10, QLatin1Char('0'));
}

void RunningNumber::Commit() const
{
    m_file.WriteSetting(QLatin1String(kSectionSettings), keyOf(m_counter),
                        m_fixedName ? QStringLiteral("0") : text());
}

int RunningNumber::next(const QString &stored, Counter counter)
{
    bool ok = false;
    qlonglong last = stored.trimmed().toLongLong(&ok, 10);
    if (!ok || last < 0)
        last = 0;
    if (last + 1 > 99999)
        return counter == AutoCaptNo ? 1 : 0;
    return int(last + 1);
}
