// Everything a received-picture viewer needs about one picture that has just arrived.
#pragma once

#include <QString>

struct ArrivedImage
{
    QString path;        // the received file; may be deleted right after the hand-over
    QString machineName; // the viewer's tag: destination of the open receipt, auto-save suffix
    QString displayName; // the sender's display name, "" when unknown
    QString senderIp;
    QString date; // arrival "yyyy/mm/dd"
    QString time; // arrival "hh:mm:ss"
    QString caption;
    // Filled for face-down pictures only.
    QString hideFrom;       // "From: " + display name (or the sender's address)
    QString hideTime;       // "Date: " + date + " Time: " + time
    bool openCheck = false; // the sender asked for an open receipt ("OPENCHECK")
    // How the viewer shows it: 0 at once, 1 face down, 2 face down and password-locked,
    // 9 not shown (closed again after a while).
    int displayKind = 0;
};
