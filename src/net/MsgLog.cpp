#include "net/MsgLog.h"

#include "base/AnsiCodec.h"
#include "base/FolderPath.h"
#include "base/ModZorvin.h"
#include "net/EngineEvents.h"
#include "net/MessageProtocol.h"
#include "net/NetLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kEqualsLine = QString(37, QLatin1Char('='));
const QString kHyphenLine = QString(37, QLatin1Char('-'));
const QString kDefaultLogName = QStringLiteral("CTMSG");
const QString kDefaultShowApp = QStringLiteral("NOTEPAD");

} // namespace

MsgLog::MsgLog(ModZorvin &ctx, EngineEvents &events) : m_ctx(ctx), m_events(events)
{
    m_rateCheck.setInterval(60 * 1000);
    QObject::connect(&m_rateCheck, &QTimer::timeout, &m_rateCheck, [this] { closeEndedWindows(); });
}

QString MsgLog::LogFilePath(const Settings &settings, const QString &programDir, const QDate &day)
{
    const QString folder = settings.MsgLogSavePlace.isEmpty() ? programDir : settings.MsgLogSavePlace;
    QString name = settings.MsgLogName;
    if (name.isEmpty() && settings.MsgLogType == 0)
        name = kDefaultLogName;
    QString suffix;
    switch (settings.MsgLogType) {
    case 1:
        suffix = day.toString(QStringLiteral("yyyy"));
        break;
    case 2:
        suffix = day.toString(QStringLiteral("yyMM"));
        break;
    case 3:
        suffix = day.toString(QStringLiteral("MMdd"));
        break;
    default:
        break;
    }
    return FolderPath::join(folder, name + suffix + QStringLiteral(".log"));
}

QString MsgLog::CurrentLogPath() const
{
    return LogFilePath(m_ctx.settings, m_ctx.ProgramDir, m_clock().date());
}

QByteArray MsgLog::FormatRecord(int direction, int origin, const QString &name, const QString &text,
                                const QString &displayMode, const QStringList &sendList, const QDateTime &now,
                                const QLocale &locale)
{
    QString record = kEqualsLine + kCrLf;
    if (direction == Received) {
        record += QStringLiteral(" From: ") + name + kCrLf;
    } else if (origin == FromSendDialog) {
        for (const QString &to : sendList)
            record += QStringLiteral(" To: ") + to + kCrLf;
    } else {
        record += QStringLiteral(" To: ") + name + kCrLf;
    }

    const QDate day = now.date();
    record += QStringLiteral("  at ") + locale.dayName(day.dayOfWeek(), QLocale::LongFormat) +
              QLatin1Char(' ') + locale.monthName(day.month(), QLocale::ShortFormat) + QLatin1Char(' ') +
              QString::number(day.day()) + now.time().toString(QStringLiteral(" HH:mm:ss")) +
              day.toString(QStringLiteral(" yyyy "));
    if (direction == Sent && origin == FromSendDialog && sendList.size() > 1)
        record += QStringLiteral("(多)");
    if (displayMode == QLatin1String("Y"))
        record += QStringLiteral("(封)");
    else if (displayMode == QLatin1String("L"))
        record += QStringLiteral("(鍵)");
    record += kCrLf + kHyphenLine + kCrLf;

    // A sent message is logged from its datagram: the text follows the 12-character head.
    record += (direction == Received ? text : text.mid(kMsgHeadChars)) + kCrLf;
    // A line made of CR LF, so that two empty lines separate the records.
    record += kCrLf + kCrLf;
    return AnsiCodec::encode(record);
}

void MsgLog::WriteMsgLog(int direction, int origin, const QString &name, const QString &text,
                         const QString &displayMode, const QStringList &sendList) const
{
    if (m_ctx.settings.MsgLog != 1)
        return;
    // The weekday and month follow the program's locale, which is the system's unless the
    // program chose another (QLocale::setDefault).
    const QDateTime now = m_clock();
    append(now, FormatRecord(direction, origin, name, text, displayMode, sendList, now, QLocale()));
}

