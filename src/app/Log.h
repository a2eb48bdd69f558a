#pragma once

// The diagnostic trace. Whether anything is written is decided by the
// settings value "Log", read on every Log::get(), so the trace can be
// switched on and off while the program runs.

#include "app/Keys.h"
#include "app/WString.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace qv {

class Log {
public:
    virtual ~Log() = default;
    virtual void write(WStringView text) = 0;
    virtual void flush() = 0;

    class Ref;
    // The current log, held for as long as the returned reference lives, so
    // a switch by another thread never pulls it away mid-statement.
    static Ref get();
};

class Log::Ref {
public:
    explicit Ref(std::shared_ptr<Log> log)
        : m_log(std::move(log))
    {
    }

    Ref& operator<<(WStringView text)
    {
        m_log->write(text);
        return *this;
    }
    Ref& operator<<(char16_t const* text) { return *this << WStringView(text); }
    Ref& operator<<(std::string_view utf8);
    Ref& operator<<(char const* utf8) { return *this << std::string_view(utf8); }
    Ref& operator<<(std::int32_t value);
    Ref& operator<<(std::uint32_t value);
    Ref& operator<<(std::int64_t value);
    Ref& operator<<(double value);
    Ref& operator<<(Key key);

    void flush() { m_log->flush(); }

private:
    std::shared_ptr<Log> m_log;
};

// Logs "Gluck: " message " @ " where, then ends the process with code 1.
[[noreturn]] void report_fatal(WStringView where, WStringView message);

// The log file's full path: the executable's name with ".txt", in Temp.
WString log_file_path();

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
