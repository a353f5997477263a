// The private desktop a GUI benchmark runs on: its own HOME, XDG folders and TMPDIR, as
// every test has under ctest, and its own X server.
#pragma once

#include "support/IsolatedHome.h"
#include "support/XvfbSession.h"

#include <QSize>

#include <cstdio>

struct BenchDesktop
{
    IsolatedHome home;
    XvfbSession session;

    BenchDesktop() { home.apply(); }

    // False, with the reason on stderr, when the X server did not start.
    bool start(QSize size, bool windowManager)
    {
        if (session.start(size, windowManager))
            return true;
        std::fprintf(stderr, "no X server: %s\n", qPrintable(session.errorText()));
        return false;
    }
};
