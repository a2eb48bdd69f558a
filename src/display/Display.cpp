#include "display/Display.h"

#include "display/Script.h"
#include "platform/Window.h"

#include <cstring>

namespace qv {

namespace {

std::unique_ptr<std::uint16_t[]> allocate_surface(std::int32_t width, std::int32_t height, DisplaySurface& surface)
{
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return nullptr;
    std::int32_t const pitch = (2 * width + 3) & ~3;
    std::unique_ptr<std::uint16_t[]> storage(new (std::nothrow) std::uint16_t[static_cast<std::size_t>(pitch / 2) * height]());
    if (storage)
        surface = DisplaySurface { storage.get(), width, height, pitch };
    return storage;
}

// The "GDI" driver: a screen in memory that goes to the SDL window at the
// end of each frame, only the changed area uploaded.
// A driver that draws into a surface of its own and hands the changed
// area on at each frame's end.
class OwnSurfaceDriver : public DisplayDriver {
public:
    bool ok() const { return m_storage != nullptr; }
    std::int32_t width() const override { return m_surface.width; }
    std::int32_t height() const override { return m_surface.height; }
    bool begin(DisplaySurface& surface) override
    {
        surface = m_surface;
        return true;
    }

protected:
    void allocate(std::int32_t width, std::int32_t height) { m_storage = allocate_surface(width, height, m_surface); }

    std::unique_ptr<std::uint16_t[]> m_storage;
    DisplaySurface m_surface;
};

class WindowDriver final : public OwnSurfaceDriver {
public:
    explicit WindowDriver(platform::NativeWindow& native)
        : m_native(native)
    {
        allocate(native.width(), native.height());
    }
    void end(Rect const& area) override
    {
        m_native.present(m_surface.pixels, m_surface.pitch, area.left, area.top, area.width(), area.height(), 0, 0);
    }

private:
    platform::NativeWindow& m_native;
};

// Presents an upright surface of the requested orientation on a panel of
// another, turning the changed area at each frame's end.
class RotationDriver final : public OwnSurfaceDriver {
public:
    RotationDriver(std::unique_ptr<DisplayDriver> inner, std::int32_t turn)
        : m_inner(std::move(inner))
        , m_turn(turn)
    {
        bool const odd = (turn & 1) != 0;
        allocate(odd ? m_inner->height() : m_inner->width(), odd ? m_inner->width() : m_inner->height());
    }
    void end(Rect const& area) override
    {
        DisplaySurface panel;
        if (!m_inner->begin(panel))
            return;
        copy_turned(m_surface, panel, m_turn, area);
        // The turned area, as a panel rectangle.
        Point const a = corner(area.left, area.top), b = corner(area.right - 1, area.bottom - 1);
        m_inner->end(Rect { std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1, std::max(a.y, b.y) + 1 });
    }
    void idle() override { m_inner->idle(); }
    void suspend() override { m_inner->suspend(); }
    void resume() override { m_inner->resume(); }

private:
    Point corner(std::int32_t x, std::int32_t y) const
    {
        std::int32_t const w = m_surface.width, h = m_surface.height;
        switch (m_turn & 3) {
        case 1: return { y, w - 1 - x };
        case 2: return { w - 1 - x, h - 1 - y };
        case 3: return { h - 1 - y, x };
        default: return { x, y };
        }
    }

