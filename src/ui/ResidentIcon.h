// What the windows may ask of the program's resident icon: a short notice beside it and
// its menu at the pointer. The shell's tray icon answers; the windows never include it.
#pragma once

class QString;

class ResidentIcon
{
  public:
    virtual ~ResidentIcon() = default;
    // A short notice at the icon (or in the stand-in window while there is no tray).
    virtual void ShowNotice(const QString &text) = 0;
    // The resident menu at the pointer.
    virtual void TrayPopupMenu() = 0;
};
