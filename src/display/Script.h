#pragma once

// The headless driver's script: timed input, waits and screenshots, one
// command a line (syntax in README.md). It runs a step per frame of the
// loop and closes the window when it has run out.

#include "core/WString.h"
#include "display/DisplayGeometry.h"
#include "platform/WindowMessages.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv {

struct ScriptCommand {
    std::string verb;
    std::vector<std::int32_t> numbers;
    std::string text; // key name, log text, typed text, file name, or "ctrl" for a wheel
    double amount { 0 }; // a wheel's notches
    std::int32_t line { 0 };
};

// Parses the whole script; a line it cannot read is reported in `errors`
// ("line N: ...") and skipped.
std::vector<ScriptCommand> parse_script(std::string_view source, std::vector<std::string>* errors = nullptr);

class ScriptPlayer {
public:
    void load(std::vector<ScriptCommand> commands);
    bool is_loaded() const { return m_loaded; }
    bool finished() const { return m_loaded && m_next >= m_commands.size(); }
    // Runs commands until one has to wait; posts input to `window`; closes
    // the window after the last command.
    void step(platform::WindowId window, DisplaySurface const& screen);
    // What `wait_idle` asks: whether the program has no work under way on
    // other threads (searches, builds, tiles) and nothing left to show of
    // it. Without one, the program counts as idle.
    void set_idle_probe(std::function<bool()> probe) { m_idle_probe = std::move(probe); }

private:
    bool run(ScriptCommand const& command, platform::WindowId window, DisplaySurface const& screen);
    bool log_contains(WStringView text);

    std::vector<ScriptCommand> m_commands;
    std::size_t m_next { 0 };
    bool m_loaded { false };
    bool m_closed { false };
    // The wait in progress.
    bool m_waiting { false };
    std::int64_t m_frames_left { 0 };
    std::uint32_t m_wait_start { 0 };
    std::uint64_t m_log_scanned { 0 };
    std::u16string m_log_tail;
    std::function<bool()> m_idle_probe;
};

// The process's player, loaded from QUILVANE_SCRIPT on first use.
ScriptPlayer& script_player();

}
