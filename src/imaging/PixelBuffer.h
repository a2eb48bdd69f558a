#pragma once

// One block of RGB565 pixels, top row first. The pixel at (x, y) is the
// 16-bit word at byte offset y * pitch + 2 * x. A buffer either owns its
// pixels (made by create) or wraps memory that someone else keeps alive
// (the display's frame buffer); ownership of the buffer itself always moves
// through a std::unique_ptr, it is never shared.

#include <cstdint>
#include <memory>

namespace qv {

class PixelBuffer {
public:
    // Rows of an owned buffer start on 4-byte boundaries.
    static constexpr std::int32_t pitch_for(std::int32_t width) { return (2 * width + 3) & ~3; }

    // Null when a side is negative, the size is beyond any real picture
    // (more than 1 << 30 bytes of rows) or memory is short. Pixel contents
    // are undefined.
    static std::unique_ptr<PixelBuffer> create(std::int32_t width, std::int32_t height);
    static std::unique_ptr<PixelBuffer> wrap(std::int32_t width, std::int32_t height,
        std::int32_t pitch, std::uint16_t* pixels);

    virtual ~PixelBuffer();
    PixelBuffer(PixelBuffer const&) = delete;
    PixelBuffer& operator=(PixelBuffer const&) = delete;

    std::int32_t width() const { return m_width; }
    std::int32_t height() const { return m_height; }
    std::int32_t pitch() const { return m_pitch; }
    std::uint16_t* pixels() const { return m_pixels; }
    bool owns_pixels() const { return m_owns_pixels; }

    std::uint16_t* row(std::int32_t y) const
    {
        return reinterpret_cast<std::uint16_t*>(reinterpret_cast<std::uint8_t*>(m_pixels)
            + static_cast<std::intptr_t>(y) * m_pitch);
    }
    std::uint16_t& at(std::int32_t x, std::int32_t y) const { return row(y)[x]; }

protected:
    PixelBuffer(std::int32_t width, std::int32_t height, std::int32_t pitch,
        std::uint16_t* pixels, bool owns_pixels);

private:
    std::int32_t m_width { 0 };
    std::int32_t m_height { 0 };
    std::int32_t m_pitch { 0 };
    std::uint16_t* m_pixels { nullptr };
    bool m_owns_pixels { false };
};

}
