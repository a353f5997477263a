// Turns a picture or files into send jobs of the engine: the send dialog's send and the
// automatic transfer after a capture. Each item (the picture, each file) takes one job
// number, and so one temporary bitmap and one archive name, shared by its jobs to every
// recipient; the engine packs the item once and deletes the shared files after the last
// of those jobs. Failures go to the send-result list.
#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

class ModZorvin;
class NetEngine;
class QImage;

struct SendRecipient
{
    QString name;
    QString address;
};

// The send dialog's choices, the same for every job of one send.
struct SendChoices
{
    int notice = 2; // 0 none, 1 success only, 2 success and failure, 3 failure only
    QChar faceDown = QLatin1Char('N');
    QChar passwordLock = QLatin1Char('N');
    QChar openReceipt = QLatin1Char('N');
};

class SendJobs
{
  public:
    explicit SendJobs(NetEngine &engine);

    // The picture to every recipient, in list order, as one fresh bitmap in the send folder.
    // `sourceFile` (where the picture came from, or "") goes instead when its name is
    // shorter than 60 characters and it is a JPEG, GIF or icon file or not larger than the
    // bitmap. Returns the number of jobs queued.
    int SendPicture(const QImage &picture, const QString &sourceFile, const QList<SendRecipient> &recipients,
                    const SendChoices &choices = {});
    // Files (full paths) to every recipient, the last file first; for each file the
    // recipients in list order. Returns the number of jobs queued.
    int SendFiles(const QStringList &paths, const QList<SendRecipient> &recipients,
                  const SendChoices &choices = {});
    // After a capture: the picture to every available auto-transfer target of the address
    // book, stopping at the first one for whom no job slot is free.
    int AutoTranCapture(const QImage &picture);

    // The files a hand-over tag names: one path, or a folder followed by NUL-separated
    // names. Empty for an empty tag.
    static QStringList FilesOfTag(const QString &tag);

  private:
    enum class Origin { SendDialog, AutoTransfer };
    int queuePicture(const QImage &picture, const QString &sourceFile, const QList<SendRecipient> &recipients,
                     const SendChoices &choices, Origin origin);
    // False when every slot is taken.
    bool queue(const SendRecipient &to, QChar kind, const QString &path, const QString &archiveName,
               const SendChoices &choices);
    QString nextStem();
    void report(const QString &name, QChar kind, const QString &info);

    NetEngine &m_engine;
    ModZorvin &m_ctx;
};
