#pragma once

// An off-screen drawing surface that owns its buffer and can be resized.
// All surfaces together keep a process-wide count of the pixels they hold,
// for diagnostics.

#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"

#include <cstdint>
#include <memory>

namespace qv {

class PixelOp;

class RenderSurface {
public:
    RenderSurface() = default;
    explicit RenderSurface(Size size);
    ~RenderSurface();
    RenderSurface(RenderSurface const&) = delete;
    RenderSurface& operator=(RenderSurface const&) = delete;

    // True when a new buffer was made, false when the size already matched.
    // A failed allocation leaves the surface empty (the clip still records
    // the requested size). Resizing, releasing or adopting while a clip is
    // pushed is a fatal programming error.
    bool recreate(Size size);
    std::unique_ptr<PixelBuffer> release();
    void adopt(std::unique_ptr<PixelBuffer> buffer);

    Size size() const;
    PixelBuffer* buffer() const { return m_owned_buffer.get(); }
    DrawTarget& target() { return m_target; }
    DrawTarget const& target() const { return m_target; }

    // The whole surface, 1:1 at `position` or stretched to `size`, clipped
    // to the other target's clip; nothing without a buffer.
    void draw_onto(DrawTarget& target, Point position, PixelOp const& op) const;
    void draw_scaled_onto(DrawTarget& target, Point position, Size size, PixelOp const& op) const;

private:
    std::unique_ptr<PixelBuffer> swap_buffer(std::unique_ptr<PixelBuffer> buffer, Rect clip, char16_t const* where);

    DrawTarget m_target;
    std::unique_ptr<PixelBuffer> m_owned_buffer;
};

// Pixels (not bytes) held by all render surfaces.
std::int64_t render_surface_pixel_total();

}
