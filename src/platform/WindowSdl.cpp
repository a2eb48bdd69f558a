#include "platform/Window.h"

#include "platform/Framebuffer.h"
#include "platform/System.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv::platform {

namespace {
std::optional<DisplayKind> g_display_kind;
bool g_screen_saver_inhibited = false;
std::string g_window_failure;

// SDL keeps the screen awake for as long as its video runs unless told
// otherwise; a photo album left open would never let the screen blank.
void apply_screen_saver()
{
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0)
        return;
    if (g_screen_saver_inhibited)
        SDL_DisableScreenSaver();
    else
        SDL_EnableScreenSaver();
}
}

void inhibit_screen_saver(bool inhibit)
{
    g_screen_saver_inhibited = inhibit;
    if (display_kind() != DisplayKind::Headless)
        apply_screen_saver();
}

bool screen_saver_inhibited() { return g_screen_saver_inhibited; }

void set_display_kind(DisplayKind kind) { g_display_kind = kind; }

DisplayKind display_kind()
{
    if (g_display_kind)
        return *g_display_kind;
    char const* value = std::getenv("QUILVANE_DISPLAY");
    bool const desktop = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    std::string_view const text(value ? value : desktop ? "window" : "auto");
    if (text.starts_with("auto")) {
        // Probed once: opening the device is not free, and the answer must
        // not change under a running program.
        static DisplayKind const probed = framebuffer_available() ? DisplayKind::Framebuffer : DisplayKind::Window;
        return probed;
    }
    if (text.starts_with("framebuffer"))
        return DisplayKind::Framebuffer;
    if (text.starts_with("headless"))
        return DisplayKind::Headless;
    if (text.starts_with("fullscreen"))
        return DisplayKind::Fullscreen;
    return DisplayKind::Window;
}

bool visible_video_driver(char const* driver, char const* requested)
{
    if (!driver)
        return false;
    std::string_view const name(driver);
    if (name != "offscreen" && name != "dummy")
        return true;
    // SDL_VIDEODRIVER may list several drivers, comma-separated.
    std::string_view list(requested ? requested : "");
    while (!list.empty()) {
        std::size_t const comma = list.find(',');
        if (list.substr(0, comma) == name)
            return true;
        list = comma == std::string_view::npos ? std::string_view {} : list.substr(comma + 1);
    }
    return false;
}

std::optional<std::int32_t> requested_orientation()
{
    char const* value = std::getenv("QUILVANE_DISPLAY");
    if (!value)
        return std::nullopt;
    std::string_view const text(value);
    std::size_t const colon = text.find(':');
    if (colon == std::string_view::npos || colon + 2 != text.size() || text[colon + 1] < '0' || text[colon + 1] > '3')
        return std::nullopt;
    return text[colon + 1] - '0';
}

