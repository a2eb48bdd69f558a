#include "skin/Properties.h"
#include "base/FileStream.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "skin/SkinFormat.h"
#include "skin/SkinImage.h"

#include <algorithm>
#include <cstring>

namespace qv {

using namespace skin_format;

namespace {

WStringView name_at(std::uint8_t const* image, std::size_t offset)
{
    return WStringView(reinterpret_cast<char16_t const*>(image + offset));
}

// Moves past one zero-terminated name of the name block.
WStringView take_name(std::uint8_t const*& at)
{
    WStringView name(reinterpret_cast<char16_t const*>(at));
    at += (name.size() + 1) * 2;
    return name;
}

void log_record_sizes()
{
    auto log = Log::get();
    log << u"sizeof(Node*4)=" << 8 << u"\n" << u"sizeof(IntegerNode*4)=" << 32 << u"\n"
        << u"sizeof(PointNode*4)=" << 32 << u"\n" << u"sizeof(Node)=" << 2 << u"\n"
        << u"sizeof(IntegerNode)=" << 8 << u"\n" << u"IntegerNode::Size=" << 8 << u"\n"
        << u"sizeof(PointNode)=" << 8 << u"\n" << u"PointNode::Size=" << 8 << u"\n"
        << u"sizeof(ColorNode)=" << 8 << u"\n" << u"ColorNode::Size=" << 8 << u"\n"
        << u"sizeof(StringNode)=" << 4 << u"\n" << u"StringNode::Size=" << 4 << u"\n"
        << u"sizeof(PictureNode)=" << 20 << u"\n" << u"PictureNode::Size=" << 20 << u"\n";
}

bool has_magic(std::vector<std::uint8_t> const& image)
{
    for (int i = 0; i < 4; ++i) {
        if (read_u16(image.data() + 2 * i) != kMagic[i])
            return false;
    }
    return true;
}

}

SkinListener::~SkinListener()
{
    if (m_store)
        std::erase(m_store->m_listeners, this);
}

void SkinListener::listen_to(PropertiesImpl& store)
{
    if (m_store)
        std::erase(m_store->m_listeners, this);
    m_store = &store;
    store.m_listeners.push_back(this);
}

PropertiesImpl::PropertiesImpl(WStringView path, DisplayInfo const& display)
{
    log_record_sizes();
    FileStream file(path, OpenMode::Read);
    auto size = static_cast<std::size_t>(file.size());
    m_image.resize(size);
    if (file.read(m_image.data(), size) != size) {
        Log::get() << u"Error: skin [" << path << u"] failed to load\n";
        return; // a short read is a failed load: the rest of the buffer means nothing
    }
    load(path, directory_of(path), display);
}

PropertiesImpl::PropertiesImpl(std::vector<std::uint8_t> image, WStringView skin_directory, DisplayInfo const& display)
    : m_image(std::move(image))
{
    load(u"(memory)", skin_directory, display);
}

void PropertiesImpl::load(WStringView path, WStringView skin_directory, DisplayInfo const& display)
{
    if (m_image.size() < kHeaderSize || !has_magic(m_image))
        return;
    // Checked once here, so lookups can follow offsets without checks.
    if (auto problem = check_skin_image(m_image); !problem.empty()) {
        Log::get() << u"Error: skin [" << path << u"] is damaged: " << std::string_view(problem) << u"\n";
        return;
    }

    m_scale_quarters = scale_quarters_for_dpi(display.dpi_y);
    auto const* names = m_image.data() + read_i32(m_image.data() + kNameBlock);
    if (!load_pictures(skin_directory, names))
        return;
    Stopwatch watch;
    load_fonts(names);
    auto strings = read_i32(m_image.data() + kStringCount);
    m_strings.reserve(static_cast<std::size_t>(strings));
    for (std::int32_t i = 0; i < strings; ++i)
        m_strings.emplace_back(take_name(names));
    Log::get() << u"PropertiesImpl::PropertiesImpl fonts create time=" << watch.elapsed() << u"\n";
    m_header = m_image.data();
}

PropertiesImpl::~PropertiesImpl()
{
    for (auto* listener : m_listeners)
        listener->m_store = nullptr;
}

bool PropertiesImpl::load_pictures(WStringView skin_directory, std::uint8_t const*& names)
{
    Stopwatch watch;
    auto count = read_i32(m_image.data() + kPictureCount);
    m_pictures.resize(static_cast<std::size_t>(count));
    m_bitmaps.resize(static_cast<std::size_t>(count), nullptr);
    for (std::int32_t i = 0; i < count; ++i) {
        WString name(take_name(names));
        WString file = join_path(skin_directory, name);
        m_bitmaps[i] = load_565(m_pictures[i], file, m_scale_quarters);
        auto size = m_pictures[i].size();
        if (size.width == 0 && size.height == 0) {
            Log::get() << u"PropertiesImpl::PropertiesImpl picture failed to load {" << name << u"}\n";
            return false;
        }
        Log::get() << u"PropertiesImpl::PropertiesImpl picture load time=" << watch.restart() << u" {" << name
                   << u"}\n";
    }
    return true;
}

void PropertiesImpl::load_fonts(std::uint8_t const*& names)
{
    auto count = read_i32(m_image.data() + kFontCount);
    m_fonts.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        FontDescription description;
        description.scale = scale();
        parse_font_text(take_name(names), description);
        m_fonts.push_back(make_font(description));
    }
}

