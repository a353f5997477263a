// The logging category of the settings file and the process context ("zorvin.settings"),
// off by default: QT_LOGGING_RULES="zorvin.settings.debug=true" shows each write refused.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSettings)
