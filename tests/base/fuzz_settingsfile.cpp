// Feeds arbitrary bytes as the contents of zorvin.ini to the profile rules: nothing may
// crash, a value never reads longer than 1023 bytes, a written key reads back as written,
// and every line the write did not name stays as it was.
#include "base/AnsiCodec.h"
#include "base/SettingsFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray before(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString section = QStringLiteral("ZorvinSetting");
    const QString grp = SettingsFile::valueIn(before, section, QStringLiteral("grp"));
    const QString other =
        SettingsFile::valueIn(before, QStringLiteral("AdrEdit"), QStringLiteral("AvailOnly"));
    const QString name = SettingsFile::valueIn(before, section, QStringLiteral("Name"));
    // Invalid bytes decode to one character each, which encodes to one byte.
    if (AnsiCodec::encode(name).size() > SettingsFile::kMaxValueBytes)
        __builtin_trap();

    const QString written = QStringLiteral("ぞるびん ") + name.left(8);
    const std::optional<QByteArray> after =
        SettingsFile::withValue(before, QStringLiteral("zorvinsetting"), QStringLiteral("NAME"), written);
    if (!after)
        __builtin_trap();
    // The reader drops blanks and tabs around a value, and nothing else.
    QString expected = AnsiCodec::decode(AnsiCodec::encode(written));
    while (expected.endsWith(QLatin1Char(' ')) || expected.endsWith(QLatin1Char('\t')))
        expected.chop(1);
    if (SettingsFile::valueIn(*after, section, QStringLiteral("Name")) != expected)
        __builtin_trap();
    if (SettingsFile::valueIn(*after, section, QStringLiteral("Grp")) != grp)
        __builtin_trap();
    if (SettingsFile::valueIn(*after, QStringLiteral("AdrEdit"), QStringLiteral("AvailOnly")) != other)
        __builtin_trap();
    // Every other line stays: what the write removed from the old bytes (between the common
    // start and the common end) lies within one line.
    qsizetype head = 0, tail = 0;
    const qsizetype shorter = qMin(before.size(), after->size());
    while (head < shorter && before[head] == after->at(head))
        ++head;
    while (tail < shorter - head && before[before.size() - 1 - tail] == after->at(after->size() - 1 - tail))
        ++tail;
    const QByteArray removed = before.mid(head, before.size() - head - tail);
    if (removed.contains('\r') || removed.contains('\n'))
        __builtin_trap();
    return 0;
}
