#include "lzh/ByteStream.h"

#include <algorithm>
#include <cstring>

namespace lzh {

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

} // namespace lzh
