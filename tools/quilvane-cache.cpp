// quilvane-cache: builds the cache files of a picture library ahead of
// time, and looks inside them.
//
//   quilvane-cache build [-j N] [ROOT...]
//                                        every picture under each root (JPEG, PNG,
//                                        WebP, GIF, TIFF, HEIF, AVIF, JPEG XL, RAW)
//                                        (default: the pictures folder and the cards),
//                                        N at once (default: one per processor)
//   quilvane-cache check PICTURE [ROOT]  the picture's cache file: header, sizes and checksum
//   quilvane-cache tile PICTURE LEVEL COLUMN ROW OUT.png [ROOT]
//                                        a tile of the upright picture (Exif
//                                        orientation applied), as the viewer shows it
//   quilvane-cache search [-j N]        the program's own search and cache building:
//                                        the cards and the pictures folder, the album
//                                        list in folders.ini beside the executable
//                                        (or $QUILVANE_FOLDERS_INI)
//
// The cache files go where the program looks for them (CacheLocation.h):
// the pictures folder's to $XDG_CACHE_HOME/quilvane/documents, a card's to
// "!quilvanecache" on the card (.../quilvane/cards/NAME when it cannot be
// written), any other root's to .../quilvane/folders/. The pictures
// folder's old "!quilvanecache" is moved first, as the program does.

#include "StandardOptions.h"
#include "base/Directories.h"
#include "base/FileInfo.h"
#include "base/Paths.h"
#include "catalog/AlbumListing.h"
#include "catalog/NameClaims.h"
#include "catalog/PhotoCatalog.h"
#include "catalog/PictureStatus.h"
#include "imaging/PictureFormat.h"
#include "imaging/PngImage.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "thumbcache/CacheOwnership.h"
#include "thumbcache/ScratchFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace qv;

namespace {

WString absolute(char const* path) { return platform::from_system_path(std::filesystem::absolute(path).string()); }

// A path as the system writes it: "/" separators, the name's own bytes.
std::string shown(WStringView path) { return platform::to_system_path(expand_path(path)); }

// Names on Linux differ by case: "Photos" and "photos" are two roots.
bool same_root(WStringView a, WStringView b)
{
    return strip_trailing_separator(expand_path(a)) == strip_trailing_separator(expand_path(b));
}

// A root from the command line: absolute, without "." or "..", with one
// trailing separator however it was typed.
WString root_argument(char const* path)
{
    auto const normal = std::filesystem::absolute(path).lexically_normal();
    return strip_trailing_separator(platform::from_system_path(normal.string())) + u"\\";
}

// Scratch files of builds that were killed (by this tool or the program)
// would stay for ever: nothing else ever removes them.
void remove_stale_scratch(std::vector<WString> const& roots)
{
    int removed = 0;
    for (auto const& root : roots)
        removed += remove_stale_scratch_files(cache_directory_of(root));
    if (removed > 0)
        std::printf("removed %d scratch files left by builds that did not finish\n", removed);
}

// Before anything reads or writes the pictures folder's caches, as the
// program's catalog does when it starts.
void move_old_caches()
{
    auto const text = move_old_document_caches();
    if (!text.empty())
        std::printf("%s\n", to_utf8(text).c_str());
}

// What became of every picture seen: each is in exactly one group.
struct Tally {
    std::size_t built { 0 };
    std::size_t valid { 0 };
    std::vector<std::pair<WString, PictureProblem>> unreadable;
    std::vector<WString> not_written; // the picture is fine; its cache file could not be written
    std::vector<WString> left;        // not built yet when the run ended

    void add_failure(WString picture, PictureProblem problem)
    {
        // A failure without a reason: the picture says whether it is to blame.
        if (problem == PictureProblem::None)
            problem = diagnose_picture(picture);
        if (problem == PictureProblem::None || problem == PictureProblem::Storage)
            not_written.push_back(std::move(picture));
        else
            unreadable.emplace_back(std::move(picture), problem);
    }

