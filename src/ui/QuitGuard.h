// Windows that hold something the user would lose at quit (an unopened picture or
// message, a picture pinned to the desktop) say so through this interface; the quit
// command asks before closing them.
#pragma once

class QuitGuard
{
public:
    enum Concern { None, UnopenedImage, UnopenedMessage, DesktopImage };
    virtual ~QuitGuard() = default;
    virtual Concern quitConcern() const = 0;
};