std::optional<ScreenGeometry> parse_screen_geometry(std::string_view text)
{
    auto number = [&](std::string_view& rest, std::int32_t& out) {
        std::int64_t value = 0;
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && digits < 6)
            value = value * 10 + (rest[digits++] - '0');
        if (digits == 0 || (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9'))
            return false;
        out = static_cast<std::int32_t>(value);
        rest.remove_prefix(digits);
        return true;
    };
    ScreenGeometry geometry;
    std::string_view rest = text;
    if (!number(rest, geometry.width) || rest.empty() || (rest[0] != 'x' && rest[0] != 'X'))
        return std::nullopt;
    rest.remove_prefix(1);
    if (!number(rest, geometry.height))
        return std::nullopt;
    if (!rest.empty()) {
        if (rest[0] != '@')
            return std::nullopt;
        rest.remove_prefix(1);
        if (!number(rest, geometry.dpi) || !rest.empty())
            return std::nullopt;
    }
    auto const side_ok = [](std::int32_t side) { return side >= 16 && side <= 8192; };
    if (!side_ok(geometry.width) || !side_ok(geometry.height) || geometry.dpi < 24 || geometry.dpi > 1200)
        return std::nullopt;
    return geometry;
}

namespace {

NativeWindow* g_current = nullptr;

class SdlWindow final : public NativeWindow, public EventPump {
public:
    SdlWindow(SDL_Window* window, SDL_Renderer* renderer, WindowId target, std::int32_t dpi)
        : m_window(window)
        , m_renderer(renderer)
        , m_target(target)
        , m_dpi(dpi)
    {
        m_wake_event = SDL_RegisterEvents(1);
        SDL_GetWindowSize(m_window, &m_width, &m_height);
        SDL_StartTextInput();
        MessageQueue::main().set_pump(this);
        g_current = this;
    }

    ~SdlWindow() override
    {
        MessageQueue::main().set_pump(nullptr);
        if (g_current == this)
            g_current = nullptr;
        if (m_texture)
            SDL_DestroyTexture(m_texture);
        SDL_DestroyRenderer(m_renderer);
        SDL_DestroyWindow(m_window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        // The last subsystem gone: SDL's own helpers (D-Bus) go too.
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
            SDL_Quit();
    }

    std::int32_t width() const override { return m_width; }
    std::int32_t height() const override { return m_height; }
    std::int32_t dpi() const override { return m_dpi; }

    void present(std::uint16_t const* pixels, std::int32_t pitch, std::int32_t x, std::int32_t y, std::int32_t w,
        std::int32_t h, std::int32_t to_x, std::int32_t to_y) override
    {
        if (!ensure_texture())
            return;
        // Only the part that lands inside the window goes up.
        std::int32_t const left = std::max(0, to_x + x), top = std::max(0, to_y + y);
        std::int32_t const right = std::min(m_width, to_x + x + w), bottom = std::min(m_height, to_y + y + h);
        if (right > left && bottom > top) {
            SDL_Rect const area { left, top, right - left, bottom - top };
            auto const* first = reinterpret_cast<std::uint8_t const*>(pixels)
                + static_cast<std::ptrdiff_t>(top - to_y) * pitch + 2 * (left - to_x);
            SDL_UpdateTexture(m_texture, &area, first, pitch);
        }
        SDL_RenderClear(m_renderer);
        SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
        SDL_RenderPresent(m_renderer);
    }

    void set_fullscreen(bool fullscreen) override
    {
        if (fullscreen != is_fullscreen())
            SDL_SetWindowFullscreen(m_window, fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    }

    bool is_fullscreen() const override
    {
        return (SDL_GetWindowFlags(m_window) & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
    }

    bool toggle_fullscreen() override
    {
        set_fullscreen(!is_fullscreen());
        return is_fullscreen();
    }

    void minimize() override { SDL_MinimizeWindow(m_window); }

    void raise() override
    {
        if (SDL_GetWindowFlags(m_window) & SDL_WINDOW_MINIMIZED)
            SDL_RestoreWindow(m_window);
        SDL_RaiseWindow(m_window);
    }

    std::size_t pump() override
    {
        // A batch at a time: the rest stays in SDL's queue for the next one.
        std::size_t taken = 0;
        for (SDL_Event event; taken < kEventsPerPump && SDL_PollEvent(&event); ++taken)
            translate(event);
        return taken;
    }

    void wait(std::int32_t milliseconds) override
    {
        // Without an event to fill in SDL only waits; the queue's pump takes it.
        SDL_WaitEventTimeout(nullptr, milliseconds < 0 ? 1000 : milliseconds);
    }

    void wake() override
    {
        SDL_Event event {};
        event.type = m_wake_event;
        SDL_PushEvent(&event);
    }

private:
    bool ensure_texture()
    {
        if (m_texture && m_texture_width == m_width && m_texture_height == m_height)
            return true;
        if (m_texture)
            SDL_DestroyTexture(m_texture);
        m_texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, m_width,
            m_height);
        m_texture_width = m_width;
        m_texture_height = m_height;
        return m_texture != nullptr;
    }

    static constexpr std::size_t kEventsPerPump = 256;

    void post(std::uint32_t msg, std::uint64_t wparam = 0, std::int64_t lparam = 0)
    {
        MessageQueue::main().post_input(Message { m_target, msg, wparam, lparam, {} });
    }

    void translate(SDL_Event const& event)
    {
        switch (event.type) {
        case SDL_QUIT:
            post(WM_CLOSE);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            int const vk = virtual_key_from_sdl(event.key.keysym.sym);
            if (vk == 0)
                break;
            std::int64_t data = 1;
            if (event.key.repeat)
                data |= kKeyRepeatBit;
            post(event.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, static_cast<std::uint64_t>(vk), data);
            break;
        }
        case SDL_TEXTINPUT:
            for (char16_t c : from_utf8(event.text.text))
                post(WM_CHAR, c, 1);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            MouseButtonInput input;
            switch (event.button.button) {
            case SDL_BUTTON_LEFT: input.button = MouseButton::Left; break;
            case SDL_BUTTON_MIDDLE: input.button = MouseButton::Middle; break;
            case SDL_BUTTON_RIGHT: input.button = MouseButton::Right; break;
            default: input.button = MouseButton::Other; break;
            }
            input.pressed = event.type == SDL_MOUSEBUTTONDOWN;
            input.clicks = event.button.clicks;
            input.x = event.button.x;
            input.y = event.button.y;
            for (auto& message : mouse_button_messages(m_target, input))
                MessageQueue::main().post_input(std::move(message));
            break;
        }
        case SDL_MOUSEWHEEL: {
            double const notches = native_wheel_notches(event.wheel.preciseY, event.wheel.y,
                event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED);
            if (notches == 0)
                break; // a sideways scroll
            int x = 0, y = 0;
#if SDL_VERSION_ATLEAST(2, 26, 0)
            x = event.wheel.mouseX;
            y = event.wheel.mouseY;
#else
            SDL_GetMouseState(&x, &y);
#endif
            MessageQueue::main().post_input(
                mouse_wheel_message(m_target, notches, x, y, (SDL_GetModState() & KMOD_CTRL) != 0));
            break;
        }
        case SDL_MOUSEMOTION:
            post(WM_MOUSEMOVE, (event.motion.state & SDL_BUTTON_LMASK) ? 1 : 0,
                pack_point(event.motion.x, event.motion.y));
            break;
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
            case SDL_WINDOWEVENT_FOCUS_GAINED:
                post(WM_ACTIVATE, 1);
                break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
                post(WM_ACTIVATE, 0);
                break;
            case SDL_WINDOWEVENT_EXPOSED:
                post(WM_PAINT);
                break;
            case SDL_WINDOWEVENT_SIZE_CHANGED:
                SDL_GetWindowSize(m_window, &m_width, &m_height);
                post(WM_SETTINGCHANGE, kSettingWorkArea);
                break;
            default:
                break;
            }
            break;
        default:
            break;
        }
    }

    SDL_Window* m_window;
    SDL_Renderer* m_renderer;
    SDL_Texture* m_texture { nullptr };
    std::int32_t m_texture_width { 0 };
    std::int32_t m_texture_height { 0 };
    WindowId m_target;
    std::int32_t m_dpi;
    std::uint32_t m_wake_event { 0 };
    int m_width { 0 };
    int m_height { 0 };
};

}

