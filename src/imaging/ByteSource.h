#pragma once

// The two things a picture reader needs from a stream: read with a count and
// skip. FileStream has both; MemoryByteSource reads from a block in memory.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qv {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Bytes actually read; fewer at the end of the stream.
    virtual std::size_t read(void* buffer, std::size_t count) = 0;
    // Moves on by up to `count` bytes (negative counts are ignored).
    virtual void skip(std::int64_t count) = 0;
};

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<std::uint8_t const> bytes)
        : m_bytes(bytes)
    {
    }
    std::size_t read(void* buffer, std::size_t count) override;
    void skip(std::int64_t count) override;
    std::size_t position() const { return m_position; }

private:
    std::span<std::uint8_t const> m_bytes;
    std::size_t m_position { 0 };
};

template<typename Stream>
concept ReadSkipStream = requires(Stream& s, void* p, std::size_t n, std::int64_t k) {
    { s.read(p, n) } -> std::convertible_to<std::size_t>;
    s.skip(k);
};

// Lends any stream with read and skip (FileStream, for one) to a reader.
template<ReadSkipStream Stream>
class StreamByteSource final : public ByteSource {
public:
    explicit StreamByteSource(Stream& stream)
        : m_stream(stream)
    {
    }
    std::size_t read(void* buffer, std::size_t count) override { return m_stream.read(buffer, count); }
    void skip(std::int64_t count) override
    {
        if (count > 0)
            m_stream.skip(count);
    }

private:
    Stream& m_stream;
};

}
