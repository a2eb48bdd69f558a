#include "skin/TextLayout.h"

#include <algorithm>

namespace qv {

HAlign halign_from_name(WStringView name)
{
    if (name == u"LEFT")
        return HAlign::Left;
    if (name == u"RIGHT")
        return HAlign::Right;
    if (name == u"JUSTIFY")
        return HAlign::Justify;
    return HAlign::Center;
}

VAlign valign_from_name(WStringView name)
{
    if (name == u"TOP")
        return VAlign::Top;
    if (name == u"BOTTOM")
        return VAlign::Bottom;
    return VAlign::VCenter;
}

namespace {

bool is_space(char16_t c) { return c == u' ' || c == u'\t'; }
bool is_line_feed(char16_t c) { return c == u'\n' || c == u'\r'; }

// Index just past the line break that starts at i ("\r\n" is one break).
int skip_line_break(WStringView text, int i)
{
    if (text[i] == u'\r' && i + 1 < int(text.size()) && text[i + 1] == u'\n')
        return i + 2;
    return i + 1;
}

class LineBuilder {
public:
    LineBuilder(WStringView text, std::span<int const> advances, TextBox const& box,
        std::vector<TextLine>& lines)
        : m_text(text)
        , m_advances(advances)
        , m_box(box)
        , m_lines(lines)
    {
    }

    int width_of(int start, int end) const
    {
        int sum = 0;
        for (int i = start; i < end; ++i)
            sum += m_advances[i];
        return sum;
    }

    void add(int start, int end, int width, bool ellipsis = false)
    {
        m_lines.push_back(TextLine { start, end, ellipsis, width, 0, 0 });
    }

    // The characters [start, end) do not fit the box: keep as many as fit
    // with "..." after them, or without it when not even the dots fit.
    void add_cut(int start, int end)
    {
        int const room = m_box.width;
        int const dots = kEllipsisDots * m_box.dot_width;
        bool const with_dots = dots <= room;
        int const limit = with_dots ? room - dots : room;
        int cut = start;
        int width = 0;
        while (cut < end && width + m_advances[cut] <= limit)
            width += m_advances[cut++];
        if (with_dots) {
            // "Hello ..." reads worse than "Hello...".
            while (cut > start && is_space(m_text[cut - 1]))
                width -= m_advances[--cut];
            width += dots;
        }
        add(start, cut, width, with_dots);
    }

    void single_line()
    {
        int const end = int(m_text.size());
        int const width = width_of(0, end);
        if (width <= m_box.width)
            add(0, end, width);
        else
            add_cut(0, end);
    }

    void word_break()
    {
        int const n = int(m_text.size());
        int i = 0;
        while (i < n) {
            int end = i;
            while (end < n && !is_line_feed(m_text[end]))
                ++end;
            paragraph(i, end);
            if (end >= n)
                break;
            i = skip_line_break(m_text, end);
        }
    }

private:
    // Greedy filling: a word joins the line while it fits; the spaces at a
    // break are dropped; a word wider than the box is cut with "...".
    void paragraph(int begin, int end)
    {
        int const room = m_box.width;
        bool first_line = true;
        bool has_word = false;
        int line_start = begin;
        int line_end = begin;
        int line_width = 0;

        int pos = begin;
        while (pos < end) {
            int const spaces_start = pos;
            while (pos < end && is_space(m_text[pos]))
                ++pos;
            int const word_start = pos;
            while (pos < end && !is_space(m_text[pos]))
                ++pos;
            int const word_end = pos;
            if (word_start == word_end)
                break; // trailing spaces take no room at a line's end
            int const spaces = width_of(spaces_start, word_start);
            int const word = width_of(word_start, word_end);

            if (has_word && line_width + spaces + word <= room) {
                line_end = word_end;
                line_width += spaces + word;
                continue;
            }
            if (has_word) {
                add(line_start, line_end, line_width);
                has_word = false;
                first_line = false;
            }
            // A paragraph's own leading spaces indent its first line.
            int const start = first_line ? spaces_start : word_start;
            int const width = first_line ? spaces + word : word;
            if (width <= room) {
                has_word = true;
                line_start = start;
                line_end = word_end;
                line_width = width;
            } else {
                add_cut(start, word_end);
                first_line = false;
            }
        }
        if (has_word)
            add(line_start, line_end, line_width);
        else if (first_line)
            add(begin, begin, 0); // an empty paragraph is an empty line
    }

    WStringView m_text;
    std::span<int const> m_advances;
    TextBox const& m_box;
    std::vector<TextLine>& m_lines;
};

}

void layout_text(WStringView text, std::span<int const> advances, TextBox const& box,
    std::vector<TextLine>& lines)
{
    lines.clear();
    if (text.empty() || advances.size() < text.size())
        return;

    LineBuilder builder(text, advances, box, lines);
    if (box.wrap == TextWrap::SingleLine)
        builder.single_line();
    else
        builder.word_break();

    // The block moves as a whole; a wrapped block taller than the box keeps
    // its first lines visible, a single line is centred or bottom-aligned
    // even when it is cut.
    int const spare = box.height - int(lines.size()) * box.line_height;
    int top = 0;
    if (box.wrap == TextWrap::SingleLine || spare > 0) {
        if (box.valign == VAlign::VCenter)
            top = spare / 2;
        else if (box.valign == VAlign::Bottom)
            top = spare;
    }

    int y = top;
    for (auto& line : lines) {
        switch (box.halign) {
        case HAlign::Center:
            line.x = (box.width - line.width) / 2;
            break;
        case HAlign::Right:
            line.x = box.width - line.width;
            break;
        case HAlign::Left:
        case HAlign::Justify:
            line.x = 0;
            break;
        }
        line.y = y;
        y += box.line_height;
    }
}

BlockExtent block_extent(WStringView text, std::span<int const> advances, int line_height)
{
    if (text.empty() || advances.size() < text.size())
        return {};
    BlockExtent extent;
    int const n = int(text.size());
    int i = 0;
    int lines = 0;
    while (true) {
        int width = 0;
        while (i < n && !is_line_feed(text[i]))
            width += advances[i++];
        extent.width = std::max(extent.width, width);
        ++lines;
        if (i >= n)
            break;
        i = skip_line_break(text, i);
        if (i >= n)
            break; // a closing line feed opens no further line
    }
    extent.height = lines * line_height;
    return extent;
}

}
