#include "base/FileInfo.h"
#include "base/Paths.h"

namespace qv {

namespace {

constexpr std::int64_t kTicksPerMillisecond = 10000;
constexpr std::int64_t kTicksPerDay = 86400LL * 1000 * kTicksPerMillisecond;

// Days from 1601-01-01 to the civil date (proleptic Gregorian).
std::int64_t days_from_civil(int year, int month, int day)
{
    year -= month <= 2;
    std::int64_t const era = (year >= 0 ? year : year - 399) / 400;
    auto const yoe = static_cast<unsigned>(year - era * 400);
    auto const doy = static_cast<unsigned>((153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1);
    auto const doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    std::int64_t days_from_1970 = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    return days_from_1970 + 134774; // 1601-01-01 .. 1970-01-01
}

void civil_from_days(std::int64_t days_since_1601, int& year, int& month, int& day)
{
    std::int64_t z = days_since_1601 - 134774 + 719468;
    std::int64_t const era = (z >= 0 ? z : z - 146096) / 146097;
    auto const doe = static_cast<unsigned>(z - era * 146097);
    auto const yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    auto const doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    auto const mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

}

void DateTime::set_file_time(std::uint64_t file_time)
{
    m_file_time = file_time;
    auto days = static_cast<std::int64_t>(file_time / kTicksPerDay);
    auto rest = static_cast<std::int64_t>(file_time % kTicksPerDay) / kTicksPerMillisecond;
    int year, month, day;
    civil_from_days(days, year, month, day);
    m_fields.year = static_cast<std::uint16_t>(year);
    m_fields.month = static_cast<std::uint16_t>(month);
    m_fields.day = static_cast<std::uint16_t>(day);
    m_fields.day_of_week = static_cast<std::uint16_t>((days + 1) % 7); // 1601-01-01 was a Monday
    m_fields.hour = static_cast<std::uint16_t>(rest / 3600000);
    m_fields.minute = static_cast<std::uint16_t>(rest / 60000 % 60);
    m_fields.second = static_cast<std::uint16_t>(rest / 1000 % 60);
    m_fields.millisecond = static_cast<std::uint16_t>(rest % 1000);
}

void DateTime::set_broken_down(Fields const& f)
{
    std::int64_t days = days_from_civil(f.year, f.month, f.day);
    std::int64_t ms = ((f.hour * 60LL + f.minute) * 60 + f.second) * 1000 + f.millisecond;
    set_file_time(static_cast<std::uint64_t>(days * kTicksPerDay + ms * kTicksPerMillisecond));
}

void DateTime::set_date(int year, int month, int day)
{
    Fields f = m_fields;
    f.year = static_cast<std::uint16_t>(year);
    f.month = static_cast<std::uint16_t>(month);
    f.day = static_cast<std::uint16_t>(day);
    set_broken_down(f);
}

void DateTime::set_time(int hour, int minute, double seconds)
{
    Fields f = m_fields;
    f.hour = static_cast<std::uint16_t>(hour);
    f.minute = static_cast<std::uint16_t>(minute);
    auto whole = static_cast<int>(seconds);
    f.second = static_cast<std::uint16_t>(whole);
    f.millisecond = static_cast<std::uint16_t>((seconds - whole) * 1000);
    set_broken_down(f);
}

FileInfo::FileInfo(WStringView path)
    : m_path(path)
{
    auto entry = platform::stat_path(strip_trailing_separator(expand_path(path)));
    m_last_error = platform::last_error();
    if (!entry)
        return;
    m_attributes = entry->attributes;
    m_size = static_cast<std::uint32_t>(entry->size);
    m_created.set_broken_down(entry->created);
    m_modified.set_broken_down(entry->modified);
}

bool FileInfo::remove()
{
    auto target = strip_trailing_separator(expand_path(m_path));
    bool ok = is_directory() ? platform::remove_directory(target) : platform::remove_file(target);
    m_last_error = platform::last_error();
    return ok;
}

bool FileInfo::move_to(WStringView new_path)
{
    bool ok = platform::move_file(expand_path(m_path), expand_path(new_path));
    m_last_error = platform::last_error();
    return ok;
}

}
