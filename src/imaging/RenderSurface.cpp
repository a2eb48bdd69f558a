#include "imaging/RenderSurface.h"

#include "base/Log.h"
#include "imaging/PixelOp.h"

#include <atomic>

namespace qv {

namespace {

// Diagnostics only; relaxed atomics keep the count exact without a lock.
std::atomic<std::int64_t> g_pixel_total { 0 };

std::int64_t pixels_of(PixelBuffer const* buffer)
{
    return buffer ? std::int64_t { buffer->width() } * buffer->height() : 0;
}

}

std::int64_t render_surface_pixel_total()
{
    return g_pixel_total.load(std::memory_order_relaxed);
}

RenderSurface::RenderSurface(Size size)
{
    recreate(size);
}

RenderSurface::~RenderSurface()
{
    g_pixel_total.fetch_sub(pixels_of(m_owned_buffer.get()), std::memory_order_relaxed);
}

std::unique_ptr<PixelBuffer> RenderSurface::swap_buffer(std::unique_ptr<PixelBuffer> buffer, Rect clip,
    char16_t const* where)
{
    g_pixel_total.fetch_sub(pixels_of(m_owned_buffer.get()), std::memory_order_relaxed);
    // Whoever pushed the clip still holds a pointer into the old buffer's
    // geometry; carrying on would draw with a stale clip.
    if (m_target.has_pushed_clip())
        report_fatal(where, u"Clip is in effect, cannot resize");
    std::unique_ptr<PixelBuffer> old = std::move(m_owned_buffer);
    m_owned_buffer = std::move(buffer);
    m_target.reset(m_owned_buffer.get(), clip);
    g_pixel_total.fetch_add(pixels_of(m_owned_buffer.get()), std::memory_order_relaxed);
    return old;
}

bool RenderSurface::recreate(Size size)
{
    if (m_owned_buffer && m_owned_buffer->width() == size.width && m_owned_buffer->height() == size.height)
        return false;
    if (!m_owned_buffer && size.width == 0 && size.height == 0)
        return false;
    // Destroy the old buffer before making the new one, so that the peak
    // is one buffer, not two.
    swap_buffer(nullptr, {}, u"RenderSurface::recreate");
    auto buffer = PixelBuffer::create(size.width, size.height);
    g_pixel_total.fetch_add(pixels_of(buffer.get()), std::memory_order_relaxed);
    m_owned_buffer = std::move(buffer);
    m_target.reset(m_owned_buffer.get(), { 0, 0, size.width, size.height });
    return true;
}

std::unique_ptr<PixelBuffer> RenderSurface::release()
{
    return swap_buffer(nullptr, {}, u"RenderSurface::release");
}

void RenderSurface::adopt(std::unique_ptr<PixelBuffer> buffer)
{
    Rect clip = buffer ? Rect { 0, 0, buffer->width(), buffer->height() } : Rect {};
    swap_buffer(std::move(buffer), clip, u"RenderSurface::adopt");
}

Size RenderSurface::size() const
{
    return m_owned_buffer ? Size { m_owned_buffer->width(), m_owned_buffer->height() } : Size {};
}

void RenderSurface::draw_onto(DrawTarget& target, Point position, PixelOp const& op) const
{
    if (!m_owned_buffer)
        return;
    copy_rect(target, position.x, position.y, m_owned_buffer->width(), m_owned_buffer->height(),
        *m_owned_buffer, 0, 0, op);
}

void RenderSurface::draw_scaled_onto(DrawTarget& target, Point position, Size size, PixelOp const& op) const
{
    if (!m_owned_buffer)
        return;
    stretch_rect(target, position.x, position.y, size.width, size.height, *m_owned_buffer, 0, 0,
        m_owned_buffer->width(), m_owned_buffer->height(), op);
}

}
