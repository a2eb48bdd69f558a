#include "platform/Framebuffer.h"

#include "platform/Console.h"
#include "platform/EvdevDevice.h"
#include "platform/System.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace qv::platform {

namespace {

// An open file descriptor, closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~Fd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::string environment(char const* name)
{
    char const* value = std::getenv(name);
    return value ? value : "";
}

// The device and its mapped memory.
class FramebufferDevice {
public:
    static std::unique_ptr<FramebufferDevice> open(std::string const& path)
    {
        Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        if (fd.get() < 0)
            return nullptr;
        auto device = std::unique_ptr<FramebufferDevice>(new FramebufferDevice());
        fb_var_screeninfo var {};
        fb_fix_screeninfo fix {};
        if (ioctl(fd.get(), FBIOGET_VSCREENINFO, &var) == 0 && ioctl(fd.get(), FBIOGET_FSCREENINFO, &fix) == 0) {
            if (fix.type != FB_TYPE_PACKED_PIXELS || fix.visual != FB_VISUAL_TRUECOLOR)
                return nullptr;
            device->m_width = static_cast<std::int32_t>(var.xres);
            device->m_height = static_cast<std::int32_t>(var.yres);
            device->m_stride = static_cast<std::int32_t>(fix.line_length);
            device->m_format = PixelFormat { var.bits_per_pixel, { var.red.offset, var.red.length },
                { var.green.offset, var.green.length }, { var.blue.offset, var.blue.length },
                { var.transp.offset, var.transp.length } };
            device->m_length = fix.smem_len;
            device->m_var = var;
            device->m_is_device = true;
            device->m_pages = FramePages({ var.yres, var.yres_virtual, fix.ypanstep, var.xoffset, var.yoffset,
                fix.line_length, var.bits_per_pixel / 8, fix.smem_len });
        } else {
            // Not a frame buffer: only a test's regular file, whose mode
            // the environment gives.
            struct stat st {};
            auto const mode = parse_framebuffer_mode(environment("QUILVANE_FB_MODE"));
            if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !mode)
                return nullptr;
            device->m_width = mode->width;
            device->m_height = mode->height;
            device->m_format = mode->format;
            std::uint32_t const bytes = mode->format.bits_per_pixel / 8;
            device->m_stride = mode->width * static_cast<std::int32_t>(bytes);
            device->m_length = static_cast<std::size_t>(st.st_size);
            // Two pages offer panning, which a file then refuses.
            auto const lines = static_cast<std::uint32_t>(mode->height);
            device->m_pages = FramePages({ lines, lines * static_cast<std::uint32_t>(mode->pages), mode->pages == 2 ? 1u : 0u,
                0, 0, static_cast<std::uint32_t>(device->m_stride), bytes, device->m_length });
        }
        if (!is_supported(device->m_format) || device->m_width <= 0 || device->m_height <= 0 || !device->m_pages.fits())
            return nullptr;
        void* memory = mmap(nullptr, device->m_length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
        if (memory == MAP_FAILED)
            return nullptr;
        device->m_memory = static_cast<std::uint8_t*>(memory);
        device->m_fd = std::move(fd);
        return device;
    }

    ~FramebufferDevice()
    {
        if (m_memory)
            munmap(m_memory, m_length);
    }

    std::int32_t width() const { return m_width; }
    std::int32_t height() const { return m_height; }
    FramePages& pages() { return m_pages; }

    // The page to draw into: the hidden one when panning, else the shown.
    PanelBuffer draw_page() const
    {
        return PanelBuffer { m_memory + m_pages.draw_offset(), m_width, m_height, m_stride, m_format };
    }

    // Shows the drawn page; false (and single buffering from then on) when
    // the driver refuses to pan.
    bool flip()
    {
        if (!m_pages.double_buffered())
            return true;
        fb_var_screeninfo var = m_var;
        var.xoffset = 0;
        var.yoffset = m_pages.pan_offset();
        bool const shown = ioctl(m_fd.get(), FBIOPAN_DISPLAY, &var) == 0;
        m_pages.panned(shown);
        return shown;
    }

private:
    FramebufferDevice() = default;

