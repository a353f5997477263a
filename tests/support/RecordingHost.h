// The engine host of the tests: keeps every message box it is asked, in order with its style,
// answers from a script (OK when none is left) and, once listening, keeps what the engine reports.
#pragma once

#include "net/EngineEvents.h"
#include "net/EngineHost.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

// A line the engine added to the send results (sendResultAdded).
struct SendLine
{
    QString name, kind;
    int result;
    QString info;
};
// A line the engine added to the received list (recvInfoAdded).
struct RecvLine
{
    QString name;
    int result;
    QString info;
};

class RecordingHost : public EngineHost
{
  public:
    int ShowMessageBox(const QString &text, int style) override
    {
        asked << text;
        styles << style;
        if (whileAsking)
            whileAsking();
        return answers.isEmpty() ? unscripted : answers.takeFirst();
    }

    // Records what `events` reports from now on. A picture is read while its signal runs,
    // as a viewer does, since the engine may remove the file afterwards.
    void listen(EngineEvents &events)
    {
        QObject::connect(&events, &EngineEvents::sendResultAdded, &events,
                         [this](const QString &name, const QString &kind, int result, const QString &info) {
                             sent.append({name, kind, result, info});
                         });
        QObject::connect(&events, &EngineEvents::recvInfoAdded, &events,
                         [this](const QString &name, int result, const QString &info) {
                             received.append({name, result, info});
                         });
        QObject::connect(&events, &EngineEvents::imageArrived, &events, [this](const ArrivedImage &image) {
            images.append(image);
            QFile f(image.path);
            imageBytes.append(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing"));
        });
        QObject::connect(&events, &EngineEvents::messageArrived, &events,
                         [this](const ReceivedMessage &message) { arrived.append(message); });
        QObject::connect(&events, &EngineEvents::soundRequested, &events,
                         [this](int mode) { sounds.append(mode); });
        QObject::connect(&events, &EngineEvents::folderOpenRequested, &events,
                         [this](const QString &path) { folders.append(path); });
        QObject::connect(&events, &EngineEvents::logViewerRequested, &events,
                         [this](const QString &program, const QStringList &arguments, const QString &path) {
                             logViews << QStringList{program, arguments.join(u' '), path};
                         });
        // Every presence change as "ip|state|name", in order.
        QObject::connect(&events, &EngineEvents::peerUpdating, &events,
                         [this](const QString &name, const QString &ip, const QString &state) {
                             updates.append(ip + u'|' + state + u'|' + name);
                         });
    }

    // The questions.
    QStringList asked;
    QList<int> styles;
    QList<int> answers;                // taken in order
    int unscripted = MsgBox::IdOk;     // once `answers` is used up
    std::function<void()> whileAsking; // runs while a question is "open"

    // What the engine reported since listen().
    QList<SendLine> sent;
    QList<RecvLine> received;
    QList<ArrivedImage> images;
    QList<QByteArray> imageBytes; // each picture's bytes when it arrived
    QList<ReceivedMessage> arrived;
    QList<int> sounds;
    QStringList folders;
    QList<QStringList> logViews; // program, its arguments joined by spaces, the log's path
    QStringList updates;
};
