// The transfer part of NetEngine: wiring the sender and receiver to the address store,
// the datagram socket, the archiver and the dispatcher's goodbye and stop signals.
#include "net/AddressStore.h"
#include "base/ModZorvin.h"
#include "net/NetEngine.h"
#include "net/TransferReceiver.h"
#include "net/TransferSealing.h"
#include "net/TransferSender.h"

void NetEngine::SetUpTransfers()
{
    TransferLinks links;
    links.archiver = m_archiver.get();
    m_sealing = std::make_unique<TransferSealing>(*m_identity, *m_peerKeys, m_ctx.settings);
    links.sealing = m_sealing.get();
    links.peerVersion = [this](const QString &ip) { return m_addresses->FindAddressByIp(ip).EntryVersion; };
    links.peerName = [this](const QString &ip) { return m_addresses->FindAddressByIp(ip).EntryName; };
    links.sendDatagram = [this](const QString &datagram, const QString &destination) {
        return BCastMsgSend(datagram, destination);
    };
    m_sender = std::make_unique<TransferSender>(m_ctx, m_events, links);
    m_receiver = std::make_unique<TransferReceiver>(m_ctx, m_events, links);
    connect(this, &NetEngine::goodbyeDatagram, m_sender.get(), &TransferSender::onGoodbyeDatagram);
    connect(this, &NetEngine::stopDatagram, m_receiver.get(), &TransferReceiver::onStopDatagram);
}

int NetEngine::QueueSendJob(const SendRequest &request)
{
    return m_sender->QueueSendJob(request);
}

void NetEngine::NxDtSendConReq(const QString &ip)
{
    m_sender->NxDtSendConReq(ip);
}

bool NetEngine::DelSlist(int slot)
{
    return m_sender->DelSlist(slot);
}

bool NetEngine::OpenTransferListener(QString *errorText, int *errorNumber)
{
    return m_receiver->Listen(errorText, errorNumber);
}

void NetEngine::CloseTransfers()
{
    m_sender->CloseAll();
    m_receiver->CloseAll();
}
