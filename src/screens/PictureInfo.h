#pragma once

// What the viewer's information panel tells about a picture: its name and
// folder, its size in pixels and on disk, and when it was taken (the Exif
// DateTimeOriginal) or, lacking that, when its file was last changed; and
// how those read in the chosen language.
//
// Threads: any; nothing here is shared.
// Failures: a file that cannot be read gives what could be learned (its
// name and folder always); an Exif block that cannot be read is as none.

#include "core/WString.h"

#include <cstdint>
#include <optional>

namespace qv {

struct PictureFacts {
    WString name;
    // The folder as the system writes it, with "/".
    WString folder;
    std::optional<std::uint64_t> file_size;
    // Local time, broken down; taken_by_camera tells where it came from.
    struct Date {
        int year { 0 };
        int month { 0 };
        int day { 0 };
        int hour { 0 };
        int minute { 0 };
        int second { 0 };
        friend bool operator==(Date const&, Date const&) = default;
    };
    std::optional<Date> date;
    bool taken_by_camera { false };
};

// Reads the file's snapshot and, for the date, the Exif block before its
// first scan: a small read at the start of the file.
PictureFacts read_picture_facts(WStringView path);

// The language's ways of writing numbers and dates.
struct InfoFormat {
    // %Y %m %d %H %M %S stand for the fields, %% for "%"; anything else is
    // kept as it is.
    WString date_pattern { u"%Y-%m-%d %H:%M" };
    WString decimal_point { u"." };
    WString bytes { u"bytes" };
    WString kilobytes { u"KB" };
    WString megabytes { u"MB" };
};

WString format_date(PictureFacts::Date const& date, InfoFormat const& format);
// Bytes below 1 KB whole, else KB or MB (of 1024) with one decimal.
WString format_file_size(std::uint64_t bytes, InfoFormat const& format);
// "4000 × 3000".
WString format_pixel_size(std::int32_t width, std::int32_t height);

}