    Fd m_fd;
    std::uint8_t* m_memory { nullptr };
    std::size_t m_length { 0 };
    std::int32_t m_width { 0 };
    std::int32_t m_height { 0 };
    std::int32_t m_stride { 0 };
    FramePages m_pages { FramebufferLayout {} };
    PixelFormat m_format;
    fb_var_screeninfo m_var {};

public:
    // The mode's width, in pixels and in millimetres (0 for a test's file).
    std::uint32_t mode_width_pixels() const { return m_var.xres; }
    std::uint32_t mode_width_mm() const { return m_var.width; }

private:
    bool m_is_device { false };
};

std::unique_ptr<FramebufferDevice> open_framebuffer()
{
    std::string const chosen = environment("QUILVANE_FBDEV");
    if (!chosen.empty())
        return FramebufferDevice::open(chosen);
    for (int i = 0; i < 8; ++i)
        if (auto device = FramebufferDevice::open("/dev/fb" + std::to_string(i)))
            return device;
    return nullptr;
}

// fbcon counts its turns the other way round from the program.
std::int32_t turns_from_fbcon(int rotate) { return (4 - rotate) & 3; }

// The panel orientation of a connected DRM connector, where sysfs tells it.
std::optional<std::int32_t> drm_panel_orientation()
{
    DIR* directory = opendir("/sys/class/drm");
    if (!directory)
        return std::nullopt;
    std::optional<std::int32_t> turns;
    while (dirent const* entry = readdir(directory)) {
        std::string const base = std::string("/sys/class/drm/") + entry->d_name;
        std::string status;
        std::ifstream(base + "/status") >> status;
        if (status != "connected")
            continue;
        std::string name;
        std::getline(std::ifstream(base + "/panel_orientation"), name);
        if ((turns = panel_turns_from_drm_name(name)))
            break;
    }
    closedir(directory);
    return turns;
}

std::int32_t panel_orientation()
{
    if (auto const drm = drm_panel_orientation())
        return *drm;
    std::string const given = environment("QUILVANE_PANEL_ORIENTATION");
    if (given.size() == 1 && given[0] >= '0' && given[0] <= '3')
        return given[0] - '0';
    // The DRM helper turns the console by the connector's panel
    // orientation: the console's rotation tells it where sysfs has no
    // connector's.
    std::ifstream rotate("/sys/class/graphics/fbcon/rotate");
    int turns = 0;
    if (rotate >> turns && turns >= 0 && turns <= 3)
        return turns_from_fbcon(turns);
    return 0;
}

class FramebufferWindow final : public NativeWindow, public EventPump {
public:
    FramebufferWindow(std::unique_ptr<FramebufferDevice> device, std::int32_t turn, std::int32_t dpi, WindowId target,
        std::unique_ptr<ConsoleControl> console)
        : m_device(std::move(device))
        , m_turn(turn)
        , m_dpi(dpi)
        , m_target(target)
        , m_wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        bool const odd = (turn & 1) != 0;
        m_width = odd ? m_device->height() : m_device->width();
        m_height = odd ? m_device->width() : m_device->height();
        m_inputs = open_evdev_devices();
        for (auto& input : m_inputs)
            input->set_panel(m_device->width(), m_device->height(), m_turn);
        m_console = Console::take(std::move(console));
        MessageQueue::main().set_pump(this);
    }

    ~FramebufferWindow() override { MessageQueue::main().set_pump(nullptr); }

    std::int32_t width() const override { return m_width; }
    std::int32_t height() const override { return m_height; }
    std::int32_t dpi() const override { return m_dpi; }

    void present(std::uint16_t const* pixels, std::int32_t pitch, std::int32_t x, std::int32_t y, std::int32_t w,
        std::int32_t h, std::int32_t to_x, std::int32_t to_y) override
    {
        if (m_suspended)
            return;
        // The pixels start at the picture's origin; it lands at (to_x, to_y).
        PixelRect area { to_x + x, to_y + y, w, h };
        if (m_repaint_all && to_x == 0 && to_y == 0) {
            // After a terminal switch the console drew over everything.
            area = { 0, 0, m_width, m_height };
            m_repaint_all = false;
        }
        std::int32_t const left = std::max(0, area.x), top = std::max(0, area.y);
        std::int32_t const right = std::min(m_width, area.x + area.width), bottom = std::min(m_height, area.y + area.height);
        if (right <= left || bottom <= top)
            return;
        // The picture as the panel's upright frame: offset by where it lands.
        auto const* origin = reinterpret_cast<std::uint8_t const*>(pixels) - static_cast<std::ptrdiff_t>(to_y) * pitch
            - 2 * static_cast<std::ptrdiff_t>(to_x);
        Rgb565Image const image { reinterpret_cast<std::uint16_t const*>(origin), m_width, m_height, pitch };
        PixelRect const now { left, top, right - left, bottom - top };
        FramePages& pages = m_device->pages();
        if (pages.double_buffered()) {
            present_rgb565(image, pages.area_to_draw(now), m_device->draw_page(), m_turn);
            if (!m_device->flip())
                present_rgb565(image, { 0, 0, m_width, m_height }, m_device->draw_page(), m_turn);
            return;
        }
        present_rgb565(image, now, m_device->draw_page(), m_turn);
    }

