#include "skin/SkinCompiler.h"
#include "skin/SkinFormat.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

namespace qv {

using namespace skin_format;

namespace {

struct Record {
    WString name;
    Table table;
    std::uint8_t bytes[20] {};
};

struct SourceNode {
    std::string label;
    int line { 0 };
    int indent { 0 };
    std::vector<Record> records;
    std::vector<std::unique_ptr<SourceNode>> children;
};

class CompileError {
public:
    CompileError(int line, std::string message)
        : text("line " + std::to_string(line) + ": " + std::move(message))
    {
    }
    std::string text;
};

void put_u16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put_u32(std::uint8_t* p, std::uint32_t v)
{
    put_u16(p, v & 0xFFFF);
    put_u16(p + 2, v >> 16);
}

std::vector<std::string> split_words(std::string_view text)
{
    std::vector<std::string> words;
    std::istringstream in { std::string(text) };
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

std::string unquote(std::string_view text, int line)
{
    if (text.empty() || text.front() != '"')
        return std::string(text);
    std::string out;
    for (size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            out += next == 'n' ? '\n' : next;
        } else if (c == '"') {
            if (i + 1 != text.size())
                throw CompileError(line, "text after the closing quote");
            return out;
        } else {
            out += c;
        }
    }
    throw CompileError(line, "unterminated string");
}

class Compiler {
public:
    explicit Compiler(PictureSizer const& sizer)
        : m_sizer(sizer)
    {
    }

    SkinCompileResult run(std::string_view source)
    {
        SkinCompileResult result;
        try {
            parse(source);
            result.image = emit();
            for (auto const& [name, index] : m_picture_order)
                result.pictures.push_back(name);
        } catch (CompileError const& error) {
            result.image.clear();
            result.error = error.text;
        }
        return result;
    }

private:
    // Parsing ------------------------------------------------------------

    void parse(std::string_view source)
    {
        std::vector<SourceNode*> stack; // open nodes, innermost last
        int number = 0;
        size_t start = 0;
        while (start <= source.size()) {
            auto end = source.find('\n', start);
            if (end == std::string_view::npos)
                end = source.size();
            std::string_view line = source.substr(start, end - start);
            start = end + 1;
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            auto first = line.find_first_not_of(" \t");
            if (first == std::string_view::npos || line[first] == '#')
                continue;
            if (line.substr(0, first).find('\t') != std::string_view::npos)
                throw CompileError(number, "indent with blanks, not tabs");
            int indent = static_cast<int>(first);
            std::string_view content = line.substr(first);
            while (!stack.empty() && stack.back()->indent >= indent)
                stack.pop_back();
            parse_line(content, indent, number, stack);
            if (end == source.size())
                break;
        }
        if (m_forms.empty())
            throw CompileError(number, "the skin has no form");
    }

    void parse_line(std::string_view content, int indent, int line, std::vector<SourceNode*>& stack)
    {
        auto space = content.find_first_of(" \t");
        std::string keyword(content.substr(0, space));
        std::string_view rest = space == std::string_view::npos ? std::string_view() : content.substr(space);
        rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t")));
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t'))
            rest.remove_suffix(1);

        if (keyword == "form") {
            if (indent != 0)
                throw CompileError(line, "a form starts at the beginning of its line");
            if (rest.empty())
                throw CompileError(line, "a form needs a name");
            std::string name(rest);
            if (m_form_names.count(name))
                throw CompileError(line, "second form named " + name);
            auto node = std::make_unique<SourceNode>();
            node->label = name;
            node->line = line;
            node->indent = indent;
            m_form_names[name] = m_forms.size();
            stack.push_back(node.get());
            m_forms.push_back(std::move(node));
            return;
        }
        if (stack.empty())
            throw CompileError(line, "\"" + keyword + "\" outside any form");
        SourceNode* parent = stack.back();
        if (keyword == "node") {
            auto node = std::make_unique<SourceNode>();
            std::string id(rest);
            if (id.empty())
                id.append(1, '#').append(std::to_string(parent->children.size()));
            node->label = parent->label + "/" + id;
            node->line = line;
            node->indent = indent;
            if (!rest.empty())
                add_string(*node, u"id", std::string(rest), line);
            stack.push_back(node.get());
            parent->children.push_back(std::move(node));
            return;
        }
        auto name_end = rest.find_first_of(" \t");
        std::string name(rest.substr(0, name_end));
        std::string_view value = name_end == std::string_view::npos ? std::string_view() : rest.substr(name_end);
        value.remove_prefix(std::min(value.size(), value.find_first_not_of(" \t")));
        if (name.empty())
            throw CompileError(line, keyword + " without a name");
        add_property(*parent, keyword, name, value, line);
    }

