#include "shell/GameBase.h"

#include "base/Log.h"
#include "base/Registry.h"
#include "imaging/Density.h"
#include "platform/Instance.h"
#include "platform/System.h"

#include <algorithm>

namespace qv {

namespace {

GameBase* g_instance = nullptr;

void marker(char16_t const* text) { Log::get() << platform::tick_count() << text; }

}

ScreenInfo read_screen_info(platform::NativeWindow const* native)
{
    platform::ScreenGeometry const geometry = platform::screen_geometry();
    ScreenInfo info;
    info.width = native ? native->width() : geometry.width;
    info.height = native ? native->height() : geometry.height;
    info.dpi = geometry.dpi;
    info.work_width = info.width;
    info.work_height = info.height;
    info.orientation = Display::display_orientation();
    return info;
}

BarHeights bar_heights(ScreenInfo const& info, std::int32_t input_panel_bottom)
{
    // The original platform's 26-pixel bar at 96 dpi, grown with the skin.
    std::int32_t const top = scale_length(26, scale_quarters_for_dpi(info.dpi));
    std::int32_t const bottom = input_panel_bottom >= 0 ? info.height - input_panel_bottom : top;
    return { top, bottom };
}

Rect windowed_client_area(ScreenInfo const& info, bool show_taskbar, std::int32_t input_panel_bottom)
{
    BarHeights const bars = bar_heights(info, input_panel_bottom);
    std::int32_t const x = 0;
    std::int32_t const y = show_taskbar ? bars.top : 0;
    std::int32_t const width = info.width - x;
    std::int32_t const height = std::max(0, info.height - bars.bottom - y);
    return Rect { x, y, x + width, y + height };
}

double frame_seconds(std::uint32_t now, std::uint32_t last)
{
    // Unsigned difference: a wrapped tick counter still gives the real gap.
    double const seconds = static_cast<double>(now - last) * 0.001;
    return std::clamp(seconds, 0.001, 0.1);
}

GameBase::GameBase(WStringView name, platform::WindowProc proc)
    : m_name(name)
    // Names the running instance's socket and lock in the runtime folder.
    , m_class_name(to_lower(name))
{
    if (g_instance)
        report_fatal(u"Singleton::Singleton()", u"Singleton is already instantiated");
    g_instance = this;

    std::uint32_t sip = 0;
    if (read_dword(kMakerKey, u"SIPPreference", sip))
        m_sip_preference = sip != 0;
    marker(u" GameBase 0\n");
    marker(u" GameBase 1\n");
    m_window = platform::MessageQueue::main().create_window(std::move(proc));
    marker(u" GameBase 2\n");
    if (m_window == 0)
        return;
    marker(u" GameBase 3\n");
    m_screen_info = read_screen_info(nullptr);
    marker(u" GameBase 4\n");
    if (platform::display_kind() != platform::DisplayKind::Headless) {
        platform::ScreenGeometry const geometry { m_screen_info.width, m_screen_info.height, m_screen_info.dpi };
        m_native = platform::NativeWindow::create(m_name, geometry,
            platform::display_kind() == platform::DisplayKind::Fullscreen, m_window);
        if (!m_native) {
            // No window to feed a message loop: the caller ends start-up.
            Log::get() << u"GameBase: no window can be opened: "
                       << from_utf8(platform::NativeWindow::failure()) << u"\n";
            platform::MessageQueue::main().destroy_window(m_window);
            m_window = 0;
            return;
        }
        m_screen_info = read_screen_info(m_native.get());
    }
    marker(u" GameBase 5\n");
    platform::WindowId const window = m_window;
    platform::start_instance_listener(m_class_name, [window](WString text) {
        platform::Message message { window, platform::WM_COPYDATA, 0, 0, std::move(text) };
        platform::MessageQueue::main().post(std::move(message));
    });
    platform::release_instance_lock();
    platform::MessageQueue::main().set_timer(m_window, kFrameTimerId, kFrameTimerMs);
    platform::MessageQueue::main().post(m_window, platform::WM_CREATE);
}

GameBase::~GameBase()
{
    platform::stop_instance_listener();
    m_display.reset();
    m_native.reset();
    if (m_window != 0)
        platform::MessageQueue::main().destroy_window(m_window);
    platform::release_instance_lock();
    g_instance = nullptr;
}

GameBase* GameBase::instance() { return g_instance; }

}
