// The headless engine of one running copy: the address store, the sockets on port 62410,
// presence, transfers, message delivery, the message log and the archiver calls.
// It links QtCore and QtNetwork only and reaches windows through EngineHost.
#pragma once

#include <QObject>

class ModZorvin;
class EngineHost;

class NetEngine : public QObject
{
    Q_OBJECT
public:
    NetEngine(ModZorvin &ctx, EngineHost &host, QObject *parent = nullptr);
    ~NetEngine() override;

    ModZorvin &context() const { return m_ctx; }
    EngineHost &host() const { return m_host; }

    // Deletes every file in the send, receive and work folders; failures are ignored.
    void EmptyWorkFolders();
    // Empties the work folders and removes them.
    void RemoveWorkFolders();

private:
    ModZorvin &m_ctx;
    EngineHost &m_host;
};