    void set_fullscreen(bool) override { }
    bool is_fullscreen() const override { return true; }
    bool toggle_fullscreen() override { return true; }
    void minimize() override { }

    std::size_t pump() override
    {
        std::vector<InputAction> actions;
        std::size_t taken = 0;
        for (auto& input : m_inputs)
            taken += input->read_into(actions);
        for (InputAction const& action : actions)
            post(action);
        if (m_console)
            take_terminal_switch();
        return taken;
    }

    void wait(std::int32_t milliseconds) override
    {
        std::vector<pollfd> fds;
        fds.push_back({ m_wake.get(), POLLIN, 0 });
        if (m_console)
            fds.push_back({ m_console->wake_fd(), POLLIN, 0 });
        for (auto& input : m_inputs)
            fds.push_back({ input->fd(), POLLIN, 0 });
        if (poll(fds.data(), fds.size(), milliseconds < 0 ? -1 : milliseconds) > 0) {
            std::uint64_t count;
            [[maybe_unused]] auto got = read(m_wake.get(), &count, sizeof count);
        }
    }

    void wake() override
    {
        std::uint64_t const one = 1;
        [[maybe_unused]] auto written = write(m_wake.get(), &one, sizeof one);
    }

private:
    void input(std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam)
    {
        MessageQueue::main().post_input(Message { m_target, msg, wparam, lparam, {} });
    }

    void post(InputAction const& action)
    {
        MessageQueue& queue = MessageQueue::main();
        switch (action.kind) {
        case InputAction::Kind::PenDown: {
            // Two touches close in time and place are a double tap, as two
            // clicks of the window's mouse are.
            std::uint32_t const now = tick_count();
            bool const again = m_clicks > 0 && now - m_last_down < 400 && std::abs(action.x - m_last_x) < 16
                && std::abs(action.y - m_last_y) < 16;
            m_clicks = again ? m_clicks + 1 : 1;
            m_last_down = now;
            m_last_x = action.x;
            m_last_y = action.y;
            MouseButtonInput const input { MouseButton::Left, true, m_clicks, action.x, action.y };
            for (auto& message : mouse_button_messages(m_target, input))
                queue.post_input(std::move(message));
            break;
        }
        case InputAction::Kind::PenMove:
            input(WM_MOUSEMOVE, MK_LBUTTON, pack_point(action.x, action.y));
            break;
        case InputAction::Kind::PenUp:
            input(WM_LBUTTONUP, 0, pack_point(action.x, action.y));
            break;
        case InputAction::Kind::KeyDown:
            input(WM_KEYDOWN, static_cast<std::uint64_t>(action.virtual_key), 1);
            break;
        case InputAction::Kind::KeyRepeat:
            input(WM_KEYDOWN, static_cast<std::uint64_t>(action.virtual_key), 1 | kKeyRepeatBit);
            break;
        case InputAction::Kind::KeyUp:
            input(WM_KEYUP, static_cast<std::uint64_t>(action.virtual_key), 1);
            break;
        }
    }

    void take_terminal_switch()
    {
        switch (m_console->take_switch()) {
        case Console::Switch::Release:
            // Drawing happens on this thread only, so none is under way:
            // the terminal may go at once, and frames wait until it is back.
            m_suspended = true;
            m_console->release_done();
            MessageQueue::main().post(m_target, WM_ACTIVATE, 0);
            break;
        case Console::Switch::Acquire:
            m_console->acquire_done();
            m_suspended = false;
            m_repaint_all = true;
            MessageQueue::main().post(m_target, WM_ACTIVATE, 1);
            break;
        case Console::Switch::None:
            break;
        }
    }

    std::unique_ptr<FramebufferDevice> m_device;
    std::vector<std::unique_ptr<EvdevDevice>> m_inputs;
    std::unique_ptr<Console> m_console;
    std::int32_t m_turn;
    std::int32_t m_dpi;
    WindowId m_target;
    Fd m_wake;
    std::int32_t m_width { 0 };
    std::int32_t m_height { 0 };
    bool m_suspended { false };
    bool m_repaint_all { false };
    std::int32_t m_clicks { 0 };
    std::uint32_t m_last_down { 0 };
    std::int32_t m_last_x { 0 };
    std::int32_t m_last_y { 0 };
};

}

std::optional<FramebufferMode> parse_framebuffer_mode(std::string_view text)
{
    std::size_t const colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    auto const geometry = parse_screen_geometry(text.substr(0, colon));
    std::string_view bits = text.substr(colon + 1);
    if (!geometry || text.substr(0, colon).find('@') != std::string_view::npos)
        return std::nullopt;
    std::int32_t pages = 1;
    if (bits.ends_with("/2")) {
        pages = 2;
        bits.remove_suffix(2);
    }
    if (bits == "16")
        return FramebufferMode { geometry->width, geometry->height, kFormatRgb565, pages };
    if (bits == "32")
        return FramebufferMode { geometry->width, geometry->height, kFormatXrgb8888, pages };
    return std::nullopt;
}

