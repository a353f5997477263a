// The shared window routines: message boxes with the platform's numeric styles, window
// flashing, the always-on-top layer, and the image writers that are present.
#pragma once

#include <QString>
#include <cstdint>

class QWidget;

// Shows a message box with the program's title and returns the button pressed
// (1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No).
int ShowMessageBox(const QString &text, int style, QWidget *parent = nullptr);

// The title every message box carries.
QString MessageBoxTitle();

// Flashes the window's task-bar entry (urgency) until it is activated, or stops it.
void FlashWindow(QWidget *window, bool on);

// Puts a window on or off the always-on-top layer without moving or sizing it.
void SetTopMost(QWidget *window, bool on);

// 2 when Qt can write JPEG and PNG, 1 when only JPEG, 0 otherwise.
uint8_t DetectImageLibLevel();

// Plays a wave file without waiting for it (through the desktop's sound player, paplay or
// aplay); false when the file or a player is missing.
bool PlayWaveFile(const QString &path);
