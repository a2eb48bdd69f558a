#include "skin/SkinImage.h"
#include "skin/SkinFormat.h"

#include <unordered_set>
#include <vector>

namespace qv {

using namespace skin_format;

namespace {

class Checker {
public:
    explicit Checker(std::span<std::uint8_t const> image)
        : m_image(image)
    {
    }

    std::string run()
    {
        if (m_image.size() < kHeaderSize)
            return "shorter than the header";
        auto const* base = m_image.data();
        m_pictures = read_i32(base + kPictureCount);
        m_fonts = read_i32(base + kFontCount);
        m_strings = read_i32(base + kStringCount);
        if (m_pictures < 0 || m_fonts < 0 || m_strings < 0)
            return "negative table count";
        if (static_cast<std::size_t>(m_pictures) > kMaxPictures)
            return "more pictures than a record can index";
        if (!check_name_block(read_i32(base + kNameBlock)))
            return m_error;
        if (!check_tree(read_i32(base + kRootOffset)))
            return m_error;
        return {};
    }

private:
    bool fail(std::string message)
    {
        m_error = std::move(message);
        return false;
    }

    bool inside(std::int64_t offset, std::int64_t length) const
    {
        return offset >= 0 && length >= 0 && offset + length <= static_cast<std::int64_t>(m_image.size());
    }

    // Offset of the code unit after the terminator of the name at `offset`,
    // or -1 when the name is not terminated inside the image.
    std::int64_t name_end(std::int64_t offset) const
    {
        if (!inside(offset, 2) || offset % 2 != 0)
            return -1;
        for (auto at = offset; inside(at, 2); at += 2) {
            if (read_u16(m_image.data() + at) == 0)
                return at + 2;
        }
        return -1;
    }

    bool check_name_block(std::int32_t offset)
    {
        std::int64_t at = offset;
        std::int64_t names = std::int64_t { m_pictures } + m_fonts + m_strings;
        if (names == 0)
            return true;
        for (std::int64_t i = 0; i < names; ++i) {
            at = name_end(at);
            if (at < 0)
                return fail("name block runs past the end");
        }
        return true;
    }

    bool check_tree(std::int32_t root)
    {
        std::vector<std::int32_t> pending;
        if (root != -1)
            pending.push_back(root);
        while (!pending.empty()) {
            auto offset = pending.back();
            pending.pop_back();
            if (!inside(offset, kTopLevelHeader) || !m_top_levels.insert(offset).second)
                return fail("top-level node out of range or reached twice");
            auto const* p = m_image.data() + offset;
            if (name_end(read_i32(p + 8)) < 0)
                return fail("top-level name out of range");
            for (auto child : { read_i32(p), read_i32(p + 4) }) {
                if (child != -1)
                    pending.push_back(child);
            }
            if (!check_body(offset + static_cast<std::int64_t>(kTopLevelHeader), 0))
                return false;
        }
        return true;
    }

    bool check_body(std::int64_t offset, int depth)
    {
        if (depth > 64)
            return fail("nodes nested too deeply");
        if (!inside(offset, kBodyHeader))
            return fail("node body out of range");
        if (!m_bodies.insert(offset).second)
            return true; // a shared body was checked already
        auto const* body = m_image.data() + offset;
        std::uint16_t bounds[7];
        for (int i = 0; i < 7; ++i)
            bounds[i] = read_u16(body + 2 * i);
        std::uint16_t children = read_u16(body + 14);
        if (!inside(offset + kBodyHeader, std::int64_t { children } * 4))
            return fail("child list out of range");
        for (int t = 0; t < kTableCount; ++t) {
            if (bounds[t + 1] < bounds[t] || !inside(offset + bounds[t], bounds[t + 1] - bounds[t]))
                return fail("property table out of range");
            if (!check_table(static_cast<Table>(t), body + bounds[t], (bounds[t + 1] - bounds[t]) / kRecordSize[t]))
                return false;
        }
        for (std::uint16_t i = 0; i < children; ++i) {
            auto child = read_i32(body + kBodyHeader + 4 * i);
            if (child == offset)
                return fail("node is its own child");
            if (!check_body(child, depth + 1))
                return false;
        }
        return true;
    }

    bool check_table(Table table, std::uint8_t const* records, std::size_t count)
    {
        auto size = kRecordSize[static_cast<int>(table)];
        for (std::size_t i = 0; i < count; ++i) {
            auto const* record = records + i * size;
            if (name_end(read_u16(record)) < 0)
                return fail("property name out of range");
            std::int64_t index = -1, limit = 0;
            switch (table) {
            case Table::Font: index = read_u32(record + 4), limit = m_fonts; break;
            case Table::String: index = read_u16(record + 2), limit = m_strings; break;
            case Table::Picture: index = record[18], limit = m_pictures; break;
            default: break;
            }
            if (index >= 0 && index >= limit)
                return fail("property refers past its table");
        }
        return true;
    }

    std::span<std::uint8_t const> m_image;
    std::int32_t m_pictures { 0 };
    std::int32_t m_fonts { 0 };
    std::int32_t m_strings { 0 };
    std::unordered_set<std::int64_t> m_top_levels;
    std::unordered_set<std::int64_t> m_bodies;
    std::string m_error;
};

}

std::string check_skin_image(std::span<std::uint8_t const> image)
{
    return Checker(image).run();
}

}
