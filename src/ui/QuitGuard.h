// Windows that hold something the user would lose at quit (an unopened picture or
// message, a picture pinned to the desktop) say so through this interface; the quit
// command asks before closing them.
#pragma once

#include <QList>

class QuitGuard
{
public:
    enum Concern { None, UnopenedImage, UnopenedMessage, DesktopImage };
    virtual ~QuitGuard() = default;
    virtual Concern quitConcern() const = 0;
    // A window that holds several items names every concern among them.
    virtual QList<Concern> quitConcerns() const { return {quitConcern()}; }
};