    std::int32_t number(std::string const& word, int line, std::int64_t low, std::int64_t high)
    {
        size_t used = 0;
        long long value = 0;
        try {
            value = std::stoll(word, &used, 10);
        } catch (...) {
            used = 0;
        }
        if (used != word.size() || value < low || value > high)
            throw CompileError(line, "\"" + word + "\" is not a number from " + std::to_string(low) + " to "
                    + std::to_string(high));
        return static_cast<std::int32_t>(value);
    }

    std::vector<std::int32_t> numbers(std::string_view text, size_t count, int line, std::int64_t low,
        std::int64_t high, std::string const& what)
    {
        auto words = split_words(text);
        if (words.size() != count)
            throw CompileError(line, what + " takes " + std::to_string(count) + " numbers");
        std::vector<std::int32_t> out;
        for (auto const& w : words)
            out.push_back(number(w, line, low, high));
        return out;
    }

    Record& new_record(SourceNode& node, WString name, Table table, int line)
    {
        for (auto const& existing : node.records) {
            if (existing.table == table && existing.name == name)
                throw CompileError(line, "duplicate property \"" + to_utf8(name) + "\" in " + node.label);
        }
        node.records.push_back({ std::move(name), table, {} });
        return node.records.back();
    }

    void add_string(SourceNode& node, WString name, std::string const& text, int line)
    {
        auto& record = new_record(node, std::move(name), Table::String, line);
        auto index = intern(m_strings, m_string_order, text);
        if (index > 0xFFFF)
            throw CompileError(line, "more than 65536 strings");
        put_u16(record.bytes + 2, index);
    }

    void add_property(SourceNode& node, std::string const& kind, std::string const& name_utf8, std::string_view value,
        int line)
    {
        WString name = from_utf8(name_utf8);
        if (kind == "string") {
            add_string(node, name, unquote(value, line), line);
        } else if (kind == "int") {
            auto v = numbers(value, 1, line, INT32_MIN, INT32_MAX, "int");
            put_u32(new_record(node, name, Table::Integer, line).bytes + 4, static_cast<std::uint32_t>(v[0]));
        } else if (kind == "point") {
            auto v = numbers(value, 2, line, INT16_MIN, INT16_MAX, "point");
            auto& record = new_record(node, name, Table::Point, line);
            put_u16(record.bytes + 4, static_cast<std::uint16_t>(v[0]));
            put_u16(record.bytes + 6, static_cast<std::uint16_t>(v[1]));
        } else if (kind == "color") {
            auto v = numbers(value, 3, line, 0, 255, "color");
            auto& record = new_record(node, name, Table::Color, line);
            for (int i = 0; i < 3; ++i)
                record.bytes[4 + i] = static_cast<std::uint8_t>(v[i]);
        } else if (kind == "font") {
            // size [bold italic underline [face]]: a face is only read after
            // all four numbers, so a shorter description may not carry one.
            auto words = split_words(value);
            size_t numbers_given = std::min<size_t>(words.size(), 4);
            if (words.empty())
                throw CompileError(line, "font needs at least a size");
            for (size_t i = 0; i < numbers_given; ++i)
                number(words[i], line, -1000, 1000);
            auto index = intern(m_fonts, m_font_order, std::string(value));
            put_u32(new_record(node, name, Table::Font, line).bytes + 4, index);
        } else if (kind == "picture") {
            add_picture(node, name, value, line);
        } else {
            throw CompileError(line, "unknown property kind \"" + kind + "\"");
        }
    }

