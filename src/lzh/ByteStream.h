// The byte source and sink the coders and the archive reader work on, so that the
// same code serves files, memory (tests, the fuzz target) and size-limited views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace lzh {

class ByteSource
{
  public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes; returns how many (0 at the end). Sets failed() on an I/O error.
    virtual size_t read(uint8_t *data, size_t size) = 0;
    // Steps over up to `size` bytes; returns how many (fewer at the end). Reads them
    // unless the source can seek.
    virtual uint64_t skip(uint64_t size);
    bool failed() const { return m_failed; }

  protected:
    bool m_failed = false;
};

class ByteSink
{
  public:
    virtual ~ByteSink() = default;
    // Returns false when the bytes could not be taken (I/O error or a limit).
    virtual bool write(const uint8_t *data, size_t size) = 0;
};

// A stdio file opened by the caller; the caller closes it.
class FileSource : public ByteSource
{
  public:
    explicit FileSource(std::FILE *f) : m_file(f) {}
    size_t read(uint8_t *data, size_t size) override;
    // Seeks: the headers of a large archive are walked without reading its data.
    uint64_t skip(uint64_t size) override;

  private:
    std::FILE *m_file;
};

class FileSink : public ByteSink
{
  public:
    explicit FileSink(std::FILE *f) : m_file(f) {}
    bool write(const uint8_t *data, size_t size) override;

  private:
    std::FILE *m_file;
};

class MemorySource : public ByteSource
{
  public:
    MemorySource(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    size_t read(uint8_t *data, size_t size) override;

  private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Collects everything in memory; `limit` bounds it so that hostile input cannot grow it
// without end.
class MemorySink : public ByteSink
{
  public:
    explicit MemorySink(size_t limit = SIZE_MAX) : m_limit(limit) {}
    bool write(const uint8_t *data, size_t size) override;
    std::vector<uint8_t> bytes;

  private:
    size_t m_limit;
};

// At most `limit` bytes of another source: one entry's packed data inside an archive.
// truncated() tells whether the underlying source ended before the limit.
class LimitedSource : public ByteSource
{
  public:
    LimitedSource(ByteSource &inner, uint64_t limit) : m_inner(inner), m_left(limit) {}
    size_t read(uint8_t *data, size_t size) override;
    uint64_t skip(uint64_t size) override;
    bool truncated() const { return m_truncated; }
    uint64_t left() const { return m_left; }

  private:
    ByteSource &m_inner;
    uint64_t m_left;
    bool m_truncated = false;
};

} // namespace lzh
