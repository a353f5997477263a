// Turns SIGTERM and SIGINT (logout, kill, Ctrl+C) into a Qt signal on the window thread,
// so the program can quit in order instead of dying with its work folders left behind.
#pragma once

#include <QObject>

class QSocketNotifier;

class UnixSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void onNotifierActivated();

    QSocketNotifier *m_notifier = nullptr;
};