    std::size_t seen() const { return built + valid + unreadable.size() + not_written.size() + left.size(); }

    void print() const
    {
        std::printf("built %zu, already valid %zu, unreadable %zu, not written %zu", built, valid, unreadable.size(),
            not_written.size());
        if (!left.empty())
            std::printf(", left to build %zu", left.size());
        std::printf(" (of %zu pictures)\n", seen());
        for (auto const& [picture, problem] : unreadable)
            std::printf("  %s: %s\n", shown(picture).c_str(), problem_text(problem));
        for (auto const& picture : not_written)
            std::printf("  %s: its cache file could not be written\n", shown(picture).c_str());
    }
};

std::vector<WString> default_roots()
{
    PathCollector cards(PathCollector::Take::Directories);
    find_drives(cards);
    std::vector<WString> roots;
    for (auto const& card : cards.paths)
        roots.push_back(card + u"\\");
    roots.push_back(expand_path(u"%my_documents%\\"));
    return roots;
}

class Progress {
public:
    explicit Progress(size_t total)
        : m_total(total)
        , m_terminal(platform::stdout_is_terminal())
    {
    }

    void show(size_t done, WString const& current)
    {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        double rate = seconds > 0 ? done / seconds : 0;
        int filled = m_total ? static_cast<int>(30 * done / m_total) : 30;
        std::string name = shown(file_name_of(current));
        if (name.size() > 40)
            name = "..." + name.substr(name.size() - 37);
        std::printf("%s[%.*s%*s] %zu/%zu  %.1f pictures/s  %s%s", m_terminal ? "\r\033[K" : "", filled,
            "##############################", 30 - filled, "", done, m_total, rate, name.c_str(),
            m_terminal ? "" : "\n");
        std::fflush(stdout);
    }

