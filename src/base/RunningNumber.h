// The five-digit running number of an automatic save (AutoCaptNo for captures, AutoRecvNo for
// received pictures). It lives only in the settings file and advances only once the saved
// file exists, so a failed save reuses the same number next time.
#pragma once

#include "base/SettingsFile.h"

#include <QString>

class RunningNumber
{
  public:
    enum Counter { AutoCaptNo, AutoRecvNo };

    // Reads the counter key unless fixedName (CaptAutoSaveNameConst / RecvAutoSaveNameConst)
    // is set; then no number is used at all.
    RunningNumber(const SettingsFile &file, Counter counter, bool fixedName);

    // The number for the file name: five digits ("00001"), or "" with a fixed name.
    QString text() const;

    // Call only after the file was written: stores the number used, or "0" with a fixed
    // name, so that numbering starts again at 00001 once the fixed name is switched off.
    void Commit() const;

    // The number that follows a stored value: +1, past 99999 back to 1 for captures and 0
    // for received pictures. An empty, non-numeric or negative value counts as 0.
    static int next(const QString &stored, Counter counter);

  private:
    SettingsFile m_file;
    Counter m_counter;
    bool m_fixedName;
    int m_number = 0;
};
