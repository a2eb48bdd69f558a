#pragma once

// Where drawing goes: a pixel buffer (not owned) and the clip rectangle that
// every driver honours. Narrower clips are pushed with ClipScope and popped
// when the scope ends, innermost first.

#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"

namespace qv {

class ClipScope;

class DrawTarget {
public:
    DrawTarget() = default;
    // Clips to the whole buffer (or to nothing without a buffer).
    explicit DrawTarget(PixelBuffer* buffer);
    DrawTarget(DrawTarget const&) = delete;
    DrawTarget& operator=(DrawTarget const&) = delete;

    PixelBuffer* buffer() const { return m_buffer; }
    Rect const& clip() const { return m_clip; }
    // True while a ClipScope is alive on this target.
    bool has_pushed_clip() const { return m_clip_state != nullptr; }

    // Points the target at another buffer with the given clip. Owners such
    // as RenderSurface call this only while no clip is pushed.
    void reset(PixelBuffer* buffer, Rect clip);
    void reset(PixelBuffer* buffer);

private:
    friend class ClipScope;
    PixelBuffer* m_buffer { nullptr };
    Rect m_clip {};
    ClipScope* m_clip_state { nullptr };
};

// Narrows the target's clip to its intersection with `rect` for the life of
// the scope, then puts the previous clip back.
class ClipScope {
public:
    ClipScope(DrawTarget& target, Rect const& rect);
    ~ClipScope();
    ClipScope(ClipScope const&) = delete;
    ClipScope& operator=(ClipScope const&) = delete;

private:
    DrawTarget& m_target;
    Rect m_saved_clip;
    ClipScope* m_previous;
};

}
