// The address field of the add and modify dialogs: what may be typed, and which texts
// are dotted IPv4 addresses.
#pragma once

#include <QChar>
#include <QString>

// Four decimal numbers from 0 to 255 joined by single full stops. Each of the first three
// has one to three digits; the fourth is only checked for its value. Anything that is not
// a number (blanks, signs, letters, an empty piece) makes the text invalid.
bool IsValidIpAddress(const QString &text);

// The characters the address field takes: the digits 0 to 9, the full stop and backspace.
bool IsAddressFieldChar(QChar c);
