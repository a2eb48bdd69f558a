#include "shell/Application.h"
#include "shell/FirstScreen.h"
#include "shell/SplashScreen.h"
#include "base/Thread.h"
#include "imaging/PixelBuffer.h"
#include "widgets/ColorElement.h"
#include "skin/SkinCompiler.h"
#include "skin/SkinErrors.h"
#include "HeadlessEnvironment.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>

using namespace qv;

namespace {

class SplashScreenTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::HeadlessEnvironment m_environment { m_dir };
    Properties m_properties;

    // The two forms start-up needs, and nothing else.
    void SetUp() override
    {
        platform::MessageQueue::main().clear();
        load("form Splash\n"
             "    color outside_color 15 17 21\n"
             "    node background\n"
             "        string type color\n"
             "        color color 15 17 21\n"
             "form Main\n"
             "    color outside_color 22 25 30\n");
    }

    // Compiles the skin source and loads it in place of the last one.
    void load(char const* source)
    {
        auto const compiled = compile_skin(source, [](std::string const&) -> std::optional<Size> { return std::nullopt; });
        ASSERT_EQ(compiled.error, "");
        std::filesystem::create_directories(m_dir / "skin");
        test::write_bytes(m_dir / "skin" / "default.skin", compiled.image);
        ASSERT_TRUE(m_properties.load_skin(m_dir.program_path("skin/default.skin"), DisplayInfo { 240, 320, 96 }));
    }

    // Advances until the splash has handed over, at most `frames` times.
    static void run_frames(SplashScreen& splash, int frames)
    {
        for (int i = 0; i < frames && !splash.done(); ++i) {
            splash.advance(0.01);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

}

TEST_F(SplashScreenTest, hands_the_stack_to_the_first_screen_when_the_loader_ends)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    SplashScreen splash(app, m_properties);
    splash.start();
    EXPECT_EQ(app.top_screen(), &splash.screen());
    EXPECT_TRUE(app.top_is_modal());
    run_frames(splash, 300);
    ASSERT_TRUE(splash.done());
    EXPECT_FALSE(splash.failed());
    ASSERT_NE(splash.first_screen(), nullptr);
    EXPECT_EQ(app.top_screen(), &splash.first_screen()->main_screen());
    EXPECT_FALSE(app.top_is_modal());
    EXPECT_EQ(app.screen_count(), 1u);
    EXPECT_EQ(app.listener(), static_cast<AppListener*>(splash.first_screen()));
}

TEST_F(SplashScreenTest, a_first_screen_the_skin_cannot_build_ends_the_run_in_order)
{
    Application app(u"Quilvane");
    SplashScreen splash(app, m_properties,
        [](Properties&) -> std::unique_ptr<MainScreen> { throw NodeNotFoundInSkin(u"Main"); });
    splash.start();
    run_frames(splash, 300);
    ASSERT_TRUE(splash.done());
    EXPECT_TRUE(splash.failed());
    EXPECT_EQ(splash.first_screen(), nullptr);
    EXPECT_EQ(app.listener(), nullptr);
    // The window is asked to go, which ends the message loop.
    platform::Message message;
    bool destroy = false;
    while (platform::MessageQueue::main().peek(message))
        destroy = destroy || message.message == platform::WM_DESTROY;
    EXPECT_TRUE(destroy);
}

TEST_F(SplashScreenTest, a_slow_loader_gets_the_processor_only_after_half_a_second)
{
    Application app(u"Quilvane");
    Event release(Event::Reset::Manual);
    SplashScreen splash(app, m_properties, [&](Properties& properties) {
        release.wait();
        return std::make_unique<FirstScreen>(properties);
    });
    splash.start();
    auto timed_advance = [&](double seconds) {
        auto const start = std::chrono::steady_clock::now();
        splash.advance(seconds);
        return std::chrono::steady_clock::now() - start;
    };
    EXPECT_LT(timed_advance(0.3), std::chrono::milliseconds(90)); // 0.3 s in all
    EXPECT_LT(timed_advance(0.2), std::chrono::milliseconds(90)); // 0.5 s: not beyond
    EXPECT_GE(timed_advance(0.1), std::chrono::milliseconds(100)); // 0.6 s: sleeps
    EXPECT_DOUBLE_EQ(splash.running_total(), 0.6);
    release.set();
    run_frames(splash, 300);
    EXPECT_TRUE(splash.done());
    EXPECT_FALSE(splash.failed());
}

namespace {

std::uint16_t rgb565(int r, int g, int b) { return static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)); }

// A splash with a bar along its top, and a first screen of one colour.
char const* const kBarSkin = "form Splash\n"
                             "    node background\n"
                             "        string type color\n"
                             "        color color 15 17 21\n"
                             "    node bar\n"
                             "        string type color\n"
                             "        string anchor_y MIN_SIDE\n"
                             "        point design_size 0 40\n"
                             "        color color 232 236 241\n"
                             "form Main\n"
                             "    node background\n"
                             "        string type color\n"
                             "        color color 22 25 30\n";

}

TEST_F(SplashScreenTest, the_splash_and_the_first_screen_are_the_skins_forms_built_by_the_toolkit)
{
    load(kBarSkin);
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    SplashScreen splash(app, m_properties);
    EXPECT_NE(dynamic_cast<ColorElement*>(splash.find_child(u"bar")), nullptr);
    splash.start();
    auto buffer = PixelBuffer::create(240, 320);
    DrawTarget target(buffer.get());
    app.draw(target);
    // The bar keeps to the top, 40 pixels at 96 dpi; the background fills the rest.
    std::uint16_t const bar = rgb565(232, 236, 241), background = rgb565(15, 17, 21);
    EXPECT_EQ(buffer->at(0, 0), bar);
    EXPECT_EQ(buffer->at(239, 39), bar);
    EXPECT_EQ(buffer->at(0, 40), background);
    EXPECT_EQ(buffer->at(239, 319), background);

    run_frames(splash, 300);
    ASSERT_TRUE(splash.done());
    auto* first = dynamic_cast<FirstScreen*>(splash.first_screen());
    ASSERT_NE(first, nullptr);
    EXPECT_NE(dynamic_cast<ColorElement*>(first->form().find_child(u"background")), nullptr);
    app.draw(target);
    std::uint16_t const main = rgb565(22, 25, 30);
    EXPECT_EQ(buffer->at(0, 0), main);
    EXPECT_EQ(buffer->at(239, 319), main);

    // A press marks its point with a square of the skin's accent colour.
    first->on_pointer_button(Point { 100, 200 }, true, true, 0);
    EXPECT_TRUE(app.needs_redraw());
    app.draw(target);
    EXPECT_EQ(first->mark(), (Point { 100, 200 }));
    EXPECT_EQ(buffer->at(100, 200), rgb565(76, 166, 232));
    EXPECT_EQ(buffer->at(92, 192), rgb565(76, 166, 232));
    EXPECT_EQ(buffer->at(108, 200), main);
    EXPECT_EQ(buffer->at(100, 208), main);
}

TEST_F(SplashScreenTest, a_splash_the_toolkit_cannot_build_is_a_skin_error_and_shows_nothing)
{
    Application app(u"Quilvane");
    load("form Splash\n"
         "    node odd\n"
         "        string type wobble\n"
         "form Main\n");
    EXPECT_THROW(SplashScreen(app, m_properties), NodeNotRegistered);
    load("form Main\n");
    EXPECT_THROW(SplashScreen(app, m_properties), NodeNotFoundInSkin);
    EXPECT_EQ(app.screen_count(), 0u);
}
