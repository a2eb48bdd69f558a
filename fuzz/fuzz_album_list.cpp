// Arbitrary bytes as the album list file, read as the program reads it (a
// UTF-16 or 8-bit text file, then its albums checked against the search
// roots). Every album that comes out must be one the program may believe:
// its drive one of the roots, its size within bounds, its key picture and
// folder inside its drive; and writing the albums out and reading them back
// must give the same albums.

#include "base/FileStream.h"
#include "base/TextFile.h"
#include "catalog/CatalogFile.h"
#include "catalog/FolderInfo.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

struct Fixture {
    fs::path dir;
    fs::path file;
    WString file_name;
    // A card and the documents folder, as the search names them.
    std::vector<WString> roots { u"\\media\\card\\", u"%my_documents%\\" };

    Fixture()
    {
        dir = fs::temp_directory_path() / ("quilvane-fuzz-albums-" + std::to_string(getpid()));
        fs::create_directories(dir / "docs");
        // The documents folder spelled out is a root too.
        setenv("QUILVANE_DOCUMENTS", (dir / "docs").c_str(), 1);
        file = dir / "folders.ini";
        file_name = from_utf8(file.string());
    }
    ~Fixture()
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

WString without_trailing_separator(WString path)
{
    if (!path.empty() && is_separator(path.back()))
        path.pop_back();
    return path;
}

// The key picture inside the drive: the drive, a separator, a name, and no
// ".." on the way.
bool inside(WString const& path, WString const& drive)
{
    WString const base = without_trailing_separator(drive);
    if (base.empty() || path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0
        || !is_separator(path[base.size()]) || is_separator(path.back()))
        return false;
    std::size_t start = base.size() + 1;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !is_separator(path[end]))
            ++end;
        if (path.compare(start, end - start, u"..") == 0 && end - start == 2)
            return false;
        start = end + 1;
    }
    return true;
}

using Key = std::tuple<WString, WString, WString, std::int32_t>;

std::vector<Key> sorted(std::vector<FolderInfo> const& folders)
{
    std::vector<Key> keys;
    for (auto const& f : folders)
        keys.emplace_back(f.key_picture_path, f.drive_path, f.folder_path, f.folder_size);
    std::sort(keys.begin(), keys.end());
    return keys;
}

}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    static Fixture fixture;
    if (std::FILE* out = std::fopen(fixture.file.c_str(), "wb")) {
        if (size > 0)
            std::fwrite(data, 1, size, out);
        std::fclose(out);
    } else {
        std::abort();
    }
    FileStream stream(fixture.file_name, OpenMode::Read);
    if (!stream.is_open())
        std::abort();
    auto const folders = folders_from_text(read_text(stream).text, fixture.roots);

    for (auto const& folder : folders) {
        if (folder_entry_problem(folder, fixture.roots) != nullptr)
            std::abort();
        if (folder.folder_size < 0 || folder.folder_size > kMaxFolderSize)
            std::abort();
        if (!inside(folder.key_picture_path, folder.drive_path))
            std::abort();
        if (folder.folder_path != folder_of(folder.key_picture_path))
            std::abort();
    }
    // What the program saves, it reads back the same.
    if (sorted(folders_from_text(folders_to_text(folders), fixture.roots)) != sorted(folders))
        std::abort();
    return 0;
}
