// What the engine hands to the windows when a message datagram arrives: everything the
// received message window shows and keeps, already taken apart and checked.
#pragma once

#include "base/ModZorvin.h"

#include <QString>

struct ReceivedMessage
{
    QString senderAddress; // the window's tag; open receipts go back here
    QString senderName;    // the address book's name for that address, may be empty
    QString text;          // characters 13 to the end of the datagram
    QChar displayMode;     // 'N' shown at once, 'Y' face down, 'L' password-locked
    QString messageId;     // characters 9-10 as received ("07", "  " from old peers)
    bool receiptWanted = false;
    bool openCheck = false; // opening this closed message sends "captOP" + "M"
    QString arrivalDate;    // "yyyy/mm/dd"
    QString arrivalTime;    // "hh:mm:ss"

    // The sender name, or the address when the book has no name.
    QString fromName() const { return senderName.isEmpty() ? senderAddress : senderName; }
    // The product name, " From ", the book's name (possibly empty), "/" and the address.
    QString caption() const
    {
        return QString::fromUtf8(kProductName) + QStringLiteral(" From ") + senderName + QLatin1Char('/') +
               senderAddress;
    }
    QString fromLine() const { return QStringLiteral("From: ") + fromName(); }
    QString dateLine() const
    {
        return QStringLiteral("Date: ") + arrivalDate + QStringLiteral(" Time: ") + arrivalTime;
    }
    bool isClosed() const { return displayMode != QLatin1Char('N'); }
};