void parse_font_text(WStringView text, FontDescription& description)
{
    size_t at = 0;
    auto skip_blanks = [&] {
        while (at < text.size() && (text[at] == u' ' || text[at] == u'\t'))
            ++at;
    };
    auto read_number = [&](std::int32_t& out) {
        skip_blanks();
        size_t start = at;
        bool negative = false;
        if (at < text.size() && (text[at] == u'-' || text[at] == u'+'))
            negative = text[at++] == u'-';
        std::int64_t value = 0;
        size_t digits = at;
        while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && value < 100000000)
            value = value * 10 + (text[at++] - u'0');
        if (at == digits) {
            at = start;
            return false;
        }
        out = static_cast<std::int32_t>(negative ? -value : value);
        return true;
    };
    std::int32_t fields[3] = { 0, 0, 0 };
    if (!read_number(description.size))
        return;
    for (int i = 0; i < 3; ++i) {
        if (!read_number(fields[i]))
            return;
        bool on = fields[i] != 0;
        (i == 0 ? description.bold : i == 1 ? description.italic : description.underline) = on;
    }
    skip_blanks();
    description.face = WString(text.substr(at));
}

std::uint8_t const* PropertiesImpl::find_record(SkinNode node, int table, WStringView key) const
{
    if (!node)
        return nullptr;
    auto low = read_u16(node + 2 * table);
    auto high = read_u16(node + 2 * table + 2);
    auto size = kRecordSize[table];
    std::size_t lo = 0, hi = (high - low) / size;
    auto const* records = node + low;
    while (lo != hi) {
        auto mid = (lo + hi) / 2;
        auto const* record = records + mid * size;
        int order = compare_names(key, name_at(m_image.data(), read_u16(record)));
        if (order == 0)
            return record;
        if (order < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

std::int32_t PropertiesImpl::get_integer(SkinNode node, WStringView key, std::int32_t fallback) const
{
    auto const* record = find_record(node, static_cast<int>(Table::Integer), key);
    return record ? read_i32(record + 4) : fallback;
}

FontHandle const& PropertiesImpl::get_font(SkinNode node, WStringView key, FontHandle const& fallback) const
{
    auto const* record = find_record(node, static_cast<int>(Table::Font), key);
    return record ? m_fonts[read_u32(record + 4)] : fallback;
}

Point PropertiesImpl::get_point(SkinNode node, WStringView key, Point fallback) const
{
    auto const* record = find_record(node, static_cast<int>(Table::Point), key);
    if (!record)
        return fallback;
    return { scale_length(read_i16(record + 4)), scale_length(read_i16(record + 6)) };
}

WString const& PropertiesImpl::get_string(SkinNode node, WStringView key, WString const& fallback) const
{
    auto const* record = find_record(node, static_cast<int>(Table::String), key);
    return record ? m_strings[read_u16(record + 2)] : fallback;
}

PictureRef PropertiesImpl::get_picture(SkinNode node, WStringView key, PictureRef const& fallback) const
{
    auto const* record = find_record(node, static_cast<int>(Table::Picture), key);
    if (!record)
        return fallback;
    auto point = [&](int field) {
        return Point { scale_length(read_u16(record + 2 + 4 * field)), scale_length(read_u16(record + 4 + 4 * field)) };
    };
    PictureRef ref;
    ref.grid = { point(0), point(1), point(2), point(3) };
    ref.picture = m_pictures[record[18]].picture;
    ref.flags = record[19] != 0 ? 1u : 0u;
    return ref;
}

SkinColor PropertiesImpl::get_color(SkinNode node, WStringView key, SkinColor fallback) const
{
    auto const* record = find_record(node, static_cast<int>(Table::Color), key);
    return record ? SkinColor { record[4], record[5], record[6], 255 } : fallback;
}

SkinNode PropertiesImpl::find_node(WStringView name) const
{
    if (!m_header)
        return nullptr;
    auto offset = read_i32(m_header + kRootOffset);
    while (offset != -1) {
        auto const* top = m_header + offset;
        int order = compare_names(name, name_at(m_header, static_cast<std::size_t>(read_i32(top + 8))));
        if (order == 0)
            return top + kTopLevelHeader;
        offset = read_i32(order < 0 ? top : top + 4);
    }
    return nullptr;
}

std::uint16_t PropertiesImpl::child_count(SkinNode node) const { return node ? read_u16(node + 14) : 0; }

SkinNode PropertiesImpl::child(SkinNode node, std::uint16_t index) const
{
    return node_at(read_i32(node + kBodyHeader + 4 * index));
}

void PropertiesImpl::send_reload_skin()
{
    Stopwatch watch;
    // A listener may leave the list while it rebuilds: walk a copy.
    auto listeners = m_listeners;
    for (auto* listener : listeners) {
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->on_skin_reload(*this);
    }
    Log::get() << u"PropertiesImpl::send_reload_skin the rest time=" << watch.elapsed() << u"\n";
}

void PropertiesImpl::swap_skin(PropertiesImpl& other)
{
    std::swap(m_image, other.m_image);
    std::swap(m_header, other.m_header);
    std::swap(m_pictures, other.m_pictures);
    std::swap(m_bitmaps, other.m_bitmaps);
    std::swap(m_fonts, other.m_fonts);
    std::swap(m_strings, other.m_strings);
    std::swap(m_scale_quarters, other.m_scale_quarters);
}

bool Properties::load_skin(WStringView path, DisplayInfo const& display)
{
    Log::get() << u"Properties::load_skin 1\n";
    PropertiesImpl fresh(path, display);
    Log::get() << u"Properties::load_skin 2\n";
    if (!fresh.is_loaded())
        return false;
    Log::get() << u"Properties::load_skin 3\n";
    swap_skin(fresh);
    return true;
}

}
