#pragma once

// Shared by every test program: temporary directories, environment
// overrides and whole-file reads.

#include "core/WString.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// A fresh directory under the system's temp folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;

    std::filesystem::path const& path() const { return m_path; }
    std::filesystem::path operator/(std::string const& name) const { return m_path / name; }
    // The directory (or a name inside it) in the program's "\" form.
    WString program_path(std::string const& name = {}) const;

private:
    std::filesystem::path m_path;
};

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(char const* name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(ScopedEnv const&) = delete;
    ScopedEnv& operator=(ScopedEnv const&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

std::vector<unsigned char> read_bytes(std::filesystem::path const& path);
void write_bytes(std::filesystem::path const& path, std::vector<unsigned char> const& bytes);
void write_bytes(std::filesystem::path const& path, std::string const& bytes);

WString program_form(std::filesystem::path const& path);

// An Exif APP1 segment (marker and length included) whose IFD0 holds the
// Orientation tag, little-endian, as phone cameras write it; with a date,
// also the pointer to an Exif IFD whose DateTimeOriginal is that text
// ("YYYY:MM:DD HH:MM:SS"), written as given.
std::vector<unsigned char> exif_segment(int orientation, std::optional<std::string> const& date_taken = {});
// The JPEG with the size its (baseline or progressive) frame header claims
// changed, its data left as it is.
std::vector<unsigned char> with_frame_size(std::vector<unsigned char> bytes, int width, int height);
// The JPEG with `segment` put right after its start-of-image marker.
std::vector<unsigned char> with_segment(std::vector<unsigned char> const& jpeg, std::vector<unsigned char> const& segment);
std::filesystem::path system_form(WStringView program_path);

// The forked child's status once it ends; nothing, and the child killed,
// when it has not ended within the limit.
std::optional<int> wait_for_child(int pid, std::chrono::milliseconds limit = std::chrono::seconds(60));

}
