#include "screens/PictureInfo.h"

#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Paths.h"
#include "imaging/ByteSource.h"
#include "imaging/Exif.h"

#include <cstdio>

namespace qv {

namespace {

WString two_digits(int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return from_utf8(text);
}

}

PictureFacts read_picture_facts(WStringView path)
{
    PictureFacts facts;
    facts.name = file_name_of(path);
    // The folder as the user finds it, not as the program abbreviates it.
    WString const full = expand_path(path);
    facts.folder = strip_trailing_separator(directory_of(full));
    for (auto& c : facts.folder)
        if (c == u'\\')
            c = u'/';
    if (facts.folder.empty() && !full.empty() && full.front() == u'\\')
        facts.folder = u"/";

    FileInfo const file(path);
    if (!file.exists() || file.is_directory())
        return facts;
    facts.file_size = file.size();

    FileStream stream(path, OpenMode::Read);
    if (stream.is_open()) {
        StreamByteSource source(stream);
        if (auto taken = exif_date_taken(read_exif_block(source))) {
            facts.date = PictureFacts::Date { taken->year, taken->month, taken->day, taken->hour, taken->minute,
                taken->second };
            facts.taken_by_camera = true;
            return facts;
        }
    }
    auto const& changed = file.modified().fields();
    facts.date = PictureFacts::Date { changed.year, changed.month, changed.day, changed.hour, changed.minute,
        changed.second };
    return facts;
}

WString format_date(PictureFacts::Date const& date, InfoFormat const& format)
{
    WString out;
    WStringView const pattern = format.date_pattern;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'%' || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        switch (pattern[++i]) {
        case u'Y': out += to_wstring(date.year); break;
        case u'm': out += two_digits(date.month); break;
        case u'd': out += two_digits(date.day); break;
        case u'H': out += two_digits(date.hour); break;
        case u'M': out += two_digits(date.minute); break;
        case u'S': out += two_digits(date.second); break;
        case u'%': out += u'%'; break;
        default:
            out += u'%';
            out += pattern[i];
            break;
        }
    }
    return out;
}

WString format_file_size(std::uint64_t bytes, InfoFormat const& format)
{
    // A no-break space keeps number and unit on one line.
    constexpr char16_t kSpace = u'\u00A0';
    if (bytes < 1024)
        return to_wstring(static_cast<std::int64_t>(bytes)) + kSpace + format.bytes;
    bool const mega = bytes >= 1024 * 1024;
    // Tenths, rounded; 1023.96 KB reads as 1024.0 KB rather than jumping.
    std::uint64_t const unit = mega ? 1024 * 1024 : 1024;
    std::uint64_t const tenths = (bytes * 10 + unit / 2) / unit;
    return to_wstring(static_cast<std::int64_t>(tenths / 10)) + format.decimal_point
        + to_wstring(static_cast<std::int64_t>(tenths % 10)) + kSpace + (mega ? format.megabytes : format.kilobytes);
}

WString format_pixel_size(std::int32_t width, std::int32_t height)
{
    return to_wstring(width) + u" \u00D7 " + to_wstring(height);
}

}
