// The diagnostics of one engine as plain text, for `zorvin --diagnose` and the copy
// button of the diagnostics window: addresses, sockets, counts, peers and the last datagrams.
#pragma once

#include <QString>

class NetEngine;

namespace NetDiagnosisReport {

// The name of the interface whose address or subnet holds `ip`, "" when none does.
QString interfaceOf(const QString &ip);
QString text(const NetEngine &engine);

} // namespace NetDiagnosisReport