void MsgLog::append(const QDateTime &now, const QByteArray &bytes) const
{
    QFile file(LogFilePath(m_ctx.settings, m_ctx.ProgramDir, now.date()));
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Append) &&
                         file.write(bytes) == bytes.size() && file.flush();
    if (written) {
        m_failing = false;
        return;
    }
    qCDebug(lcNet) << "message log not written:" << file.fileName() << file.errorString();
    // The message itself goes on; whoever shows the engine's news is told once.
    if (!m_failing)
        emit m_events.msgLogWriteFailed(file.fileName(), file.errorString());
    m_failing = true;
}

QByteArray MsgLog::FormatDroppedLine(const QString &name, const QString &address, int dropped)
{
    return AnsiCodec::encode(
        QStringLiteral("-- ") + name + QLatin1Char('/') + address +
        QStringLiteral(" からのﾒｯｾｰｼﾞ %1 件は、多すぎるためﾛｸﾞに記録していません。 --").arg(dropped) + kCrLf +
        kCrLf + kCrLf);
}

bool MsgLog::windowEnded(const RateWindow &window, const QDateTime &now) const
{
    // A clock set back ends the minute too.
    const qint64 elapsed = window.start.msecsTo(now);
    return elapsed >= 60 * 1000 || elapsed < 0;
}

void MsgLog::WriteReceivedMsgLog(const QString &address, const QString &name, const QString &text,
                                 const QString &displayMode)
{
    if (m_ctx.settings.MsgLog != 1)
        return;
    const QDateTime now = m_clock();
    auto window = m_windows.find(address);
    if (window != m_windows.end() && windowEnded(*window, now)) {
        if (window->dropped > 0)
            append(now, FormatDroppedLine(window->name, address, window->dropped));
        m_windows.erase(window);
        window = m_windows.end();
    }
    if (window == m_windows.end())
        window = m_windows.insert(address, RateWindow{now, 0, 0, QString()});
    if (!m_rateCheck.isActive())
        m_rateCheck.start();
    if (window->written >= kReceivedRecordsPerMinute) {
        ++window->dropped;
        window->name = name;
        return;
    }
    ++window->written;
    WriteMsgLog(Received, 0, name, text, displayMode);
}

void MsgLog::closeEndedWindows()
{
    const QDateTime now = m_clock();
    for (auto window = m_windows.begin(); window != m_windows.end();) {
        if (!windowEnded(*window, now)) {
            ++window;
            continue;
        }
        if (window->dropped > 0 && m_ctx.settings.MsgLog == 1)
            append(now, FormatDroppedLine(window->name, window.key(), window->dropped));
        window = m_windows.erase(window);
    }
    if (m_windows.isEmpty())
        m_rateCheck.stop();
}

MsgLog::ViewerCommand MsgLog::ViewerCommandFor(const QString &showApp, const QString &path)
{
    const QString app = showApp.trimmed().isEmpty() ? kDefaultShowApp : showApp.trimmed();
    // The whole setting names the program when it is a file or on the search path, so a
    // program path with blanks needs no quoting; otherwise it is a command line.
    if (QFileInfo(app).isFile() || !QStandardPaths::findExecutable(app).isEmpty())
        return {app, {path}};
    if (app.compare(kDefaultShowApp, Qt::CaseInsensitive) == 0 ||
        app.compare(QStringLiteral("NOTEPAD.EXE"), Qt::CaseInsensitive) == 0)
        return {};
    QStringList words = QProcess::splitCommand(app);
    if (words.isEmpty())
        return {};
    const QString program = words.takeFirst();
    words.append(path);
    return {program, words};
}

void MsgLog::ShowMsgLog() const
{
    const QString path = CurrentLogPath();
    const ViewerCommand command = ViewerCommandFor(m_ctx.settings.MsgLogShowApp, path);
    emit m_events.logViewerRequested(command.program, command.arguments, path);
}
