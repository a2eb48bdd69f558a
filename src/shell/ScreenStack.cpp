#include "shell/ScreenStack.h"

#include "imaging/PixelOp.h"

#include <algorithm>

namespace qv {

namespace {

// The target's clip rectangle at `level` / 256 brightness; untouched at 256
// or above.
void darken(DrawTarget& target, std::int32_t level)
{
    if (level >= ScreenStack::kBright)
        return;
    FadeOp const fade = make_fade_op(std::clamp(level, 0, 255));
    Rect const clip = target.clip();
    fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), fade);
}

}

bool ScreenStack::contains(Screen const* screen) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [screen](Entry const& e) { return e.screen == screen; });
}

void ScreenStack::push(Screen* screen, bool modal, Size area)
{
    m_changed = true;
    screen->set_size(area);
    if (m_entries.empty())
        screen->set_visible(true);
    else
        push_over(*screen, modal, area);
    m_entries.push_back(Entry { screen, modal });
}

void ScreenStack::push_over(Screen& screen, bool modal, Size area)
{
    m_animation.reset();
    Entry const top = m_entries.back();
    if (modal) {
        if (!top.modal)
            render_into_background(*top.screen, area);
        top.screen->set_visible(false);
        screen.show(true);
        return;
    }
    bool const animated = screen.animation() != nullptr;
    if (top.modal) {
        // The effect starts from the modal screen as it is seen now, over
        // the dimmed picture under it.
        if (animated && m_background) {
            DrawTarget target(m_background.get());
            darken(target, m_dim_level);
            top.screen->draw(target, Point { 0, 0 });
        } else {
            clear_background();
        }
        m_dim_level = kBright;
    } else if (animated) {
        render_into_background(*top.screen, area);
    }
    top.screen->set_visible(false);
    screen.set_visible(true);
    start_animation(screen, +1);
}

bool ScreenStack::remove(Screen* screen, Size area)
{
    auto const it
        = std::find_if(m_entries.begin(), m_entries.end(), [screen](Entry const& e) { return e.screen == screen; });
    if (it == m_entries.end())
        return false;
    m_changed = true;
    if (it + 1 != m_entries.end()) {
        screen->set_visible(false);
        m_entries.erase(it);
        return true;
    }
    Entry const removed = m_entries.back();
    m_entries.pop_back();
    if (!m_entries.empty())
        uncover(removed, area);
    return true;
}

void ScreenStack::uncover(Entry removed, Size area)
{
    m_animation.reset();
    Entry const top = m_entries.back();
    if (removed.modal) {
        removed.screen->set_visible(false);
        if (top.modal) {
            top.screen->show(true);
        } else {
            clear_background();
            top.screen->set_visible(true);
        }
    } else {
        bool const animated = removed.screen->animation() != nullptr;
        if (top.modal) {
            // The modal screen goes back over the plain screen below it.
            for (auto below = m_entries.rbegin() + 1; below != m_entries.rend(); ++below) {
                if (!below->modal) {
                    render_into_background(*below->screen, area);
                    break;
                }
            }
            top.screen->show(true);
        } else {
            top.screen->set_visible(true);
            if (animated)
                render_into_background(*top.screen, area);
        }
        start_animation(*removed.screen, -1);
        removed.screen->set_visible(false);
    }
    top.screen->set_size(area);
}

void ScreenStack::advance(double seconds, Size area)
{
    if (m_animation) {
        m_animation->advance(seconds);
        m_changed = true;
        if (m_animation->ended())
            m_animation.reset();
        return;
    }
    if (Screen* screen = top()) {
        screen->set_size(area);
        screen->advance(seconds);
    }
}

bool ScreenStack::needs_redraw() const
{
    if (m_changed || m_animation || m_dim_level != (top_is_modal() ? kDimmed : kBright))
        return true;
    Screen const* screen = top();
    return screen && screen->needs_redraw();
}

bool ScreenStack::busy() const
{
    Screen* screen = top();
    return screen && screen->busy();
}

bool ScreenStack::draw(DrawTarget& target, Size area)
{
    Screen* screen = top();
    bool const asked = m_changed || (screen && screen->needs_redraw());
    m_changed = false;
    Rect const clip = target.clip();
    ColourFillOp const fill(m_background_colour);
    if (m_animation) {
        fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), fill);
        m_animation->draw(target, Point { 0, 0 });
    } else if (!screen) {
        fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), fill);
    } else {
        screen->set_size(area);
        if (top_is_modal())
            draw_modal_under(target);
        screen->draw(target, Point { 0, 0 });
    }
    if (!top_is_modal()) {
        darken(target, m_dim_level);
        step_dim(kBright);
    }
    return asked;
}

void ScreenStack::draw_modal_under(DrawTarget& target)
{
    Rect const clip = target.clip();
    if (m_background)
        copy_rect(target, 0, 0, m_background->width(), m_background->height(), *m_background, 0, 0, copy_op());
    else
        fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), ColourFillOp(m_background_colour));
    darken(target, m_dim_level);
    step_dim(kDimmed);
}

void ScreenStack::step_dim(std::int32_t goal)
{
    if (m_dim_level == goal)
        return;
    m_dim_level = m_dim_level < goal ? std::min(goal, m_dim_level + 16) : std::max(goal, m_dim_level - 16);
    m_changed = true;
}

void ScreenStack::render_into_background(Screen& screen, Size area)
{
    if (!m_background || m_background->width() != area.width || m_background->height() != area.height)
        m_background = PixelBuffer::create(area.width, area.height);
    if (!m_background)
        return;
    screen.set_size(area);
    DrawTarget target(m_background.get());
    screen.draw(target, Point { 0, 0 });
}

void ScreenStack::start_animation(Screen& screen, std::int32_t direction)
{
    if (ScreenAnimation const* animation = screen.animation()) {
        m_animation = animation->clone();
        if (m_animation)
            m_animation->start(m_background.get(), direction);
    }
}

}
