#include "base/Directories.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "platform/Files.h"
#include "platform/System.h"

namespace qv {

namespace {

// Whether `path` is the card itself or lies below it. A bare prefix test
// would also take "\media\card2" to be on "\media\card".
bool is_on_card(WStringView path, WStringView card)
{
    WString root = strip_trailing_separator(card);
    if (!path_starts_with(path, root))
        return false;
    return path.size() == root.size() || path[root.size()] == u'\\' || path[root.size()] == u'/';
}

// Returns false once the visitor asked to stop.
bool walk(DirectoryVisitor& visitor, WString const& directory, WStringView file_pattern,
    WStringView directory_pattern, bool recursive)
{
    auto pattern = [&](WStringView p) { return expand_path(join_path(directory, p)); };
    for (auto const& name : platform::find_names(pattern(file_pattern), platform::EntryKind::Files)) {
        if (!visitor.on_file(join_path(directory, name)))
            return false;
    }
    for (auto const& name : platform::find_names(pattern(directory_pattern), platform::EntryKind::Directories)) {
        auto path = join_path(directory, name);
        if (!visitor.on_directory(path))
            return false;
        if (recursive && !walk(visitor, path, file_pattern, directory_pattern, recursive))
            return false;
    }
    return true;
}

}

bool PathCollector::on_file(WString const& path)
{
    if (m_take == Take::Files)
        paths.push_back(path);
    return true;
}

bool PathCollector::on_directory(WString const& path)
{
    if (m_take == Take::Directories)
        paths.push_back(path);
    return true;
}

bool walk_directory(DirectoryVisitor& visitor, WStringView directory, WStringView file_pattern,
    WStringView directory_pattern, bool recursive)
{
    walk(visitor, WString(directory), file_pattern, directory_pattern, recursive);
    return true;
}

void create_directories(WStringView path)
{
    WString expanded = strip_trailing_separator(expand_path(path));
    if (expanded.empty())
        return;
    create_directories(strip_trailing_separator(directory_of(expanded)));
    bool created = platform::create_directory(expanded);
    Log::get() << u"CreateDirectoryW {" << expanded << u"} result=" << (created ? u"true" : u"false") << u"\n";
}

bool execute_file(WStringView path, WStringView parameters)
{
    WString expanded = expand_path(path);
    Log::get() << u"execute_file(" << expanded << u"} {" << parameters << u")\n";
    return platform::open_document(expanded, parameters);
}

bool find_drives(DirectoryVisitor& visitor)
{
    WString documents = expand_path(u"%my_documents%");
    Log::get() << u"find_drives: mydoc={" << documents << u"}\n";
    for (auto const& card : platform::storage_cards()) {
        if (is_on_card(documents, card)) {
            Log::get() << u"skipping result={" << card << u"}\n";
            continue;
        }
        Log::get() << u"returning result={" << card << u"}\n";
        if (!visitor.on_directory(card))
            break;
    }
    return true;
}

}
