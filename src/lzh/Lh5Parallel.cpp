// Packing on several threads: the input is cut into pieces that the single-threaded
// encoder packs side by side, each with the dictionary before it, and their bit streams are
// joined in order into one -lh5- stream.
#include "lzh/Crc16.h"
#include "lzh/Lh5Encoder.h"
#include "lzh/Lh5Piece.h"
#include "lzh/LhBitWriter.h"
#include "lzh/LhFormat.h"
#include "lzh/LzhErrors.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lzh {

namespace {

// One piece of a parallel pack: the window before it, then its own bytes, and what it
// packed to.
struct Piece
{
    std::unique_ptr<uint8_t[]> input =
        std::make_unique_for_overwrite<uint8_t[]>(kLh5Window + kParallelPieceBytes + kPieceSlack);
    size_t size = 0;
    uint32_t dictionaryBytes = 0;
    MemorySink packed;
    uint64_t bits = 0;
    int result = Ok;
    bool done = false;

    void pack(const EncoderTuning &tuning)
    {
        packed.bytes.clear();
        std::memset(input.get() + size, 0, kPieceSlack);
        result = encodeLh5Piece(input.get(), size, dictionaryBytes, packed, tuning, bits);
    }
};

// Long-lived threads that pack the pieces handed to them, oldest first.
class PiecePacker
{
  public:
    PiecePacker(const EncoderTuning &tuning, int threads) : m_tuning(tuning)
    {
        for (int k = 0; k < threads; ++k)
            m_threads.emplace_back([this] { work(); });
    }
    // Pieces still queued are dropped: the caller returns early only on a failure.
    ~PiecePacker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }

    void submit(Piece *piece)
    {
        {
            std::lock_guard lock(m_mutex);
            piece->done = false;
            m_queue.push_back(piece);
        }
        m_wake.notify_one();
    }

    void waitFor(const Piece *piece)
    {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [piece] { return piece->done; });
    }

  private:
    void work()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            Piece *piece = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            piece->pack(m_tuning);
            lock.lock();
            piece->done = true;
            m_finished.notify_all();
        }
    }

    const EncoderTuning m_tuning;
    std::mutex m_mutex;
    std::condition_variable m_wake;     // a piece was queued, or the end came
    std::condition_variable m_finished; // a piece was packed
    std::deque<Piece *> m_queue;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

// Reads the next piece behind the window that precedes it; false at the end of the input.
bool readPiece(ByteSource &in, Piece &piece, const std::vector<uint8_t> &window, int &r)
{
    std::copy(window.begin(), window.end(), piece.input.get());
    piece.dictionaryBytes = uint32_t(window.size());
    piece.size = window.size();
    const size_t end = window.size() + kParallelPieceBytes;
    while (piece.size < end) {
        const size_t n = in.read(piece.input.get() + piece.size, end - piece.size);
        if (in.failed()) {
            r = ErrSourceRead;
            return false;
        }
        if (n == 0)
            break;
        piece.size += n;
    }
    return piece.size > piece.dictionaryBytes;
}

} // namespace

int encodeLh5Parallel(ByteSource &in, ByteSink &out, EncodeResult &result, uint64_t maxInput,
                      const EncoderTuning &tuning, int threads)
{
    threads = std::max(1, threads);
    // A pipeline: this thread reads a few pieces ahead and joins the packed ones in order
    // while the workers pack the next; two pieces per worker keep every core busy when one
    // piece takes longer than its neighbours, and bound the memory.
    std::vector<std::unique_ptr<Piece>> pieces;
    std::vector<Piece *> idle;
    for (int k = 0; k < 2 * threads; ++k) {
        pieces.push_back(std::make_unique<Piece>());
        idle.push_back(pieces.back().get());
    }
    std::deque<Piece *> inFlight;
    PiecePacker packer(tuning, threads);
    std::vector<uint8_t> window; // the last dictionary's worth of input read so far
    BitWriter bits(out);
    uint64_t total = 0;
    uint16_t crc = 0;
    bool eof = false;
    for (;;) {
        while (!eof && !idle.empty()) {
            Piece &piece = *idle.back();
            int r = Ok;
            if (!readPiece(in, piece, window, r)) {
                if (r != Ok)
                    return r;
                eof = true;
                break;
            }
            const size_t fresh = piece.size - piece.dictionaryBytes;
            crc = crc16Update(crc, piece.input.get() + piece.dictionaryBytes, fresh);
            total += fresh;
            if (total > maxInput)
                return ErrSourceTooLarge;
            const size_t kept = std::min<size_t>(piece.size, kLh5Window);
            window.assign(piece.input.get() + piece.size - kept, piece.input.get() + piece.size);
            eof = fresh < kParallelPieceBytes;
            idle.pop_back();
            inFlight.push_back(&piece);
            packer.submit(&piece);
        }
        if (inFlight.empty())
            break;
        // Each piece ends with a whole block, so the joined bit streams are one valid
        // -lh5- stream.
        Piece &piece = *inFlight.front();
        packer.waitFor(&piece);
        if (piece.result != Ok)
            return piece.result;
        bits.putBits(piece.packed.bytes.data(), piece.bits);
        if (!bits.ok())
            return ErrArchiveWrite;
        inFlight.pop_front();
        idle.push_back(&piece);
    }
    if (!bits.finish())
        return ErrArchiveWrite;
    result.originalSize = total;
    result.packedSize = bits.written();
    result.crc = crc;
    return Ok;
}

} // namespace lzh
