// One direction of a sealed connection: a stream header, then records of a four-byte length
// (big-endian, the sealed bytes that follow) and the sealed bytes. Each record is encrypted
// and authenticated in order by libsodium's secret stream, and the last carries its final
// tag, so a stream cut short, reordered, replayed or altered never reads as whole.
#pragma once

#include "net/ConnectionKeys.h"

#include <QByteArray>
#include <QByteArrayView>
#include <memory>

class SealedWriter
{
  public:
    explicit SealedWriter(const ConnectionKeys::SessionKeys &keys);
    ~SealedWriter();
    SealedWriter(const SealedWriter &) = delete;
    SealedWriter &operator=(const SealedWriter &) = delete;

    // The stream header, once, before the first record.
    QByteArray start();
    // `plain` as one record (at most kMaxRecord bytes); `final` closes the stream.
    QByteArray seal(QByteArrayView plain, bool final = false);
    // Bytes a record adds to what it carries.
    static constexpr int kOverhead = 4 + 17;
    static constexpr int kMaxRecord = 1024 * 1024;

  private:
    struct State;
    std::unique_ptr<State> m_state;
    bool m_started = false;
    bool m_closed = false;
};

class SealedReader
{
  public:
    enum class Status {
        NeedMore,
        // A record was opened into `plain`.
        Record,
        // The stream's last record was opened into `plain`; anything after it is Broken.
        Final,
        // The stream does not verify (or runs on past its end); nothing more is read.
        Broken,
    };

    explicit SealedReader(const ConnectionKeys::SessionKeys &keys);
    ~SealedReader();
    SealedReader(const SealedReader &) = delete;
    SealedReader &operator=(const SealedReader &) = delete;

    void feed(QByteArrayView bytes);
    // The next record from what was fed; call again until NeedMore.
    Status next(QByteArray &plain);
    // Bytes that would complete the stream header or the record under way; reading no more
    // than this from a socket keeps one record at a time waiting here.
    qsizetype wanted() const;
    bool isFinished() const { return m_finished; }
    bool isBroken() const { return m_broken; }

  private:
    Status fail();

    struct State;
    std::unique_ptr<State> m_state;
    QByteArray m_waiting;
    qsizetype m_at = 0;
    bool m_started = false;
    bool m_finished = false;
    bool m_broken = false;
};
