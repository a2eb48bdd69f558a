#include "imaging/DrawTarget.h"

namespace qv {

DrawTarget::DrawTarget(PixelBuffer* buffer)
{
    reset(buffer);
}

void DrawTarget::reset(PixelBuffer* buffer, Rect clip)
{
    m_buffer = buffer;
    m_clip = clip;
}

void DrawTarget::reset(PixelBuffer* buffer)
{
    reset(buffer, buffer ? Rect { 0, 0, buffer->width(), buffer->height() } : Rect {});
}

ClipScope::ClipScope(DrawTarget& target, Rect const& rect)
    : m_target(target)
    , m_saved_clip(target.m_clip)
    , m_previous(target.m_clip_state)
{
    m_target.m_clip = intersect(m_saved_clip, rect);
    m_target.m_clip_state = this;
}

ClipScope::~ClipScope()
{
    m_target.m_clip = m_saved_clip;
    m_target.m_clip_state = m_previous;
}

}
