// The shared window routines: message boxes with the platform's numeric styles, window
// flashing, the always-on-top layer, and the image writers that are present.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class QWidget;

// A window that covers the screen on the always-on-top layer sets this property to true:
// it gives way to a message box while the box is up.
inline constexpr char kGivesWayToNotices[] = "givesWayToNotices";

// Shows a message box with the program's title and returns the button pressed
// (1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No).
int ShowMessageBox(const QString &text, int style, QWidget *parent = nullptr);

// The title every message box carries.
QString MessageBoxTitle();

// The warning for a settings write that failed: the file, then "key: reason" of the first
// key refused.
QString SettingsNotSavedText(const QString &settingsPath, const QString &keyAndReason);

// Flashes the window's task-bar entry (urgency) until it is activated, or stops it.
void FlashWindow(QWidget *window, bool on);

// Puts a window on or off the always-on-top layer without moving or sizing it.
void SetTopMost(QWidget *window, bool on);

// 2 when Qt can write JPEG and PNG, 1 when only JPEG, 0 otherwise.
uint8_t DetectImageLibLevel();

// Plays a wave file without waiting for it (through the desktop's sound player, paplay or
// aplay); false when the file or a player is missing.
bool PlayWaveFile(const QString &path);

// Writes a text the user also sees in a box to stderr, for users who started the program
// from a terminal; CR line breaks become newlines.
void TellTerminal(const QString &text);

// Opens a file or folder with the desktop's opener. A machine without one (no xdg-open)
// fails silently otherwise: the failure goes to stderr with the path.
bool OpenWithDesktop(const QString &path);

// Starts a program without waiting for it; a failure goes to stderr with the program.
bool StartProgram(const QString &program, const QStringList &arguments);
