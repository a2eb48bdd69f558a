#include "display/Script.h"

#include "base/FileStream.h"
#include "base/Keys.h"
#include "base/Log.h"
#include "base/Milestones.h"
#include "base/ProgramClock.h"
#include "imaging/PixelBuffer.h"
#include "imaging/PngImage.h"
#include "platform/System.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace qv {

namespace {

using namespace platform;

struct Shape {
    char const* verb;
    int numbers;
    bool text;
};

// Verbs with the count of numbers they take and whether the rest of the line
// is text.
constexpr Shape kShapes[] = {
    { "tap", 2, false }, { "down", 2, false }, { "move", 2, false }, { "up", 2, false },
    { "dblclick", 2, false }, { "rclick", 2, false }, { "mclick", 2, false }, { "wheel", 2, false },
    { "drag", 5, false }, { "key", 0, true }, { "keydown", 0, true }, { "keyup", 0, true },
    { "text", 0, true }, { "wait", 1, false }, { "wait_ms", 1, false }, { "wait_log", 1, true },
    { "wait_for", 1, true }, { "wait_idle", 1, false },
    { "screenshot", 0, true }, { "close", 0, false },
};

int virtual_key_for(Key key)
{
    for (int vk = 1; vk < 256; ++vk) {
        if (key_from_virtual_key(vk) == key)
            return vk;
    }
    return 0;
}

}

std::vector<ScriptCommand> parse_script(std::string_view source, std::vector<std::string>* errors)
{
    std::vector<ScriptCommand> commands;
    std::int32_t line_number = 0;
    while (!source.empty()) {
        std::size_t const end = source.find('\n');
        std::string line(source.substr(0, end));
        source.remove_prefix(end == std::string_view::npos ? source.size() : end + 1);
        ++line_number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t const first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::istringstream in(line.substr(first));
        ScriptCommand command;
        command.line = line_number;
        in >> command.verb;
        Shape const* shape = nullptr;
        for (auto const& s : kShapes) {
            if (command.verb == s.verb)
                shape = &s;
        }
        auto fail = [&](char const* why) {
            if (errors)
                errors->push_back("line " + std::to_string(line_number) + ": " + why);
        };
        if (!shape) {
            fail("unknown command");
            continue;
        }
        bool ok = true;
        int wanted = shape->numbers;
        for (int i = 0; i < wanted; ++i) {
            long long value;
            if (!(in >> value) || value < -100000 || value > 100000000) {
                // drag's step count may be left out
                if (command.verb == "drag" && i == 4) {
                    command.numbers.push_back(8);
                    in.clear();
                    break;
                }
                ok = false;
                break;
            }
            command.numbers.push_back(static_cast<std::int32_t>(value));
        }
        if (ok && command.verb == "wheel") {
            // Notches may be parts of one, as a touchpad gives them; Ctrl
            // may be held.
            std::string notches, modifier;
            ok = static_cast<bool>(in >> notches);
            if (ok) {
                char* end = nullptr;
                command.amount = std::strtod(notches.c_str(), &end);
                ok = end == notches.c_str() + notches.size() && std::isfinite(command.amount)
                    && std::abs(command.amount) <= 100;
            }
            if (ok && in >> modifier) {
                command.text = modifier;
                ok = modifier == "ctrl";
            }
        }
        if (shape->text) {
            std::string rest;
            std::getline(in, rest);
            std::size_t const start = rest.find_first_not_of(" \t");
            command.text = start == std::string::npos ? "" : rest.substr(start);
            if (command.text.empty() && command.verb != "text")
                ok = false;
            if (command.verb == "wait_for" && !milestone::text_of(command.text)) {
                fail("no such milestone");
                continue;
            }
        } else {
            std::string extra;
            if (in >> extra)
                ok = false;
        }
        if ((command.verb == "key" || command.verb == "keydown" || command.verb == "keyup") && ok
            && (!key_from_name(from_utf8(command.text)) || virtual_key_for(*key_from_name(from_utf8(command.text))) == 0)) {
            fail("unknown key name");
            continue;
        }
        if (command.verb == "drag" && ok && command.numbers[4] < 1)
            ok = false;
        if (!ok) {
            fail("bad arguments");
            continue;
        }
        commands.push_back(std::move(command));
    }
    return commands;
}