    void finish() const
    {
        if (m_terminal)
            std::printf("\n");
    }

private:
    size_t m_total;
    bool m_terminal;
    std::chrono::steady_clock::time_point m_start { std::chrono::steady_clock::now() };
};

int build(std::vector<WString> roots, int threads)
{
    if (roots.empty())
        roots = default_roots();
    // A root named twice would count its pictures twice.
    std::vector<WString> distinct;
    for (auto& root : roots) {
        if (std::none_of(distinct.begin(), distinct.end(), [&](auto const& r) { return same_root(r, root); }))
            distinct.push_back(std::move(root));
    }
    roots = std::move(distinct);
    if (std::any_of(roots.begin(), roots.end(), [](auto const& r) { return same_root(r, u"%my_documents%"); }))
        move_old_caches();
    remove_stale_scratch(roots);
    struct Job {
        WString picture;
        WString root;
    };
    std::vector<Job> jobs;
    for (auto const& root : roots) {
        std::vector<WString> pictures;
        pictures_under(root, pictures);
        for (auto& p : pictures)
            jobs.push_back({ std::move(p), root });
    }
    threads = std::clamp(threads, 1, std::max<int>(1, static_cast<int>(jobs.size())));
    std::printf("%zu pictures under %zu roots, %d at once\n", jobs.size(), roots.size(), threads);

    Progress progress(jobs.size());
    Tally tally;
    std::mutex tally_mutex;
    std::size_t done = 0;
    // Jobs are taken in order, each with its ticket, so that pictures
    // sharing a cache name get the names one build at a time would give.
    NameClaims claims;
    std::mutex take_mutex;
    std::size_t next = 0;
    auto work = [&] {
        for (;;) {
            std::size_t index = 0;
            std::uint64_t number = 0;
            {
                std::lock_guard lock(take_mutex);
                if (next == jobs.size())
                    return;
                index = next++;
                number = claims.take_ticket();
            }
            NameClaims::Ticket ticket(claims, number);
            auto const& job = jobs[index];
            {
                std::lock_guard lock(tally_mutex);
                progress.show(done, job.picture);
            }
            enum class Outcome { Built, Valid, Failed } outcome = Outcome::Failed;
            PictureProblem problem = PictureProblem::None;
            auto const status = read_picture_status(job.picture, job.root);
            if (status.state == PictureStatus::State::Missing) {
                // Listed a moment ago, gone or unreadable now.
                problem = PictureProblem::Missing;
            } else if (status.state == PictureStatus::State::Ready && cache_body_intact(status.cache_file)) {
                outcome = Outcome::Valid;
            } else {
                // Damage the header does not show is found by the checksum;
                // the file is built again under its name.
                if (status.state == PictureStatus::State::Ready)
                    mark_cache_damaged(status.cache_file);
                WString const plain_name = cache_file_name(job.picture, job.root);
                if ((plain_name.empty() || ticket.claim(plain_name))
                    && build_picture_cache(job.picture, job.root, nullptr, problem))
                    outcome = Outcome::Built;
            }
            std::lock_guard lock(tally_mutex);
            ++done;
            if (outcome == Outcome::Built)
                ++tally.built;
            else if (outcome == Outcome::Valid)
                ++tally.valid;
            else
                tally.add_failure(job.picture, problem);
        }
    };
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(work);
    work();
    for (auto& worker : workers)
        worker.join();
    progress.show(jobs.size(), {});
    progress.finish();
    tally.print();
    return 0;
}

// The search root that holds the picture's cache: given, or the nearest
// folder above the picture whose cache directory has it.
WString root_for(WString const& picture, int argc, char** argv, int index)
{
    if (argc > index)
        return absolute(argv[index]);
    for (WString folder = strip_trailing_separator(directory_of(picture)); !folder.empty();
         folder = strip_trailing_separator(directory_of(folder))) {
        auto cache = cache_file_name(picture, folder);
        if (FileInfo(cache).exists())
            return folder;
    }
    return directory_of(picture);
}

int check(WString const& picture, WString const& root)
{
    auto cache = cache_file_name(picture, root);
    if (cache.empty()) {
        std::fprintf(stderr, "no such picture\n");
        return 1;
    }
    std::printf("cache file: %s\n", shown(cache).c_str());
    if (read_picture_status(picture, root).state == PictureStatus::State::Bad) {
        std::printf("marked unreadable (empty): %s\n", problem_text(diagnose_picture(picture)));
        return 1;
    }
    auto header = read_cache_header(cache);
    if (!header) {
        std::printf("not valid\n");
        return 1;
    }
    if (!cache_body_intact(cache)) {
        std::printf("damaged: its body does not match its checksum%s\n",
            header->body_checksum ? "" : " (a file from before checksums)");
        return 1;
    }
    std::printf("valid, %zu bytes, %zu levels\n", static_cast<size_t>(header->file_size), header->levels.size() - 1);
    if (header->flags & kStoredStreamFlag)
        std::printf("  full size: a sequential copy, %u bytes at %u\n", header->full_stream.length,
            header->full_stream.offset);
    if (!header->has_full_size())
        std::printf("  full size: not stored (too large to copy); level 1 is the deepest\n");
    auto const probe = probe_picture(picture);
    if (probe.problem == PictureProblem::None)
        std::printf("  picture: %s, %d x %d%s\n", format_name(probe.info.format), probe.info.width, probe.info.height,
            probe.info.foreign_profile ? ", converted to sRGB from its colour profile" : "");
    int const orientation = cache_orientation(picture).value_or(1);
    if (orientation != 1)
        std::printf("  Exif orientation: %d\n", orientation);
    for (size_t k = 0; k < header->levels.size(); ++k) {
        auto const& level = header->levels[k];
        if (k == 0 && !header->has_full_size())
            continue;
        std::printf("  level %zu: %u entries at %u", k, level.entries.length / 17, level.entries.offset);
        if (k > 0)
            std::printf(", JPEG %u bytes at %u", level.jpeg.length, level.jpeg.offset);
        std::printf("\n");
    }
    std::printf("  thumbnail: JPEG %u bytes at %u\n", header->thumbnail.length, header->thumbnail.offset);
    return 0;
}

int tile(WString const& picture, int level, int column, int row, WString const& out, WString const& root)
{
    auto creator = open_piece_creator(picture, root, read_picture_status(picture, root));
    std::unique_ptr<PixelBuffer> piece;
    if (!creator->create_piece(level, column, row, piece)) {
        std::fprintf(stderr, "tile %d, %d, %d cannot be made\n", level, column, row);
        return 1;
    }
    if (!save_png(*piece, out)) {
        std::fprintf(stderr, "cannot write %s\n", shown(out).c_str());
        return 1;
    }
    return 0;
}

// Runs the catalog exactly as the program does, polling it as a screen would
// once per frame, until every queued picture is built.
int search(int threads)
{
    class Screen : public CatalogListener {
    public:
        explicit Screen(PhotoCatalog& catalog)
            : m_catalog(catalog)
        {
        }
        void on_catalog_event(CatalogEvent const& event) override
        {
            if (event.search_complete) {
                int count = m_catalog.get_folders_size();
                end_progress_line();
                std::printf("%d albums\n", count);
                for (int i = 0; i < count; ++i) {
                    auto folder = m_catalog.get_folder(i);
                    std::printf("  %-24s %5d  %s\n", to_utf8(folder_display_name(folder.key_picture_path)).c_str(),
                        folder.folder_size, shown(folder.folder_path).c_str());
                }
                m_searched = true;
            }
            if (event.progress)
                show(event.progress_fraction);
            if (event.cache_complete) {
                show(1.0);
                end_progress_line();
                m_complete = true;
            }
        }
        bool searched() const { return m_searched; }
        bool complete() const { return m_complete; }

    private:
        void show(double fraction)
        {
            int filled = static_cast<int>(30 * fraction);
            std::printf("%s[%.*s%*s] %3d%%%s", m_terminal ? "\r\033[K" : "", filled, "##############################",
                30 - filled, "", static_cast<int>(100 * fraction), m_terminal ? "" : "\n");
            std::fflush(stdout);
            m_line_open = m_terminal;
        }
        void end_progress_line()
        {
            if (m_line_open)
                std::printf("\n");
            m_line_open = false;
        }

        PhotoCatalog& m_catalog;
        bool m_terminal { platform::stdout_is_terminal() };
        bool m_line_open { false };
        bool m_searched { false };
        bool m_complete { false };
    };

    move_old_caches();
    remove_stale_scratch(default_roots());
    // The catalog tells a screen of the latest picture built at each poll,
    // not of every one: the builds are counted where they happen.
    std::mutex built_mutex;
    std::set<WString> built;
    PhotoCatalog catalog({}, false);
    catalog.set_build_threads(threads);
    catalog.set_build_observer([&](WString const& picture, bool ok) {
        if (!ok)
            return;
        std::lock_guard lock(built_mutex);
        built.insert(expand_path(picture));
    });
    catalog.start_worker();
    std::printf("album list: %s\n", shown(catalog.folders_file()).c_str());
    Screen screen(catalog);
    catalog.add_listener(&screen);
    catalog.need_search();
    // After the search the queue may be empty: nothing to wait for then.
    int idle_polls = 0;
    while (!screen.complete()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        catalog.poll_events();
        // With nothing to build there is no completion to wait for.
        idle_polls = screen.searched() && catalog.pending_count() == 0 ? idle_polls + 1 : 0;
        if (idle_polls > 3)
            break;
    }
    catalog.remove_listener(&screen);

    // Every picture of the albums' roots, as the catalog now sees it.
    Tally tally;
    std::vector<WString> roots;
    for (auto const& folder : catalog.get_folders()) {
        if (std::none_of(roots.begin(), roots.end(), [&](auto const& r) { return same_root(r, folder.drive_path); }))
            roots.push_back(folder.drive_path);
    }
    std::set<WString> const built_here = [&] {
        std::lock_guard lock(built_mutex);
        return built;
    }();
    for (auto const& root : roots) {
        std::vector<WString> pictures;
        pictures_under(root, pictures);
        for (auto& picture : pictures) {
            auto const status = catalog.picture_status(picture, root);
            switch (status.state) {
            case PictureStatus::State::Ready:
                if (built_here.contains(expand_path(picture)))
                    ++tally.built;
                else
                    ++tally.valid;
                break;
            case PictureStatus::State::Building:
                tally.left.push_back(std::move(picture));
                break;
            case PictureStatus::State::Bad:
            case PictureStatus::State::Missing:
                tally.add_failure(std::move(picture),
                    status.state == PictureStatus::State::Missing ? PictureProblem::Missing : status.problem);
                break;
            }
        }
    }
    std::printf("cache files: ");
    tally.print();
    return 0;
}

constexpr char const* kUsage =
        "usage: quilvane-cache build [-j N] [ROOT...]\n"
        "       quilvane-cache check PICTURE [ROOT]\n"
        "       quilvane-cache tile PICTURE LEVEL COLUMN ROW OUT.png [ROOT]\n"
        "           LEVEL 0 fits one 256-pixel tile, each level above doubles it; COLUMN and ROW\n"
        "           count tiles of the upright picture (its Exif orientation applied)\n"
        "       quilvane-cache search [-j N]\n"
        "           -j N builds N cache files at once (default: one per processor)\n"
        "cache files go where the program looks for them:\n"
        "  the pictures folder's    $XDG_CACHE_HOME/quilvane/documents (~/.cache/quilvane/documents)\n"
        "  a memory card's          !quilvanecache on the card; $XDG_CACHE_HOME/quilvane/cards/NAME\n"
        "                           when the card cannot be written\n"
        "  any other ROOT's         $XDG_CACHE_HOME/quilvane/folders/ROOT's path with \"!\" for \"/\"\n"
        "the pictures folder's old !quilvanecache is moved there first\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

}