    void add_picture(SourceNode& node, WString const& name, std::string_view value, int line)
    {
        auto words = split_words(value);
        if (words.empty())
            throw CompileError(line, "picture needs a file name");
        auto const& file = words[0];
        auto size = m_sizer(file);
        if (!size)
            throw CompileError(line, "picture \"" + file + "\" not found");
        std::int32_t grid[8] = { 0, 0, 0, 0, size->width, size->height, size->width, size->height };
        std::uint8_t flag = 0;
        size_t at = 1;
        while (at < words.size()) {
            if (words[at] == "border" && at + 1 < words.size()) {
                auto b = number(words[at + 1], line, 0, std::min(size->width, size->height) / 2);
                std::int32_t values[8] = { 0, 0, b, b, size->width - b, size->height - b, size->width, size->height };
                std::copy(values, values + 8, grid);
                at += 2;
            } else if (words[at] == "grid" && at + 8 < words.size()) {
                for (int i = 0; i < 8; ++i)
                    grid[i] = number(words[at + 1 + i], line, 0, 0xFFFF);
                at += 9;
            } else if (words[at] == "flag" && at + 1 < words.size()) {
                flag = static_cast<std::uint8_t>(number(words[at + 1], line, 0, 255));
                at += 2;
            } else {
                throw CompileError(line, "unexpected \"" + words[at] + "\" in picture");
            }
        }
        auto index = intern(m_pictures, m_picture_order, file);
        if (index >= kMaxPictures)
            throw CompileError(line, "more than 256 pictures");
        auto& record = new_record(node, name, Table::Picture, line);
        for (int i = 0; i < 8; ++i)
            put_u16(record.bytes + 2 + 2 * i, static_cast<std::uint16_t>(grid[i]));
        record.bytes[18] = static_cast<std::uint8_t>(index);
        record.bytes[19] = flag;
    }

    static std::uint32_t intern(std::map<std::string, std::uint32_t>& table,
        std::vector<std::pair<std::string, std::uint32_t>>& order, std::string const& value)
    {
        auto [it, added] = table.emplace(value, static_cast<std::uint32_t>(order.size()));
        if (added)
            order.emplace_back(value, it->second);
        return it->second;
    }

    // Emitting -----------------------------------------------------------

    std::vector<std::uint8_t> emit()
    {
        m_out.assign(kHeaderSize, 0);
        for (int i = 0; i < 4; ++i)
            put_u16(m_out.data() + 2 * i, kMagic[i]);

        // Property and form names first: records reach them by 16-bit offsets.
        collect_names();
        for (auto& [name, offset] : m_name_offsets) {
            offset = append_name(name);
            if (offset > kMaxNameOffset)
                throw CompileError(0, "property names reach past 64 KiB (at \"" + to_utf8(name) + "\")");
        }

        auto name_block = static_cast<std::uint32_t>(m_out.size());
        for (auto const* order : { &m_picture_order, &m_font_order, &m_string_order }) {
            for (auto const& entry : *order)
                append_name(from_utf8(entry.first));
        }
        put_u32(m_out.data() + kPictureCount, static_cast<std::uint32_t>(m_picture_order.size()));
        put_u32(m_out.data() + kFontCount, static_cast<std::uint32_t>(m_font_order.size()));
        put_u32(m_out.data() + kNameBlock, name_block);
        put_u32(m_out.data() + kStringCount, static_cast<std::uint32_t>(m_string_order.size()));

        std::vector<SourceNode*> sorted;
        for (auto& form : m_forms)
            sorted.push_back(form.get());
        std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) {
            return compare_names(from_utf8(a->label), from_utf8(b->label)) < 0;
        });
        auto root = emit_tree(sorted, 0, sorted.size());
        put_u32(m_out.data() + kRootOffset, static_cast<std::uint32_t>(root));
        return std::move(m_out);
    }