    std::unique_ptr<DisplayDriver> m_inner;
    std::int32_t m_turn;
};

}

HeadlessDriver::HeadlessDriver(std::int32_t width, std::int32_t height, platform::WindowId window)
    : m_window(window)
{
    m_storage = allocate_surface(width, height, m_surface);
}

bool HeadlessDriver::begin(DisplaySurface& surface)
{
    if (!m_storage)
        return false;
    surface = m_surface;
    return true;
}

void HeadlessDriver::end(Rect const&) { ++m_presented; }

void HeadlessDriver::idle()
{
    if (m_storage)
        script_player().step(m_window, m_surface);
}

std::unique_ptr<Display> Display::create(DisplayHost const& host, DisplayParams& params)
{
    std::unique_ptr<DisplayDriver> driver;
    if (platform::display_kind() == platform::DisplayKind::Headless || !host.native) {
        if (platform::display_kind() != platform::DisplayKind::Headless)
            return nullptr;
        auto headless = std::make_unique<HeadlessDriver>(host.width, host.height, host.window);
        if (headless->surface().pixels)
            driver = std::move(headless);
    } else {
        auto window = std::make_unique<WindowDriver>(*host.native);
        if (window->ok())
            driver = std::move(window);
    }
    if (!driver)
        return nullptr;
    return create(host, params, std::move(driver));
}

std::unique_ptr<Display> Display::create(DisplayHost const& host, DisplayParams& params,
    std::unique_ptr<DisplayDriver> driver)
{
    if (params.swap_effect == 0)
        params.swap_effect = kSwapDiscard;
    if (!driver)
        return nullptr;
    std::unique_ptr<Display> display(new Display());
    display->m_window = host.window;
    std::int32_t const native = driver->native_orientation();
    std::int32_t const requested = params.orientation > 3 ? native : params.orientation;
    std::int32_t const turn = turn_between(requested, native);
    if (turn != 0) {
        auto rotating = std::make_unique<RotationDriver>(std::move(driver), turn);
        if (!rotating->ok())
            return nullptr;
        driver = std::move(rotating);
    }
    display->m_driver = std::move(driver);
    display->m_width = display->m_driver->width();
    display->m_height = display->m_driver->height();
    display->m_orientation = requested;
    if (params.swap_effect == kSwapCopy) {
        display->m_back_storage = allocate_surface(display->m_width, display->m_height, display->m_back);
        if (!display->m_back_storage)
            return nullptr;
    }
    params.width = display->m_width;
    params.height = display->m_height;
    params.orientation = requested;
    display->set_update_all();
    if (host.window != 0 && turn != 0) {
        Display const* self = display.get();
        platform::MessageQueue::main().set_hook(host.window, [self](platform::Message& m) { self->hook(m); });
    }
    return display;
}

Display::~Display()
{
    if (m_window != 0)
        platform::MessageQueue::main().set_hook(m_window, {});
}

void Display::hook(platform::Message& message) const
{
    std::int32_t const turn = turn_between(m_orientation, display_orientation());
    switch (message.message) {
    case platform::WM_KEYDOWN:
    case platform::WM_KEYUP:
        message.wparam = static_cast<std::uint64_t>(rotate_arrow_key(static_cast<std::int32_t>(message.wparam), turn));
        break;
    case platform::WM_LBUTTONDOWN:
    case platform::WM_LBUTTONUP:
    case platform::WM_LBUTTONDBLCLK:
    case platform::WM_RBUTTONDOWN:
    case platform::WM_MBUTTONDOWN:
    case platform::WM_MOUSEWHEEL:
    case platform::WM_MOUSEMOVE: {
        Point const p = rotate_pen_point({ platform::point_x(message.lparam), platform::point_y(message.lparam) },
            turn, m_width, m_height);
        message.lparam = platform::pack_point(p.x, p.y);
        break;
    }
    default:
        break;
    }
}

bool Display::begin_frame()
{
    if (!m_active)
        return false;
    if (m_in_frame)
        return true;
    DisplaySurface surface;
    if (!m_driver->begin(surface))
        return false;
    m_frame = m_back_storage ? m_back : surface;
    m_in_frame = true;
    return true;
}

void Display::set_update_area(Rect const& area) { m_update = normalize_update_area(area, m_width, m_height); }

void Display::set_update_all() { m_update = Rect { 0, 0, m_width, m_height }; }

bool Display::end_frame(bool)
{
    if (!m_in_frame || !m_active)
        return false;
    if (m_back_storage) {
        DisplaySurface target;
        if (m_driver->begin(target))
            copy_area(m_back, target, m_update);
    }
    m_driver->end(m_update);
    m_in_frame = false;
    return true;
}

void Display::idle() { m_driver->idle(); }

void Display::suspend()
{
    if (!m_active)
        return;
    m_active = false;
    m_in_frame = false;
    m_driver->suspend();
}

void Display::resume()
{
    if (m_active)
        return;
    m_active = true;
    m_driver->resume();
}

}
