// Keeps a window, frame included, inside the available area of its screen (no part under
// a panel or off the edge), however large it asks to be or wherever it was put.
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

// From its next showing on: a window placed by nobody is centred on the screen under the
// pointer, a placed one is moved back inside, and one larger than the area is shrunk. Once
// the window manager has told the real frame, the window is checked once more.
void KeepOnScreen(QWidget *window);

// Where a window with client rectangle `client` and frame `frame` goes inside `available`:
// the client rectangle, moved (and shrunk) as little as needed; centred when `centre`.
QRect FitOnScreen(const QRect &client, const QMargins &frame, const QRect &available, bool centre);
