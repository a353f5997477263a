// The logging category of the platform back-ends ("zorvin.platform"), off by default:
// QT_LOGGING_RULES="zorvin.platform.debug=true" shows what they asked of the desktop.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
