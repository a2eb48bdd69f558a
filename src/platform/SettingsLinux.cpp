#include "platform/Settings.h"
#include "platform/LockFile.h"

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qv::platform {

namespace {

struct Value {
    WString name;
    SettingValue data;
};

struct Key {
    WString path;
    std::vector<Value> values;
};

using Document = std::vector<Key>;

std::string const kHeader = "Windows Registry Editor Version 5.00";

std::string quote(WStringView text)
{
    std::string out = "\"";
    for (char c : to_utf8(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// Reads a quoted string starting at `pos` (on the opening quote); leaves
// `pos` after the closing quote.
std::optional<std::string> unquote(std::string const& line, size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '\\' && pos + 1 < line.size()) {
            char next = line[++pos];
            out += next == 'n' ? '\n' : next;
        } else if (c == '"') {
            ++pos;
            return out;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

Document parse(std::string const& text)
{
    Document doc;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            doc.push_back({ from_utf8(line.substr(1, line.size() - 2)), {} });
            continue;
        }
        if (doc.empty() || line.empty() || line[0] != '"')
            continue;
        size_t pos = 0;
        auto name = unquote(line, pos);
        if (!name || pos >= line.size() || line[pos] != '=')
            continue;
        ++pos;
        if (line.compare(pos, 6, "dword:") == 0) {
            char* end = nullptr;
            auto digits = line.substr(pos + 6);
            unsigned long value = std::strtoul(digits.c_str(), &end, 16);
            if (digits.empty() || *end != '\0' || digits.size() > 8)
                continue;
            doc.back().values.push_back({ from_utf8(*name), static_cast<std::uint32_t>(value) });
        } else if (auto text_value = unquote(line, pos)) {
            doc.back().values.push_back({ from_utf8(*name), from_utf8(*text_value) });
        }
    }
    return doc;
}

std::string serialise(Document const& doc)
{
    std::string out = kHeader + "\n";
    for (auto const& key : doc) {
        out += "\n[" + to_utf8(key.path) + "]\n";
        for (auto const& value : key.values) {
            out += quote(value.name) + "=";
            if (auto const* dword = std::get_if<std::uint32_t>(&value.data)) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "dword:%08x", *dword);
                out += hex;
            } else {
                out += quote(std::get<WString>(value.data));
            }
            out += "\n";
        }
    }
    return out;
}

Key* find_key(Document& doc, WStringView path)
{
    for (auto& key : doc) {
        if (equals_ignore_case(key.path, path))
            return &key;
    }
    return nullptr;
}

void make_parent_directories(std::string const& file)
{
    for (size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1))
        ::mkdir(file.substr(0, slash).c_str(), 0700);
}

// Settings kept under an earlier release's folder name (zenk/registry.reg)
// move to the program's own folder once: only while the new file does not
// exist, never over one made meanwhile, and only a plain file of this
// user's (a link is left where it is). The old folder goes when nothing
// else is in it. Looked at once per folder in a process.
void move_old_settings(std::string const& config, std::string const& path)
{
    static std::mutex mutex;
    static std::vector<std::string> looked;
    std::lock_guard guard(mutex);
    if (std::find(looked.begin(), looked.end(), config) != looked.end())
        return;
    looked.push_back(config);
    std::string const old_folder = config + "/zenk";
    std::string const old = old_folder + "/registry.reg";
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT)
        return;
    if (::lstat(old.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return;
    make_parent_directories(path);
    if (::renameat2(AT_FDCWD, old.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0)
        return;
    // Its lock file is the program's own only while empty and a plain file.
    std::string const old_lock = old + ".lock";
    if (::lstat(old_lock.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 && st.st_uid == ::geteuid())
        ::unlink(old_lock.c_str());
    ::rmdir(old_folder.c_str());
}

// The few values the program keeps take a few kilobytes; nothing larger is
// a settings file, and reading it whole (a device that never ends, a file
// grown by accident) would hold the start up and fill memory.
constexpr off_t kLargestFile = off_t { 1 } << 20;

// Why `st` cannot be the settings file, or nothing when it can.
char const* unusable(struct stat const& st)
{
    if (!S_ISREG(st.st_mode))
        return "it is not a regular file";
    if (st.st_size > kLargestFile)
        return "it is larger than 1 MiB";
    return nullptr;
}

// The parsed file, kept while the file on disk does not change, so that the
// log switch (read on every log statement) costs one stat. A refused file
// is kept too, as refused: each statement must not open it again.
struct Cache {
    std::mutex mutex;
    std::string path;
    bool valid { false };
    dev_t device { 0 };
    ino_t inode { 0 };
    off_t size { 0 };
    struct timespec mtime {};
    Document doc;
    std::string refusal; // why the file is ignored; empty when it is read
    std::string reported; // the file and refusal last written to standard error
};

Cache& cache()
{
    static Cache c;
    return c;
}

bool same_stat(Cache const& c, struct stat const& st)
{
    return c.valid && c.device == st.st_dev && c.inode == st.st_ino && c.size == st.st_size
        && c.mtime.tv_sec == st.st_mtim.tv_sec && c.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

void remember(Cache& c, std::string const& path, struct stat const& st)
{
    c.path = path;
    c.valid = true;
    c.device = st.st_dev;
    c.inode = st.st_ino;
    c.size = st.st_size;
    c.mtime = st.st_mtim;
}

// The log is switched by these very settings, so it cannot say why they
// are ignored; standard error can, once for each file and reason.
void report_refusal(Cache& c)
{
    std::string const line = c.path + ": " + c.refusal;
    if (c.refusal.empty() || line == c.reported)
        return;
    c.reported = line;
    std::fprintf(stderr, "settings file %s is ignored, %s; the defaults apply\n", c.path.c_str(), c.refusal.c_str());
    std::fflush(stderr);
}

void refuse(Cache& c, std::string const& path, struct stat const& st, std::string reason)
{
    c.doc.clear();
    remember(c, path, st);
    c.refusal = std::move(reason);
    report_refusal(c);
}

Document const& current_document(Cache& c, std::string const& path)
{
    // A link to the file is followed, as people keep settings elsewhere;
    // stat() answers without opening, so a FIFO cannot hold this up.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        // No file is no refusal: the first write makes it.
        bool const missing = errno == ENOENT;
        c.doc.clear();
        c.valid = false;
        c.path = path;
        c.refusal = missing ? "" : std::string("it cannot be read: ") + std::strerror(errno);
        if (missing)
            c.reported.clear();
        report_refusal(c);
        return c.doc;
    }
    if (c.path == path && same_stat(c, st))
        return c.doc;
    // Opening never blocks and never starts a device: only what looks like
    // a plain file is opened, and what was opened must still be one.
    if (char const* why = unusable(st)) {
        refuse(c, path, st, why);
        return c.doc;
    }
    int const fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        refuse(c, path, st, std::string("it cannot be read: ") + std::strerror(errno));
        return c.doc;
    }
    struct stat opened {};
    char const* why = fstat(fd, &opened) != 0 ? "it cannot be read" : unusable(opened);
    // The file may grow while it is read: a byte past the limit is enough
    // to know it is too large.
    std::string text;
    char buffer[16384];
    while (!why) {
        ssize_t const n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno != EINTR)
            why = "it cannot be read";
        else if (n > 0 && text.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kLargestFile))
            why = "it is larger than 1 MiB";
        else if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (why) {
        refuse(c, path, opened, why);
        return c.doc;
    }
    c.doc = parse(text);
    remember(c, path, opened);
    c.refusal.clear();
    c.reported.clear();
    return c.doc;
}

// Holds an exclusive lock on the store's lock file for one read-modify-write;
// the lock file goes with it, so none is left once the writes are done.
class StoreLock {
public:
    explicit StoreLock(std::string const& path)
        : m_path(path + ".lock")
    {
        make_parent_directories(path);
        std::string problem;
        m_fd = take_lock_file(m_path, true, problem);
    }
    ~StoreLock() { release_lock_file(m_path, m_fd); }
    StoreLock(StoreLock const&) = delete;
    StoreLock& operator=(StoreLock const&) = delete;
    bool is_held() const { return m_fd >= 0; }

private:
    std::string m_path;
    int m_fd { -1 };
};

bool write_atomically(std::string const& path, std::string const& text)
{
    // A scratch name of this process's own; whatever a crash left there is
    // made afresh, never written through.
    auto temp = path + ".tmp." + std::to_string(getpid());
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

// A file the reader ignores is not the program's to replace: a rename over
// it would throw away what someone put there (a hand-kept file grown past
// the limit, a device or FIFO set up on purpose). Nothing is made beside
// it either, not even the lock file.
bool refused(Cache& c, std::string const& path)
{
    std::lock_guard guard(c.mutex);
    current_document(c, path);
    return !c.refusal.empty();
}

template<typename Change>
bool modify(Change change)
{
    auto path = settings_file_path();
    auto& c = cache();
    if (refused(c, path))
        return false;
    StoreLock lock(path);
    if (!lock.is_held())
        return false;
    std::lock_guard guard(c.mutex);
    c.valid = false; // always re-read under the lock: another process may have written
    Document doc = current_document(c, path);
    if (!c.refusal.empty())
        return false;
    change(doc);
    if (!write_atomically(path, serialise(doc)))
        return false;
    c.valid = false;
    return true;
}

}

std::string settings_file_path()
{
    if (char const* path = std::getenv("QUILVANE_REGISTRY"); path && *path)
        return path;
    std::string config;
    if (char const* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        config = xdg;
    else
        config = std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.config";
    std::string path = config + "/quilvane/settings.reg";
    move_old_settings(config, path);
    return path;
}

std::string settings_file_problem()
{
    auto path = settings_file_path();
    auto& c = cache();
    std::lock_guard guard(c.mutex);
    current_document(c, path);
    return c.refusal;
}

std::optional<SettingValue> read_setting(WStringView key_path, WStringView name)
{
    // Reading only looks: a missing key or value is an answer, never a
    // reason to touch the file (nor its lock, nor its folder).
    auto path = settings_file_path();
    auto& c = cache();
    std::lock_guard guard(c.mutex);
    auto& doc = const_cast<Document&>(current_document(c, path));
    if (auto* key = find_key(doc, key_path)) {
        for (auto const& value : key->values) {
            if (equals_ignore_case(value.name, name))
                return value.data;
        }
    }
    return std::nullopt;
}

bool write_setting(WStringView key_path, WStringView name, SettingValue const& value)
{
    return modify([&](Document& doc) {
        auto* key = find_key(doc, key_path);
        if (!key) {
            doc.push_back({ WString(key_path), {} });
            key = &doc.back();
        }
        for (auto& existing : key->values) {
            if (equals_ignore_case(existing.name, name)) {
                existing.data = value;
                return;
            }
        }
        key->values.push_back({ WString(name), value });
    });
}

}
