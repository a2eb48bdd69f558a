#pragma once

// The catalog's locks as its diagnostic log shows them: every lock taken
// by name, with a "start" line before taking it and an "end" line before
// letting it go, so that a log of a hang names the lock it hung on.
//
// Threads: any; one object per taking, on the stack.
// Failures: none; a log that is off writes nothing.

#include "base/Log.h"
#include "base/Thread.h"

namespace qv {

class LoggedLock {
public:
    LoggedLock(char16_t const* operation, char16_t const* name, Mutex& mutex)
        : m_operation(operation)
        , m_name(name)
        , m_mutex(mutex)
    {
        Log::get() << m_operation << u" " << m_name << u" start\n";
        m_mutex.lock();
    }
    ~LoggedLock()
    {
        Log::get() << m_operation << u" " << m_name << u" end\n";
        m_mutex.unlock();
    }
    LoggedLock(LoggedLock const&) = delete;
    LoggedLock& operator=(LoggedLock const&) = delete;

private:
    char16_t const* m_operation;
    char16_t const* m_name;
    Mutex& m_mutex;
};

}

#define QV_LOCK(operation, member) ::qv::LoggedLock member##_lock(operation, u## #member, member)
