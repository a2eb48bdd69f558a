#include "base/Log.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "base/TextFile.h"
#include "platform/System.h"

#include <cinttypes>
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

class FileLog final : public Log {
public:
    FileLog()
    {
        // Created fresh on each switch-on; owner-only and never through a
        // symbolic link, since Temp is shared with other users.
        m_writer.open(log_file_path(), OpenMode::Write, FileAccess::OwnerOnly);
    }

    void write(WStringView text) override
    {
        std::lock_guard lock(m_mutex);
        m_writer.write(text);
    }

    void flush() override
    {
        std::lock_guard lock(m_mutex);
        m_writer.flush();
    }

private:
    std::mutex m_mutex; // one item is one write: items never tear
    TextWriter m_writer;
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
