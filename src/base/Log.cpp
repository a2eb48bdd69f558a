#include "base/Log.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "base/TextFile.h"
#include "platform/System.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qv {

namespace {

class NullLog final : public Log {
public:
    void write(WStringView) override { }
    void flush() override { }
    bool keeps_text() const override { return false; }
};

std::atomic<std::uint64_t> g_log_file_limit { kLogFileLimit };

constexpr std::uint64_t kMarkBytes = 2; // the byte-order mark

WString started_over_line(std::uint64_t limit)
{
    return u"The log started over here: the file reached its limit of " + to_wstring(static_cast<std::int64_t>(limit))
        + u" bytes.\n";
}

bool has_surrogate(WStringView text)
{
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0xD800 && c < 0xE000; });
}

class FileLog final : public Log {
public:
    FileLog()
        : m_path(log_file_path())
    {
        open_fresh();
    }

    void write(WStringView text) override
    {
        // Names of files that are not UTF-8 carry lone surrogates; the file
        // stays well-formed UTF-16 for whatever reads it.
        WString cleaned;
        if (has_surrogate(text)) {
            cleaned = without_lone_surrogates(text);
            text = cleaned;
        }
        std::lock_guard lock(m_mutex);
        if (!m_writer.is_open())
            return;
        std::uint64_t const limit = effective_limit();
        if (m_size + text.size() * sizeof(char16_t) > limit)
            start_over(limit);
        // An item larger than a whole file keeps what fits, and never half
        // of a surrogate pair.
        std::uint64_t const room = (limit - std::min(limit, m_size)) / sizeof(char16_t);
        if (text.size() > room) {
            text = text.substr(0, static_cast<std::size_t>(room));
            if (!text.empty() && text.back() >= 0xD800 && text.back() < 0xDC00)
                text.remove_suffix(1);
        }
        if (m_writer.write(text))
            m_size += text.size() * sizeof(char16_t);
    }

    void flush() override
    {
        std::lock_guard lock(m_mutex);
        m_writer.flush();
    }

private:
    // Created fresh on each switch-on and each start-over; owner-only and
    // never through a symbolic link, since Temp is shared with other users.
    void open_fresh()
    {
        m_writer.open(m_path, OpenMode::Write, FileAccess::OwnerOnly);
        m_size = m_writer.is_open() ? kMarkBytes : 0;
    }

    void start_over(std::uint64_t limit)
    {
        m_writer.close();
        open_fresh();
        WString const line = started_over_line(limit);
        if (m_writer.write(line))
            m_size += line.size() * sizeof(char16_t);
    }

    static std::uint64_t effective_limit()
    {
        // Room for the mark and the started-over line with the longest
        // number it can name.
        static std::uint64_t const smallest
            = kMarkBytes + started_over_line(std::uint64_t(INT64_MAX)).size() * sizeof(char16_t);
        return std::max(g_log_file_limit.load(std::memory_order_relaxed), smallest);
    }

    WString const m_path;
    std::mutex m_mutex; // one item is one write: items never tear
    TextWriter m_writer;
    std::uint64_t m_size { 0 }; // bytes in the file, as this log wrote them
};

struct CurrentLog {
    std::mutex mutex; // guards log and is_file
    std::shared_ptr<Log> log;
    bool is_file { false };
};

CurrentLog& current_log()
{
    static CurrentLog current;
    return current;
}

WString ascii(char const* text)
{
    return WString(text, text + std::char_traits<char>::length(text));
}

}

Log::Ref Log::get()
{
    std::uint32_t value = 0;
    bool on = read_dword(kMakerKey, u"Log", value) && value != 0;

    auto& current = current_log();
    std::lock_guard lock(current.mutex);
    if (!current.log || current.is_file != on) {
        // Threads still writing keep the old log alive through their Ref;
        // it closes when the last of them lets go.
        current.log.reset();
        if (on)
            current.log = std::make_shared<FileLog>();
        else
            current.log = std::make_shared<NullLog>();
        current.is_file = on;
    }
    return Ref(current.log);
}

Log::Ref& Log::Ref::operator<<(WStringView text)
{
    if (!m_keeps || text.empty())
        return *this;
    m_line.insert(m_line.end(), text.begin(), text.end());
    if (text.back() == u'\n')
        write_pending();
    return *this;
}

Log::Ref& Log::Ref::operator<<(std::string_view utf8)
{
    if (!m_keeps)
        return *this;
    return *this << WStringView(from_utf8(utf8));
}

Log::Ref& Log::Ref::operator<<(std::int32_t value)
{
    if (!m_keeps)
        return *this;
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return *this << WStringView(ascii(text));
}

Log::Ref& Log::Ref::operator<<(std::uint32_t value)
{
    if (!m_keeps)
        return *this;
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return *this << WStringView(ascii(text));
}

Log::Ref& Log::Ref::operator<<(std::int64_t value)
{
    if (!m_keeps)
        return *this;
    char text[24];
    std::snprintf(text, sizeof text, "%" PRId64, value);
    return *this << WStringView(ascii(text));
}

Log::Ref& Log::Ref::operator<<(double value)
{
    if (!m_keeps)
        return *this;
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return *this << WStringView(ascii(text));
}

Log::Ref& Log::Ref::operator<<(Key key) { return *this << key_name(key); }

void report_fatal(WStringView where, WStringView message)
{
    {
        auto log = Log::get();
        log << u"Gluck: " << message << u" @ " << where << u"\n";
        log.flush();
    }
    // A fatal error is a failure: the exit code says so.
    std::_Exit(1);
}

WString log_file_path()
{
    return join_path(platform::temp_folder(), expand_path(u"%app_name%.txt"));
}

void set_log_file_limit(std::uint64_t bytes) { g_log_file_limit.store(bytes, std::memory_order_relaxed); }

std::uint64_t log_file_limit() { return g_log_file_limit.load(std::memory_order_relaxed); }

void Stopwatch::start() { m_start = platform::tick_count(); }

double Stopwatch::elapsed() const
{
    return static_cast<std::uint32_t>(platform::tick_count() - m_start) * 0.001;
}

double Stopwatch::restart()
{
    auto now = platform::tick_count();
    double seconds = static_cast<std::uint32_t>(now - m_start) * 0.001;
    m_start = now;
    return seconds;
}

}
