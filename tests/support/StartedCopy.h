// A copy of the program that a test starts as a process of its own. One still running at the
// end of its scope is asked to quit, so that it removes its work folders as at a logout, and
// is killed when it has not ended ten seconds later.
#pragma once

#include "support/TestPort.h"

#include <QProcess>

#include <csignal>
#include <memory>

struct StartedCopy
{
    // The arguments that keep a copy at `address` of loopback on the test's port, its data in
    // `dataDir`: its announcements and goodbyes reach itself only.
    static QStringList onLoopback(const QString &dataDir, const QString &address)
    {
        return {QStringLiteral("--data-dir"),
                dataDir,
                QStringLiteral("--bind-address"),
                address,
                QStringLiteral("--broadcast-address"),
                address,
                QStringLiteral("--port"),
                QString::number(TestPort::port())};
    }
    // `environment` with the windows drawn offscreen, for a copy that needs no display.
    static QProcessEnvironment
    offscreen(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
    {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return environment;
    }

    // Starts `program` (the copy, or a command that runs it); false when it did not start.
    bool start(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        process->setProcessEnvironment(environment);
        process->start(program, arguments);
        return process->waitForStarted();
    }

    StartedCopy() = default;
    StartedCopy(StartedCopy &&) = default;
    StartedCopy &operator=(StartedCopy &&) = delete;
    ~StartedCopy()
    {
        if (!process || process->state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process->processId()), SIGTERM);
        if (!process->waitForFinished(10000))
            process->kill();
        process->waitForFinished();
    }

    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
};
