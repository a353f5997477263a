// The logging category of the windows ("zorvin.ui"), off by default:
// QT_LOGGING_RULES="zorvin.ui.debug=true" shows what a window could not save or show.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUi)
