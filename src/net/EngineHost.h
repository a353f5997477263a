// The questions the headless engine must have answered: a message box with its buttons.
// Everything else the engine tells the windows goes through EngineEvents' signals.
// The GUI implements it with real message boxes; tests implement it to record and answer.
#pragma once

#include <QString>
#include <QtGlobal>

class EngineHost
{
  public:
    virtual ~EngineHost() = default;

    // A message box with the platform's numeric style (16 error, 32 question,
    // 48 warning, 64 information; 1 OK/Cancel, 4 Yes/No, 5 Retry/Cancel; 256 second
    // button default). Returns the button: 1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No.
    virtual int ShowMessageBox(const QString &text, int style) = 0;
};

// Button numbers and style flags of ShowMessageBox.
namespace MsgBox {
inline constexpr int IdOk = 1, IdCancel = 2, IdRetry = 4, IdYes = 6, IdNo = 7;
inline constexpr int OkOnly = 0, OkCancel = 1, YesNo = 4, RetryCancel = 5;
inline constexpr int Critical = 16, Question = 32, Exclamation = 48, Information = 64;
inline constexpr int DefaultButton2 = 256;
} // namespace MsgBox
