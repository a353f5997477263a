// The texts a message window builds: the quotation of a reply, the forward, the print
// headers, the length limit and the reading of a text file. Plain functions, so that
// their exact characters are tested without a window.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace MessageTexts {

// A message holds at most this many characters (line breaks as CR LF count two), so that
// the datagram with its 12-character head stays within the 8192-character limit.
inline constexpr int kMaxTextChars = 8168;
// Reading a text file stops after the line that takes the text beyond this many characters.
inline constexpr int kFileStopChars = 4090;
// As many bytes of a text file as can give kMaxTextChars characters after the stop.
inline constexpr int kFileReadBytes = 64 * 1024;

inline const QString kCrLf = QStringLiteral("\r\n");

// The text cut to kMaxTextChars, never between the halves of a surrogate pair or of a
// CR LF.
QString limited(const QString &text);

// The editor shows "\n" line breaks; messages carry CR LF. A lone CR also breaks a line.
QString toEditor(const QString &wire);
QString toWire(const QString &editor);

// "AT [ date time ]", "<from> wrote:" and the received text with "> " quoting; line
// breaks at the end of the received text give no empty quoted lines.
QString replyText(const QString &received, const QString &date, const QString &time, const QString &from);

// The forward header, then the received text unchanged.
QString forwardText(const QString &ownName, const QString &from, const QString &date, const QString &time,
                    const QString &received);

// The printed head of a reply ("To: " line, a rule of 37 "-") and of a received message
// (date and sender lines, a rule as long as that line with its CR LF).
QString replyPrintHead(const QString &toLine);
QString receivedPrintHead(const QString &dateLine, const QString &fromLine);

// The start of a text file as a message: UTF-8, or CP932 when the bytes are not UTF-8
// (files from colleagues on Windows). Lines are taken, each ending in CR LF, until the
// text holds more than kFileStopChars characters; the line that crossed stays.
QString fromTextFile(QByteArrayView bytes);

// A text saved to a file: UTF-8, the text followed by CR LF.
QByteArray toTextFile(const QString &text);

} // namespace MessageTexts
