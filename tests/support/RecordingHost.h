// Answers every message box with OK and keeps what it was asked, in order.
#pragma once

#include "net/EngineHost.h"

#include <QStringList>

class RecordingHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &text, int) override
    {
        asked << text;
        return MsgBox::IdOk;
    }
    QStringList asked;
};
