// An address-store row as the tests write it: unavailable until presence says otherwise.
#pragma once

#include "net/AddressEntry.h"

inline AddressEntry addressRow(const QString &name, const QString &ip, const QString &type = QString(),
                               const QString &group = QString(), const QString &favourite = QString())
{
    AddressEntry e;
    e.EntryName = name;
    e.EntryAddress = ip;
    e.EntryType = type;
    e.EntryState = kStateUnavail;
    e.EntryGroup = group;
    e.EntryFavourite = favourite;
    return e;
}
