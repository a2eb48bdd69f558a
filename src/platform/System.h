#pragma once

// Process-level services of the platform: where things are, what time it is,
// which thread this is, and handing a document to the desktop.

#include "core/WString.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv::platform {

// Full path of the running executable, in the program's path form.
WString module_file_name();

// The special folder for a shell folder number (5 My Documents, 36 Windows,
// 7 Startup, 2 Programs, 11 Start menu, 38 Program Files), without a trailing
// separator; empty when the folder has no equivalent here.
WString special_folder(int csidl);

// Mount points of removable media (or $QUILVANE_CARDS), program path form.
std::vector<WString> storage_cards();

WString temp_folder();

// Milliseconds from a monotonic clock, wrapping at 32 bits.
std::uint32_t tick_count();

// The user's locale as the environment names it ("ru_RU.UTF-8"), or "".
std::string locale_name();

// Starts the desktop's opener on the path and does not wait for it.
bool open_document(WStringView path, WStringView parameters);

int current_process_id();

// Whether standard output is a terminal (progress bars redraw in place).
bool stdout_is_terminal();
int current_thread_id();
// Nice value for one thread; raising priority may be refused to an
// unprivileged process, which the result reports.
bool set_thread_nice(int thread_id, int nice);
int thread_nice(int thread_id);
// Lets the thread run only on time no other thread of the system wants
// (SCHED_IDLE), or, where that is refused, at the lowest nice value. True
// when either took.
bool set_thread_background(int thread_id);
bool thread_is_idle_class(int thread_id);
// The processors this process may run on (at least 1).
int processor_count();

}