void ScriptPlayer::load(std::vector<ScriptCommand> commands)
{
    m_commands = std::move(commands);
    m_next = 0;
    m_loaded = true;
    m_closed = false;
    m_waiting = false;
}

bool ScriptPlayer::log_contains(WStringView needle)
{
    // The log is UTF-16; only what was added since the last look is read,
    // keeping a tail so that a line split between looks is still found.
    FileStream file(log_file_path(), OpenMode::Read);
    if (!file.is_open())
        return false;
    std::uint64_t const size = file.size();
    if (size < m_log_scanned) {
        m_log_scanned = 0;
        m_log_tail.clear();
    }
    if (size > m_log_scanned) {
        file.seek(m_log_scanned);
        std::size_t const count = static_cast<std::size_t>((size - m_log_scanned) / 2);
        std::u16string chunk(count, u'\0');
        std::size_t const got = file.read(chunk.data(), count * 2) / 2;
        chunk.resize(got);
        m_log_scanned += got * 2;
        m_log_tail += chunk;
    }
    std::size_t const found = m_log_tail.find(needle);
    if (found != std::u16string::npos) {
        // Consumed up to the match, so a later wait looks for a later line.
        m_log_tail.erase(0, found + needle.size());
        return true;
    }
    std::size_t const keep = std::max<std::size_t>(needle.size(), 4096);
    if (m_log_tail.size() > keep)
        m_log_tail.erase(0, m_log_tail.size() - keep);
    return false;
}

