// The capture window's side of its capture engine: answers the facts the engine asks for
// as a command starts, hides, restores and tells what the engine says, and when a picture
// arrives draws it and runs the follow-ups in their order (clipboard, automatic save,
// automatic transfer).
#pragma once

#include <QObject>
#include <QSize>

class CaptureEngine;
struct CaptureWindowFacts;
class FrmMain;
class ModZorvin;
class NetEngine;
class QImage;
struct CapturedPicture;

// What the follow-ups of one capture did, for the notice of a capture that leaves the
// capture window hidden.
struct CaptureFollowUps
{
    int mode = 0;
    QSize size;
    bool copied = false;
    // The automatic save ends later (an archive is written, or it waits for one); its
    // autoSaveFinished comes then. Otherwise a save, if any, has already reported.
    bool savePending = false;
    // Automatic transfer jobs queued.
    int sentTo = 0;
    bool windowShown = false;
    // A capture that tells nothing (the interval capture).
    bool quiet = false;
};

class CaptureArrival : public QObject
{
    Q_OBJECT
  public:
    CaptureArrival(FrmMain &window, CaptureEngine &capture, ModZorvin &ctx, NetEngine &engine);

    // What the engine asks of `window` as a command starts.
    static CaptureWindowFacts factsOf(const FrmMain &window);

  signals:
    // After every picture's follow-ups (before the engine's captured).
    void followUpsDone(const CaptureFollowUps &done);

  private:
    void onPictureTaken(const CapturedPicture &shot);
    // The follow-ups of a capture; the second returns the number of transfer jobs queued.
    void autoSaveCapture(const QImage &picture);
    int autoTranCapture(const QImage &picture);

    FrmMain &m_window;
    ModZorvin &m_ctx;
    NetEngine &m_engine;
};