ScreenGeometry screen_geometry()
{
    if (g_current)
        return ScreenGeometry { g_current->width(), g_current->height(), g_current->dpi() };
    if (char const* text = std::getenv("QUILVANE_SCREEN")) {
        if (auto geometry = parse_screen_geometry(text))
            return *geometry;
    }
    ScreenGeometry geometry;
    if (display_kind() == DisplayKind::Fullscreen && SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
            geometry.width = mode.w;
            geometry.height = mode.h;
        }
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    return geometry;
}

WindowPlacement fit_window(ScreenGeometry const& requested, DesktopArea const& usable)
{
    WindowPlacement placement { DesktopArea { 0, 0, requested.width, requested.height }, requested.dpi };
    if (usable.width <= 0 || usable.height <= 0)
        return placement;
    std::int64_t const w = requested.width, h = requested.height;
    if (w > usable.width || h > usable.height) {
        // The tighter side sets the factor; the other follows, rounded.
        // Cross-multiplied to stay exact: w / h against width / height.
        std::int64_t numerator, denominator;
        if (w * usable.height >= h * usable.width) {
            numerator = usable.width;
            denominator = w;
        } else {
            numerator = usable.height;
            denominator = h;
        }
        auto const scaled = [&](std::int64_t value) {
            return static_cast<std::int32_t>(std::max<std::int64_t>(1, (value * numerator + denominator / 2) / denominator));
        };
        placement.area.width = std::min(usable.width, scaled(w));
        placement.area.height = std::min(usable.height, scaled(h));
        // The lowest density a screen may ask for: below it no text reads.
        placement.dpi = std::max(24, scaled(requested.dpi));
    }
    placement.area.x = usable.x + (usable.width - placement.area.width) / 2;
    placement.area.y = usable.y + (usable.height - placement.area.height) / 2;
    return placement;
}

