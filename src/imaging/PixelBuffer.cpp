#include "imaging/PixelBuffer.h"

#include <new>

namespace qv {

namespace {

// Far beyond any surface or picture the program makes; keeps the byte size
// of a buffer well inside 32-bit offsets.
constexpr std::int64_t kMaxBufferBytes = std::int64_t { 1 } << 30;

}

PixelBuffer::PixelBuffer(std::int32_t width, std::int32_t height, std::int32_t pitch,
    std::uint16_t* pixels, bool owns_pixels)
    : m_width(width)
    , m_height(height)
    , m_pitch(pitch)
    , m_pixels(pixels)
    , m_owns_pixels(owns_pixels)
{
}

PixelBuffer::~PixelBuffer()
{
    if (m_owns_pixels)
        delete[] m_pixels;
}

std::unique_ptr<PixelBuffer> PixelBuffer::create(std::int32_t width, std::int32_t height)
{
    if (width < 0 || height < 0 || width > (kMaxBufferBytes - 3) / 2)
        return nullptr;
    std::int32_t pitch = pitch_for(width);
    std::int64_t bytes = std::int64_t { pitch } * height;
    if (bytes > kMaxBufferBytes)
        return nullptr;
    std::uint16_t* pixels = nullptr;
    if (bytes > 0) {
        pixels = new (std::nothrow) std::uint16_t[static_cast<std::size_t>(bytes / 2)];
        if (!pixels)
            return nullptr;
    }
    std::unique_ptr<PixelBuffer> buffer(new (std::nothrow) PixelBuffer(width, height, pitch, pixels, true));
    if (!buffer)
        delete[] pixels;
    return buffer;
}

std::unique_ptr<PixelBuffer> PixelBuffer::wrap(std::int32_t width, std::int32_t height,
    std::int32_t pitch, std::uint16_t* pixels)
{
    return std::unique_ptr<PixelBuffer>(new (std::nothrow) PixelBuffer(width, height, pitch, pixels, false));
}

}
