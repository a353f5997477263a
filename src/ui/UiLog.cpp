#include "ui/UiLog.h"

Q_LOGGING_CATEGORY(lcUi, "zorvin.ui", QtInfoMsg)