int virtual_key_from_sdl(std::int32_t key)
{
    if (key >= SDLK_a && key <= SDLK_z)
        return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9)
        return '0' + (key - SDLK_0);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9)
        return 97 + (key - SDLK_KP_1);
    switch (key) {
    case SDLK_KP_0: return 96;
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 17;
    case SDLK_LALT:
    case SDLK_RALT: return 18;
    case SDLK_ESCAPE: return 27;
    case SDLK_SPACE: return 32;
    case SDLK_PAGEUP: return 33;
    case SDLK_PAGEDOWN: return 34;
    case SDLK_END: return 35;
    case SDLK_HOME: return 36;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return 38;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return 40;
    case SDLK_INSERT: return 45;
    case SDLK_DELETE: return 46;
    case SDLK_APPLICATION: return 93;
    case SDLK_F1: return 112;
    case SDLK_F2: return 113;
    case SDLK_F3: return 114;
    case SDLK_F4: return 115;
    case SDLK_F6: return 117;
    case SDLK_F7: return 118;
    case SDLK_F8: return 119;
    case SDLK_F9: return 120;
    case SDLK_F11: return 122;
    case SDLK_KP_PLUS: return 107;
    case SDLK_KP_MINUS: return 109;
    // The key that gives "=" and "+" on most layouts, and a "+" key of its
    // own where a layout has one: both zoom in.
    case SDLK_EQUALS:
    case SDLK_PLUS: return 187;
    case SDLK_MINUS: return 189;
    default: return 0;
    }
}

std::vector<Message> mouse_button_messages(WindowId target, MouseButtonInput const& input)
{
    std::vector<Message> messages;
    std::int64_t const point = pack_point(input.x, input.y);
    switch (input.button) {
    case MouseButton::Left:
        if (!input.pressed) {
            messages.push_back(Message { target, WM_LBUTTONUP, 0, point, {} });
            break;
        }
        messages.push_back(Message { target, WM_LBUTTONDOWN, MK_LBUTTON, point, {} });
        // Every second press in a row: a quick triple click is one double
        // click and a press, as the original counts them.
        if (input.clicks >= 2 && input.clicks % 2 == 0)
            messages.push_back(Message { target, WM_LBUTTONDBLCLK, MK_LBUTTON, point, {} });
        break;
    case MouseButton::Right:
        if (input.pressed)
            messages.push_back(Message { target, WM_RBUTTONDOWN, MK_RBUTTON, point, {} });
        break;
    case MouseButton::Middle:
        if (input.pressed)
            messages.push_back(Message { target, WM_MBUTTONDOWN, MK_MBUTTON, point, {} });
        break;
    case MouseButton::Other:
        break;
    }
    return messages;
}

double native_wheel_notches(float precise, std::int32_t whole, bool flipped)
{
    double const notches = precise != 0 ? static_cast<double>(precise) : static_cast<double>(whole);
    return flipped ? -notches : notches;
}

Message mouse_wheel_message(WindowId target, double notches, std::int32_t x, std::int32_t y, bool ctrl)
{
    return Message { target, WM_MOUSEWHEEL, pack_wheel(notches, ctrl), pack_point(x, y), {} };
}