bool ScriptPlayer::run(ScriptCommand const& c, WindowId window, DisplaySurface const& screen)
{
    auto& queue = MessageQueue::main();
    auto const& n = c.numbers;
    auto pen = [&](std::uint32_t msg, std::int32_t x, std::int32_t y) {
        queue.post(window, msg, msg == WM_LBUTTONUP ? 0 : 1, pack_point(x, y));
    };
    if (c.verb == "tap") {
        pen(WM_LBUTTONDOWN, n[0], n[1]);
        pen(WM_LBUTTONUP, n[0], n[1]);
    } else if (c.verb == "down") {
        pen(WM_LBUTTONDOWN, n[0], n[1]);
    } else if (c.verb == "move") {
        pen(WM_MOUSEMOVE, n[0], n[1]);
    } else if (c.verb == "up") {
        pen(WM_LBUTTONUP, n[0], n[1]);
    } else if (c.verb == "dblclick") {
        // As a mouse gives it: two clicks, the second press announced as
        // the double click.
        pen(WM_LBUTTONDOWN, n[0], n[1]);
        pen(WM_LBUTTONUP, n[0], n[1]);
        pen(WM_LBUTTONDOWN, n[0], n[1]);
        queue.post(window, WM_LBUTTONDBLCLK, MK_LBUTTON, pack_point(n[0], n[1]));
        pen(WM_LBUTTONUP, n[0], n[1]);
    } else if (c.verb == "rclick") {
        queue.post(window, WM_RBUTTONDOWN, MK_RBUTTON, pack_point(n[0], n[1]));
    } else if (c.verb == "mclick") {
        queue.post(window, WM_MBUTTONDOWN, MK_MBUTTON, pack_point(n[0], n[1]));
    } else if (c.verb == "wheel") {
        queue.post(window, WM_MOUSEWHEEL, pack_wheel(c.amount, c.text == "ctrl"), pack_point(n[0], n[1]));
    } else if (c.verb == "drag") {
        pen(WM_LBUTTONDOWN, n[0], n[1]);
        for (std::int32_t i = 1; i <= n[4]; ++i)
            pen(WM_MOUSEMOVE, n[0] + (n[2] - n[0]) * i / n[4], n[1] + (n[3] - n[1]) * i / n[4]);
        pen(WM_LBUTTONUP, n[2], n[3]);
    } else if (c.verb == "key" || c.verb == "keydown" || c.verb == "keyup") {
        int const vk = virtual_key_for(*key_from_name(from_utf8(c.text)));
        if (c.verb != "keyup")
            queue.post(window, WM_KEYDOWN, static_cast<std::uint64_t>(vk), 1);
        if (c.verb != "keydown")
            queue.post(window, WM_KEYUP, static_cast<std::uint64_t>(vk), 1);
    } else if (c.verb == "text") {
        for (char16_t ch : from_utf8(c.text))
            queue.post(window, WM_CHAR, ch, 1);
    } else if (c.verb == "wait") {
        if (!m_waiting) {
            m_waiting = true;
            m_frames_left = n[0];
        }
        if (m_frames_left-- > 0)
            return false;
    } else if (c.verb == "wait_ms") {
        // The program's clock: virtual under a script, so that a wait is
        // the same number of frames on any machine.
        if (!m_waiting) {
            m_waiting = true;
            m_wait_start = program_ticks();
        }
        if (static_cast<std::int32_t>(program_ticks() - m_wait_start) < n[0])
            return false;
    } else if (c.verb == "wait_log" || c.verb == "wait_for" || c.verb == "wait_idle") {
        // Limits in real time, as long as a busy machine needs. Milestones
        // and idleness are other threads' work: the screens' clock stands
        // still while they are waited for. A log line may be the screens'
        // own, after an animation: their clock runs.
        if (!m_waiting) {
            m_waiting = true;
            m_wait_start = tick_count();
            hold_program_clock(c.verb != "wait_log");
        }
        bool done = false;
        if (c.verb == "wait_idle") {
            done = !m_idle_probe || m_idle_probe();
        } else {
            WString const text = c.verb == "wait_log" ? from_utf8(c.text) : WString(milestone::text_of(c.text).value_or(u""));
            done = !text.empty() && log_contains(text);
        }
        if (!done) {
            if (static_cast<std::int32_t>(tick_count() - m_wait_start) < n[0])
                return false;
            char const* what = c.verb == "wait_idle" ? "the program to be idle" : c.text.c_str();
            Log::get() << u"Script: line " << c.line << u" gave up waiting for " << from_utf8(what) << u"\n";
            std::fprintf(stderr, "script line %d: gave up waiting for \"%s\"\n", c.line, what);
        }
        hold_program_clock(false);
    } else if (c.verb == "screenshot") {
        auto buffer = PixelBuffer::wrap(screen.width, screen.height, screen.pitch, screen.pixels);
        bool const saved = buffer && save_png(*buffer, from_utf8(c.text));
        Log::get() << u"Script: screenshot " << from_utf8(c.text) << (saved ? u" saved\n" : u" failed\n");
        if (!saved)
            std::fprintf(stderr, "script line %d: cannot write %s\n", c.line, c.text.c_str());
    } else if (c.verb == "close") {
        queue.post(window, WM_CLOSE);
        m_closed = true;
    }
    m_waiting = false;
    return true;
}

void ScriptPlayer::step(WindowId window, DisplaySurface const& screen)
{
    if (!m_loaded)
        return;
    while (m_next < m_commands.size()) {
        if (!run(m_commands[m_next], window, screen))
            return;
        ++m_next;
    }
    if (!m_closed) {
        m_closed = true;
        MessageQueue::main().post(window, WM_CLOSE);
    }
}

ScriptPlayer& script_player()
{
    static ScriptPlayer player = [] {
        ScriptPlayer p;
        char const* path = std::getenv("QUILVANE_SCRIPT");
        if (!path || !*path)
            return p;
        FileStream file(from_utf8(path), OpenMode::Read);
        std::string source;
        if (file.is_open()) {
            source.resize(static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), 1u << 24)));
            source.resize(file.read(source.data(), source.size()));
        } else {
            std::fprintf(stderr, "QUILVANE_SCRIPT: cannot read %s\n", path);
        }
        std::vector<std::string> errors;
        auto commands = parse_script(source, &errors);
        for (auto const& e : errors)
            std::fprintf(stderr, "QUILVANE_SCRIPT %s\n", e.c_str());
        p.load(std::move(commands));
        return p;
    }();
    return player;
}

}
