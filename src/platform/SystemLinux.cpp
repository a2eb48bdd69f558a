#include "platform/System.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qv::platform {

namespace {

std::string env(char const* name)
{
    char const* value = std::getenv(name);
    return value ? value : "";
}

std::string home_directory()
{
    auto home = env("HOME");
    return home.empty() ? "/" : home;
}

std::string strip_slash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// XDG_PICTURES_DIR from user-dirs.dirs, with $HOME expanded.
std::string xdg_pictures_directory()
{
    auto config = env("XDG_CONFIG_HOME");
    if (config.empty())
        config = home_directory() + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        auto const key = std::string("XDG_PICTURES_DIR=");
        if (line.compare(0, key.size(), key) != 0)
            continue;
        auto value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = home_directory() + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return strip_slash(value);
    }
    return {};
}

// /proc/self/mounts escapes blanks and the like as octal.
std::string unescape_mount_path(std::string const& path)
{
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 3 < path.size()) {
            int value = 0;
            bool octal = true;
            for (int k = 1; k <= 3; ++k) {
                char c = path[i + k];
                if (c < '0' || c > '7') {
                    octal = false;
                    break;
                }
                value = value * 8 + (c - '0');
            }
            if (octal) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += path[i];
    }
    return out;
}

}

WString module_file_name()
{
    char buffer[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return {};
    return from_system_path(std::string_view(buffer, static_cast<size_t>(n)));
}

WString special_folder(int csidl)
{
    std::string path;
    switch (csidl) {
    case 5: // My Documents: where the user keeps pictures
        path = env("QUILVANE_DOCUMENTS");
        if (path.empty())
            path = xdg_pictures_directory();
        if (path.empty())
            path = home_directory() + "/Pictures";
        break;
    case 7: {
        auto config = env("XDG_CONFIG_HOME");
        path = (config.empty() ? home_directory() + "/.config" : config) + "/autostart";
        break;
    }
    case 2:
    case 11: {
        auto data = env("XDG_DATA_HOME");
        path = (data.empty() ? home_directory() + "/.local/share" : data) + "/applications";
        break;
    }
    case 38:
        path = "/usr/local";
        break;
    default:
        return {};
    }
    return from_system_path(strip_slash(path));
}

std::vector<WString> storage_cards()
{
    std::vector<WString> cards;
    if (char const* list = std::getenv("QUILVANE_CARDS")) {
        std::stringstream in(list);
        std::string item;
        while (std::getline(in, item, ':')) {
            if (!item.empty())
                cards.push_back(from_system_path(strip_slash(item)));
        }
        return cards;
    }
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mount_point;
        fields >> device >> mount_point;
        mount_point = unescape_mount_path(mount_point);
        if (mount_point.rfind("/media/", 0) == 0 || mount_point.rfind("/run/media/", 0) == 0)
            cards.push_back(from_system_path(strip_slash(mount_point)));
    }
    return cards;
}

WString temp_folder()
{
    auto tmp = env("TMPDIR");
    return from_system_path(strip_slash(tmp.empty() ? "/tmp" : tmp));
}

std::uint32_t tick_count()
{
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::string locale_name()
{
    for (char const* name : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        auto value = env(name);
        if (!value.empty())
            return value;
    }
    return {};
}

bool open_document(WStringView path, WStringView parameters)
{
    std::string target = to_system_path(path);
    std::string params = to_utf8(parameters);
    std::vector<char*> argv;
    std::string opener = "xdg-open";
    argv.push_back(opener.data());
    argv.push_back(target.data());
    if (!params.empty())
        argv.push_back(params.data());
    argv.push_back(nullptr);

    // Reaped by a detached waiter: no zombie is left and we never block on it.
    pid_t pid = 0;
    if (posix_spawnp(&pid, opener.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
    return true;
}

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

int current_process_id() { return static_cast<int>(getpid()); }

int current_thread_id() { return static_cast<int>(syscall(SYS_gettid)); }

bool set_thread_nice(int thread_id, int nice)
{
    return setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), nice) == 0;
}

int thread_nice(int thread_id)
{
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(thread_id));
}

bool set_thread_background(int thread_id)
{
    sched_param const param {};
    if (sched_setscheduler(static_cast<pid_t>(thread_id), SCHED_IDLE, &param) == 0)
        return true;
    return set_thread_nice(thread_id, 19);
}

bool thread_is_idle_class(int thread_id) { return sched_getscheduler(static_cast<pid_t>(thread_id)) == SCHED_IDLE; }

int processor_count()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

}
