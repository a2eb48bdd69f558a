#pragma once

// The diagnostic trace. Whether anything is written is decided by the
// settings value "Log", read on every Log::get(), so the trace can be
// switched on and off while the program runs.

#include "base/Keys.h"
#include "core/WString.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace qv {

class Log {
public:
    virtual ~Log() = default;
    virtual void write(WStringView text) = 0;
    virtual void flush() = 0;
    // False when nothing written would be kept.
    virtual bool keeps_text() const { return true; }

    class Ref;
    // The current log, held for as long as the returned reference lives, so
    // a switch by another thread never pulls it away mid-statement.
    static Ref get();
};

// Gathers a statement's items and writes each line whole, when its end
// comes: one write a line, and lines from other threads never fall into it.
// What is left without a line end is written when the reference goes.
class Log::Ref {
public:
    explicit Ref(std::shared_ptr<Log> log)
        : m_log(std::move(log))
        , m_keeps(m_log->keeps_text())
    {
    }
    ~Ref() { write_pending(); }
    Ref(Ref&&) = default;
    Ref& operator=(Ref&&) = delete;

    Ref& operator<<(WStringView text);
    Ref& operator<<(char16_t const* text) { return *this << WStringView(text); }
    Ref& operator<<(std::string_view utf8);
    Ref& operator<<(char const* utf8) { return *this << std::string_view(utf8); }
    Ref& operator<<(std::int32_t value);
    Ref& operator<<(std::uint32_t value);
    Ref& operator<<(std::int64_t value);
    Ref& operator<<(double value);
    Ref& operator<<(Key key);

    void flush()
    {
        write_pending();
        m_log->flush();
    }

private:
    void write_pending()
    {
        if (m_line.empty() || !m_log)
            return;
        m_log->write(m_line);
        m_line.clear();
    }

    std::shared_ptr<Log> m_log;
    bool m_keeps { true };
    WString m_line;
};

// Logs "Gluck: " message " @ " where, then ends the process with code 1.
[[noreturn]] void report_fatal(WStringView where, WStringView message);

// The log file's full path: the executable's name with ".txt", in Temp.
WString log_file_path();

// The log file never grows past this many bytes: a write that would take
// it further starts the file over, with a first line that says so. A
// program left running with the log on would otherwise fill Temp.
inline constexpr std::uint64_t kLogFileLimit = 4u << 20;
// For tests; takes effect at the next write. Limits below what the
// started-over line itself needs are raised to that.
void set_log_file_limit(std::uint64_t bytes);
std::uint64_t log_file_limit();

class Stopwatch {
public:
    Stopwatch() { start(); }
    void start();
    double elapsed() const;
    double restart();

private:
    std::uint32_t m_start { 0 };
};

}
