#include "base/CoreLog.h"

Q_LOGGING_CATEGORY(lcSettings, "zorvin.settings", QtInfoMsg)
