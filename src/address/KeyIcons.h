// The padlocks the address book puts before a peer's name: closed for a pinned key, red and
// open for a key that changed and waits for the user.
#pragma once

#include <QIcon>

namespace KeyIcons {

QIcon pinned();
QIcon changed();

} // namespace KeyIcons