    void collect_names()
    {
        std::vector<SourceNode*> pending;
        for (auto& form : m_forms) {
            m_name_offsets[from_utf8(form->label)] = 0;
            pending.push_back(form.get());
        }
        while (!pending.empty()) {
            auto* node = pending.back();
            pending.pop_back();
            for (auto const& record : node->records)
                m_name_offsets[record.name] = 0;
            for (auto& child : node->children)
                pending.push_back(child.get());
        }
    }

    std::uint32_t append_name(WString const& name)
    {
        auto offset = static_cast<std::uint32_t>(m_out.size());
        for (char16_t c : name) {
            m_out.push_back(static_cast<std::uint8_t>(c));
            m_out.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        m_out.push_back(0);
        m_out.push_back(0);
        return offset;
    }

    // A balanced search tree over the sorted forms; returns the subtree's
    // offset or -1.
    std::int32_t emit_tree(std::vector<SourceNode*> const& sorted, size_t begin, size_t end)
    {
        if (begin >= end)
            return -1;
        size_t mid = (begin + end) / 2;
        auto offset = m_out.size();
        m_out.resize(offset + kTopLevelHeader);
        put_u32(m_out.data() + offset + 8, m_name_offsets.at(from_utf8(sorted[mid]->label)));
        emit_body(*sorted[mid]);
        auto left = emit_tree(sorted, begin, mid);
        auto right = emit_tree(sorted, mid + 1, end);
        put_u32(m_out.data() + offset, static_cast<std::uint32_t>(left));
        put_u32(m_out.data() + offset + 4, static_cast<std::uint32_t>(right));
        return static_cast<std::int32_t>(offset);
    }

    // Writes a node body at the end of the image; children follow it.
    std::uint32_t emit_body(SourceNode& node)
    {
        auto body = m_out.size();
        auto children = node.children.size();
        if (children > 0xFFFF)
            throw CompileError(node.line, "too many children in " + node.label);
        std::sort(node.records.begin(), node.records.end(), [](Record const& a, Record const& b) {
            return compare_names(a.name, b.name) < 0;
        });
        size_t cursor = kBodyHeader + 4 * children;
        m_out.resize(body + cursor);
        for (int t = 0; t < kTableCount; ++t) {
            if (cursor > 0xFFFF)
                throw CompileError(node.line, "node " + node.label + " is too large");
            put_u16(m_out.data() + body + 2 * t, static_cast<std::uint32_t>(cursor));
            for (auto const& record : node.records) {
                if (static_cast<int>(record.table) != t)
                    continue;
                auto size = kRecordSize[t];
                auto at = m_out.size();
                m_out.insert(m_out.end(), record.bytes, record.bytes + size);
                put_u16(m_out.data() + at, m_name_offsets.at(record.name));
                cursor += size;
            }
        }
        if (cursor > 0xFFFF)
            throw CompileError(node.line, "node " + node.label + " is too large");
        put_u16(m_out.data() + body + 12, static_cast<std::uint32_t>(cursor));
        put_u16(m_out.data() + body + 14, static_cast<std::uint32_t>(children));
        for (size_t i = 0; i < children; ++i) {
            auto child = emit_body(*node.children[i]);
            put_u32(m_out.data() + body + kBodyHeader + 4 * i, child);
        }
        return static_cast<std::uint32_t>(body);
    }

    PictureSizer const& m_sizer;
    std::vector<std::unique_ptr<SourceNode>> m_forms;
    std::map<std::string, size_t> m_form_names;
    std::map<std::string, std::uint32_t> m_strings, m_fonts, m_pictures;
    std::vector<std::pair<std::string, std::uint32_t>> m_string_order, m_font_order, m_picture_order;
    std::map<WString, std::uint32_t> m_name_offsets;
    std::vector<std::uint8_t> m_out;
};

}

SkinCompileResult compile_skin(std::string_view source, PictureSizer const& picture_size)
{
    return Compiler(picture_size).run(source);
}

}
