// The logging category of the capture windows and their follow-ups ("zorvin.capture"), off
// by default: QT_LOGGING_RULES="zorvin.capture.debug=true" shows what they did.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCapture)
