// The back-end for Wayland sessions: the screen's pixels come from the desktop's screenshot
// portal on request, the work area is Qt's available geometry, and no program may look at
// or grab the other programs' windows.
#pragma once

#include "platform/NullScreenPlatform.h"
#include "platform/wayland/ScreenshotPortal.h"

// No window queries and no pointer grab (the compositor keeps those to itself): those answers
// are the null back-end's.
class WaylandScreenPlatform : public NullScreenPlatform
{
  public:
    WaylandScreenPlatform();
    ~WaylandScreenPlatform() override;

    QString name() const override { return QStringLiteral("wayland"); }
    // The last picture from the portal when there is one (its size is the screen in
    // device pixels), otherwise Qt's primary screen.
    QSize screenSize() const override;
    // Cut from the last picture the portal delivered (requestScreen); null before one came.
    QImage grabRect(const QRect &rect) override;
    std::optional<QRect> workArea() const override;
    QPoint cursorPos() const override;

    bool screenOnRequest() const override { return true; }
    void requestScreen(ScreenRequest kind, QObject *context, ScreenReady done) override;
    bool offersUserPick() const override;
    bool placesWindowsItself() const override { return true; }

  private:
    ScreenshotPortal m_portal;
    QImage m_screen;
};
