#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "base/Language.h"
#include "base/Log.h"
#include "shell/SplashScreen.h"
#include "catalog/PhotoCatalog.h"
#include "display/Script.h"
#include "screens/AlbumForm.h"
#include "screens/DemoForm.h"
#include "screens/OpenRequest.h"
#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "skin/Properties.h"
#include "skin/SkinErrors.h"
#include "thumbcache/ScratchFiles.h"

#include <cstdio>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace qv;

namespace {

constexpr char16_t const* kAppName = u"Quilvane";

void marker(char16_t const* text)
{
    Log::get() << platform::tick_count() << text;
}

// The pictures and folders named, as full paths in the program's form: a
// second start in another folder hands over what it means, and a name
// keeps its bytes, valid UTF-8 or not. Empty, with `mistake` set, when the
// current folder cannot be told.
std::vector<WString> given_paths(std::vector<std::string> const& paths, std::string& mistake)
{
    std::string current;
    if (char buffer[4096]; ::getcwd(buffer, sizeof buffer))
        current = buffer;
    std::vector<WString> out;
    for (auto const& path : paths) {
        if (current.empty() && (path.empty() || path.front() != '/')) {
            mistake = "quilvane: cannot open '" + path + "': the current folder cannot be found";
            return {};
        }
        out.push_back(platform::from_system_path(full_path(path, current)));
    }
    return out;
}

// `demo`: the page of every element instead of the album list.
// `open`: the hand-over text of the pictures and folders to open once the
// album list is up; empty for none.
int run_application(Properties& properties, bool demo, WString const& open)
{
    Application application(kAppName);
    if (!application.has_window()) {
        WString text = u"No window can be opened";
        if (!platform::NativeWindow::failure().empty())
            text += u" (" + from_utf8(platform::NativeWindow::failure()) + u")";
        platform::show_message_box(kAppName, text);
        return 1;
    }
    // Opened as a second start's would be, once the first screen is there.
    if (!open.empty())
        application.queue_command_line(open);
    // A build cut short by Ctrl+C or a shutdown leaves no scratch file
    // behind. Installed once the window is: the window layer's own handler,
    // which closes the program in order, then runs after the removal.
    install_scratch_cleanup_on_signals();
    if (!choose_language(properties.language(), kAppName)) {
        platform::show_message_box(kAppName,
            u"No languages, please reinstall\n\u041d\u0435 \u043d\u0430\u0439\u0434\u0435\u043d\u044b "
            u"\u044f\u0437\u044b\u043a\u043e\u0432\u044b\u0435 \u0444\u0430\u0439\u043b\u044b, "
            u"\u043d\u0443\u0436\u043d\u0430 \u043f\u0435\u0440\u0435\u0443\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430\n");
        return 0;
    }
    ScreenInfo const info = application.screen_info();
    if (!properties.load_skin(u"%app_path%\\skins\\bin\\default.skin", DisplayInfo { info.width, info.height, info.dpi })) {
        platform::show_message_box(kAppName, properties.text(u"NoSkins"));
        return 0;
    }
    marker(u"WinMain 2\n");
    marker(u"WinMain 3\n");
    auto catalog = std::make_unique<PhotoCatalog>();
    // A script's wait_idle: the catalog and the screens have done their work.
    script_player().set_idle_probe([&] { return catalog && catalog->idle() && !application.busy(); });
    marker(u"WinMain 4\n");
    marker(u"WinMain 5\n");
    application.set_window_mode(false);
    application.set_direct_mode(platform::requested_orientation().value_or(info.orientation));
    application.set_input_grabbed(false);
    marker(u"WinMain 6\n");

    bool skin_failed = false;
    {
        std::unique_ptr<SplashScreen> splash;
        try {
            splash = std::make_unique<SplashScreen>(application, properties,
                [&catalog, demo](Properties& store) -> std::unique_ptr<MainScreen> {
                    if (demo)
                        return std::make_unique<DemoForm>(store);
                    return std::make_unique<AlbumForm>(store, *catalog);
                });
        } catch (SkinError const& error) {
            // No "Splash", or one with an element the toolkit cannot build.
            Log::get() << u"WinMain: " << error.message() << u"\n";
            skin_failed = true;
        }
        if (splash) {
            splash->start();
            marker(u"WinMain 7\n");
            application.run();
            marker(u"WinMain 8\n");
            skin_failed = splash->failed();
        }
    }
    catalog.reset();
    if (skin_failed)
        platform::show_message_box(kAppName, properties.text(u"NoSkins"));
    return 0;
}

}

int main(int argc, char** argv)
{
    std::vector<std::string_view> const arguments(argv + 1, argv + argc);
    auto const parsed = parse_command_line(arguments, [](std::string const& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    });
    switch (parsed.action) {
    case CommandLine::Action::Help:
        std::fputs(command_line_help().c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::printf("quilvane %s\n", QUILVANE_VERSION);
        return 0;
    case CommandLine::Action::Mistake:
        std::fprintf(stderr, "%s\n", parsed.mistake.c_str());
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    std::string mistake;
    auto const paths = given_paths(parsed.paths, mistake);
    if (!mistake.empty()) {
        std::fprintf(stderr, "%s\n", mistake.c_str());
        return 2;
    }
    marker(u"WinMain 0\n");
    {
        auto log = Log::get();
        log << u"Application::show_running_instance_open_bracket paths=" << static_cast<std::int32_t>(paths.size());
        for (auto const& path : paths)
            log << u" [" << readable_path(path) << u"]";
        log << u"\n";
    }
    WString const line = encode_open_request(paths);
    auto const answer = platform::check_running_instance(to_lower(kAppName), line);
    switch (answer.check) {
    case platform::InstanceCheck::HandedOver:
        Log::get() << u"Application::EnumProc window found: command line handed over\n";
        return 0;
    case platform::InstanceCheck::GaveUp:
        Log::get() << u"Application::show_running_instance gave up waiting for the running instance\n";
        break;
    case platform::InstanceCheck::Squatted:
        // The user must learn why this start opens a window of its own, and
        // that starts will go on doing so until the place is cleared.
        std::fprintf(stderr, "quilvane: no hand-over to a running instance: %s\n", answer.reason.c_str());
        Log::get() << u"Application::show_running_instance no hand-over: " << from_utf8(answer.reason) << u"\n";
        break;
    case platform::InstanceCheck::NoneRunning:
        break;
    }
    marker(u"WindMain 1\n");
    Properties properties;
    return run_application(properties, parsed.demo, line);
}