std::unique_ptr<NativeWindow> NativeWindow::create(WStringView title, ScreenGeometry const& geometry,
    bool fullscreen, WindowId target)
{
    if (display_kind() == DisplayKind::Framebuffer) {
        auto window = create_framebuffer_window(geometry, target);
        g_window_failure = window ? "" : "no frame buffer device opens";
        return window;
    }
    g_window_failure.clear();
    auto const fail = [](std::string what) -> std::unique_ptr<NativeWindow> {
        g_window_failure = std::move(what) + ": " + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    };
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // A desktop that is named but does not answer yet (a session still
    // coming up around an autostarted program, a loaded machine) is given a
    // few seconds before the program gives up on it.
    bool const desktop_named = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    for (int attempt = 0;; ++attempt) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            g_window_failure = std::string("no video driver: ") + SDL_GetError();
            return nullptr;
        }
        if (visible_video_driver(SDL_GetCurrentVideoDriver(), std::getenv("SDL_VIDEODRIVER")))
            break;
        if (!desktop_named || attempt == 12) {
            g_window_failure = std::string("no display answers: only the ") + SDL_GetCurrentVideoDriver()
                + " driver, which shows nothing";
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            return nullptr;
        }
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        SDL_Delay(250);
    }
    apply_screen_saver();
    Uint32 flags = SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE;
    if (fullscreen)
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    // A window opens inside the part of the desktop that panels and docks
    // leave free; a full-screen one covers the desktop whatever it asked.
    SDL_Rect bounds {};
    DesktopArea usable;
    if (!fullscreen && SDL_GetDisplayUsableBounds(0, &bounds) == 0)
        usable = DesktopArea { bounds.x, bounds.y, bounds.w, bounds.h };
    WindowPlacement placement = fit_window(geometry, usable);
    bool const placed = usable.width > 0 && usable.height > 0;
    SDL_Window* window = SDL_CreateWindow(to_utf8(title).c_str(),
        placed ? placement.area.x : static_cast<int>(SDL_WINDOWPOS_UNDEFINED),
        placed ? placement.area.y : static_cast<int>(SDL_WINDOWPOS_UNDEFINED), placement.area.width,
        placement.area.height, flags);
    if (!window)
        return fail("no window");
    // The window manager's frame is known only once the window is up (and
    // not at all without one): the window is fitted again inside what the
    // frame leaves, shrinking when frame and window together overflow, so
    // that its title bar stays on the desktop too.
    int top = 0, left = 0, bottom = 0, right = 0;
    if (placed && SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) == 0
        && top + left + bottom + right > 0) {
        DesktopArea const inner { usable.x + left, usable.y + top, usable.width - left - right,
            usable.height - top - bottom };
        WindowPlacement const framed = fit_window(geometry, inner);
        if (framed.area.width != placement.area.width || framed.area.height != placement.area.height)
            SDL_SetWindowSize(window, framed.area.width, framed.area.height);
        SDL_SetWindowPosition(window, framed.area.x, framed.area.y);
        placement = framed;
    }
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, 0);
    if (!renderer) {
        // A display whose GL cannot be had still shows what the CPU draws.
        std::string const accelerated = SDL_GetError();
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
        if (!renderer) {
            SDL_DestroyWindow(window);
            return fail("no renderer (" + accelerated + ")");
        }
    }
    return std::make_unique<SdlWindow>(window, renderer, target, placement.dpi);
}

std::string const& NativeWindow::failure() { return g_window_failure; }

NativeWindow* current_native_window() { return g_current; }

void show_message_box(WStringView caption, WStringView text)
{
    std::string const caption8 = to_utf8(caption), text8 = to_utf8(text);
    if (display_kind() != DisplayKind::Headless) {
        bool const opened = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        if (opened) {
            int const shown = SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption8.c_str(), text8.c_str(),
                nullptr);
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            if (shown == 0)
                return;
        }
    }
    std::fprintf(stderr, "%s: %s\n", caption8.c_str(), text8.c_str());
    std::fflush(stderr);
}

}
