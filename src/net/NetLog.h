// The engine's logging category ("zorvin.net"), off by default:
// QT_LOGGING_RULES="zorvin.net.debug=true" shows what the engine refused, dropped or
// failed to write, for following a fault on the network.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcNet)