int main(int argc, char** argv)
{
    if (auto const status = tools::standard_options(argc, argv, "quilvane-cache", kUsage, { "-j=" }))
        return *status;
    if (argc < 2)
        return usage();
    // Interrupted or killed, a build takes its scratch files with it.
    install_scratch_cleanup_on_signals();
    std::string command = argv[1];
    if (command == "build" || command == "search") {
        int threads = std::min(platform::processor_count(), PhotoCatalog::kMaxBuildThreads);
        std::vector<WString> roots;
        for (int i = 2; i < argc; ++i) {
            std::string_view const argument = argv[i];
            if (argument == "-j" || argument.starts_with("-j")) {
                char const* count = argument.size() > 2 ? argv[i] + 2 : (i + 1 < argc ? argv[++i] : "");
                char* end = nullptr;
                long const n = std::strtol(count, &end, 10);
                if (end == count || *end != 0 || n < 1 || n > PhotoCatalog::kMaxBuildThreads) {
                    std::fprintf(stderr, "quilvane-cache: -j wants a number of builds from 1 to %d\n",
                        PhotoCatalog::kMaxBuildThreads);
                    return 2;
                }
                threads = static_cast<int>(n);
                continue;
            }
            roots.push_back(root_argument(argv[i]));
        }
        if (command == "build")
            return build(roots, threads);
        if (!roots.empty())
            return usage();
        return search(threads);
    }
    if (command == "check" && argc >= 3) {
        auto picture = absolute(argv[2]);
        return check(picture, root_for(picture, argc, argv, 3));
    }
    if (command == "tile" && argc >= 7) {
        auto picture = absolute(argv[2]);
        return tile(picture, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), absolute(argv[6]),
            root_for(picture, argc, argv, 7));
    }
    return usage();
}
