#include "pictures/CaptureLog.h"

Q_LOGGING_CATEGORY(lcCapture, "zorvin.capture", QtInfoMsg)
