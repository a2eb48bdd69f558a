#pragma once

// A card and a documents folder in a temporary directory, pictures made with
// the program's encoder (cjpeg for progressive ones), and a listener that
// records every catalog event.

#include "core/WString.h"
#include "catalog/CatalogEvent.h"
#include "catalog/PhotoCatalog.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheLocation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

// A picture whose pixels depend on `seed`, so pictures of one test differ.
bool write_jpeg(std::filesystem::path const& path, int width, int height, int seed = 0);
bool write_progressive(std::filesystem::path const& path, int width, int height);

// This process's processor time, in seconds: how much work a stop let
// happen, which a busy machine does not stretch as it stretches the wall
// clock.
double processor_seconds();

struct Recorder : CatalogListener {
    std::vector<CatalogEvent> events;
    void on_catalog_event(CatalogEvent const& event) override { events.push_back(event); }
    int count(bool CatalogEvent::*flag) const
    {
        int n = 0;
        for (auto const& e : events)
            n += (e.*flag) ? 1 : 0;
        return n;
    }
};

class CatalogTest : public ::testing::Test {
protected:
    TempDir m_dir;
    std::filesystem::path m_card { m_dir / "card" };
    std::filesystem::path m_docs { m_dir / "docs" };
    ScopedEnv m_cards_env { "QUILVANE_CARDS", (m_dir / "card").string() };
    ScopedEnv m_docs_env { "QUILVANE_DOCUMENTS", (m_dir / "docs").string() };
    WString m_ini { m_dir.program_path("folders.ini") };

    void SetUp() override
    {
        std::filesystem::create_directories(m_card);
        std::filesystem::create_directories(m_docs);
    }

    // Polls like a screen until `done` holds; false after `seconds`.
    static bool poll_until(PhotoCatalog& catalog, std::function<bool()> const& done, double seconds = 60);
    // need_search, then polls until the search and every build are over.
    static void search_and_build(PhotoCatalog& catalog, Recorder& recorder);

    std::filesystem::path cache_dir(std::filesystem::path const& root) const
    {
        return system_form(cache_directory_of(program_form(root)));
    }
    static std::vector<std::string> files_in(std::filesystem::path const& directory);
};

}