FramePages::FramePages(FramebufferLayout const& layout)
    : m_layout(layout)
    , m_visible_y(layout.y_offset)
{
    // Two pages only where the pan lands exactly on either: whole screens
    // in pan steps, and no sideways offset to keep.
    if (layout.height > 0 && layout.virtual_height >= 2 * layout.height && layout.pan_step != 0
        && layout.height % layout.pan_step == 0 && layout.x_offset == 0)
        m_pages = 2;
    // The page the console shows is left alone until the first frame is
    // ready: drawn into is the other one.
    m_shown = layout.y_offset >= layout.height ? 1 : 0;
}

bool FramePages::fits() const
{
    std::size_t const page = static_cast<std::size_t>(m_layout.line_length) * m_layout.height;
    if (m_pages == 2)
        return 2 * page <= m_layout.memory_length;
    std::size_t const origin = static_cast<std::size_t>(m_layout.y_offset) * m_layout.line_length
        + static_cast<std::size_t>(m_layout.x_offset) * m_layout.bytes_per_pixel;
    return origin + page <= m_layout.memory_length;
}

std::size_t FramePages::draw_offset() const
{
    if (m_pages == 2)
        return static_cast<std::size_t>(1 - m_shown) * m_layout.height * m_layout.line_length;
    return static_cast<std::size_t>(m_visible_y) * m_layout.line_length
        + static_cast<std::size_t>(m_layout.x_offset) * m_layout.bytes_per_pixel;
}

PixelRect FramePages::area_to_draw(PixelRect changed)
{
    if (m_pages != 2)
        return changed;
    PixelRect both = changed;
    if (m_previous.width > 0 && m_previous.height > 0) {
        std::int32_t const l = std::min(changed.x, m_previous.x), t = std::min(changed.y, m_previous.y);
        std::int32_t const r = std::max(changed.x + changed.width, m_previous.x + m_previous.width);
        std::int32_t const b = std::max(changed.y + changed.height, m_previous.y + m_previous.height);
        both = { l, t, r - l, b - t };
    }
    m_previous = changed;
    return both;
}

std::uint32_t FramePages::pan_offset() const { return static_cast<std::uint32_t>(1 - m_shown) * m_layout.height; }

void FramePages::panned(bool shown)
{
    if (m_pages != 2)
        return;
    if (shown) {
        m_visible_y = pan_offset();
        m_shown = 1 - m_shown;
        return;
    }
    // What shows is what showed before: the console's offset, or the last
    // page panned in.
    m_pages = 1;
}

bool framebuffer_available() { return open_framebuffer() != nullptr; }

std::optional<std::int32_t> panel_turns_from_drm_name(std::string_view name)
{
    // As the DRM helper turns the console for each: a panel whose left
    // side is up shows the console turned a quarter anticlockwise.
    if (name == "Normal")
        return 0;
    if (name == "Upside Down")
        return turns_from_fbcon(2);
    if (name == "Left Side Up")
        return turns_from_fbcon(3);
    if (name == "Right Side Up")
        return turns_from_fbcon(1);
    return std::nullopt;
}

std::optional<std::int32_t> density_from_panel_size(std::uint32_t pixels, std::uint32_t millimetres)
{
    if (pixels == 0 || millimetres == 0 || millimetres == ~0u)
        return std::nullopt;
    double const dpi = pixels * 25.4 / millimetres;
    if (dpi < 24 || dpi > 1200)
        return std::nullopt;
    return static_cast<std::int32_t>(dpi + 0.5);
}

std::unique_ptr<NativeWindow> create_framebuffer_window(ScreenGeometry const& geometry, WindowId target)
{
    return create_framebuffer_window(geometry, target, open_console_control());
}

std::unique_ptr<NativeWindow> create_framebuffer_window(
    ScreenGeometry const& geometry, WindowId target, std::unique_ptr<ConsoleControl> console)
{
    auto device = open_framebuffer();
    if (!device)
        return nullptr;
    // A density asked for wins; else the panel's own, where its mode knows
    // its size, so that controls come out the same size on any panel.
    std::int32_t dpi = geometry.dpi;
    if (environment("QUILVANE_SCREEN").empty()) {
        if (auto const panel = density_from_panel_size(device->mode_width_pixels(), device->mode_width_mm()))
            dpi = *panel;
    }
    return std::make_unique<FramebufferWindow>(std::move(device), panel_orientation(), dpi, target, std::move(console));
}

}
