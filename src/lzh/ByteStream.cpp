#include "lzh/ByteStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lzh {

uint64_t ByteSource::skip(uint64_t size)
{
    uint8_t buf[1 << 14];
    uint64_t done = 0;
    while (done < size) {
        const size_t n = read(buf, size_t(std::min<uint64_t>(sizeof buf, size - done)));
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

uint64_t FileSource::skip(uint64_t size)
{
    // Where the position does not fit the standard calls (or the file cannot seek), the
    // bytes are read instead.
    const long here = std::ftell(m_file);
    if (here < 0 || std::fseek(m_file, 0, SEEK_END) != 0)
        return ByteSource::skip(size);
    const long end = std::ftell(m_file);
    // Never past the end: a short skip tells the caller the data is truncated.
    const uint64_t left = end > here ? uint64_t(end - here) : 0;
    const uint64_t step = std::min(size, left);
    if (std::fseek(m_file, long(uint64_t(here) + step), SEEK_SET) != 0) {
        m_failed = true;
        return 0;
    }
    return step;
}

size_t FileSource::read(uint8_t *data, size_t size)
{
    const size_t n = std::fread(data, 1, size, m_file);
    if (n < size && std::ferror(m_file))
        m_failed = true;
    return n;
}

bool FileSink::write(const uint8_t *data, size_t size)
{
    return std::fwrite(data, 1, size, m_file) == size;
}

size_t MemorySource::read(uint8_t *data, size_t size)
{
    const size_t n = std::min(size, m_size - m_pos);
    if (n)
        std::memcpy(data, m_data + m_pos, n);
    m_pos += n;
    return n;
}

bool MemorySink::write(const uint8_t *data, size_t size)
{
    if (size > m_limit - bytes.size())
        return false;
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

size_t LimitedSource::read(uint8_t *data, size_t size)
{
    const size_t want = size_t(std::min<uint64_t>(size, m_left));
    if (want == 0)
        return 0;
    const size_t n = m_inner.read(data, want);
    m_left -= n;
    if (m_inner.failed())
        m_failed = true;
    if (n < want)
        m_truncated = true;
    return n;
}

uint64_t LimitedSource::skip(uint64_t size)
{
    const uint64_t want = std::min(size, m_left);
    if (want == 0)
        return 0;
    const uint64_t n = m_inner.skip(want);
    m_left -= n;
    if (m_inner.failed())
        m_failed = true;
    if (n < want)
        m_truncated = true;
    return n;
}

} // namespace lzh
