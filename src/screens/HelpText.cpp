#include "screens/HelpText.h"

#include "base/FileStream.h"
#include "base/Paths.h"

#include <array>
#include <cctype>
#include <string>

namespace qv {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    for (auto& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// An entity at `at` ('&'): its text and length, or none.
bool decode_entity(std::string_view html, std::size_t at, std::string& out, std::size_t& length)
{
    std::size_t const end = html.find(';', at);
    if (end == std::string_view::npos || end - at > 10)
        return false;
    std::string_view const name = html.substr(at + 1, end - at - 1);
    length = end - at + 1;
    struct Named {
        std::string_view name;
        char const* text;
    };
    static constexpr std::array<Named, 6> kNamed { { { "amp", "&" }, { "lt", "<" }, { "gt", ">" }, { "quot", "\"" },
        { "apos", "'" }, { "nbsp", " " } } };
    for (auto const& entity : kNamed) {
        if (name == entity.name) {
            out += entity.text;
            return true;
        }
    }
    if (name.size() > 1 && name[0] == '#') {
        bool const hex = name[1] == 'x' || name[1] == 'X';
        std::string const digits(name.substr(hex ? 2 : 1));
        if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
            return false;
        // At most eight digits: the number fits. Entities name characters,
        // not bytes; U+0000 is none a page can show.
        auto const code = static_cast<std::uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10));
        append_utf8(out, code == 0 ? 0xFFFD : code);
        return true;
    }
    return false;
}

}

WString help_text_from_html(std::string_view html)
{
    std::string text;
    bool space = false;
    auto line_break = [&](int lines) {
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        int have = 0;
        for (auto it = text.rbegin(); it != text.rend() && *it == '\n'; ++it)
            ++have;
        if (!text.empty())
            text.append(static_cast<std::size_t>(std::max(0, lines - have)), '\n');
        space = false;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        char const c = html[i];
        if (c == '<') {
            std::size_t const close = html.find('>', i);
            if (close == std::string_view::npos)
                break;
            std::string const tag = lower(html.substr(i + 1, close - i - 1));
            std::string name = tag.substr(tag[0] == '/' ? 1 : 0);
            name = name.substr(0, name.find_first_of(" \t\n/"));
            i = close + 1;
            // What a browser does not show at all.
            if (tag[0] != '/' && (name == "head" || name == "style" || name == "script" || name == "title")) {
                std::size_t const end = lower(html.substr(i)).find("</" + name);
                i = end == std::string::npos ? html.size() : i + end;
                continue;
            }
            if (name == "p" || name == "h1" || name == "h2" || name == "h3" || name == "table" || name == "ul")
                line_break(2);
            else if (name == "br" || name == "tr" || name == "li")
                line_break(1);
            else if (name == "td" && tag[0] != '/' && !text.empty() && text.back() != '\n')
                text += " - ";
            continue;
        }
        if (c == '&') {
            std::size_t length = 0;
            std::string entity;
            if (decode_entity(html, i, entity, length)) {
                if (space && !text.empty() && text.back() != ' ' && text.back() != '\n')
                    text += ' ';
                text += entity;
                i += length;
                space = false;
                continue;
            }
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            space = !text.empty() && text.back() != '\n';
            ++i;
            continue;
        }
        if (space && !text.empty() && text.back() != ' ' && text.back() != '\n')
            text += ' ';
        space = false;
        text += c;
        ++i;
    }
    line_break(0);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return from_utf8(text);
}

WString read_help_page(WStringView path)
{
    FileStream file(expand_path(path), OpenMode::Read);
    if (!file.is_open())
        return {};
    // Help pages are a few kilobytes; anything far larger is not one.
    constexpr std::uint64_t kLimit = 1 << 20;
    std::uint64_t const size = file.size();
    if (size == 0 || size > kLimit)
        return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (file.read(bytes.data(), bytes.size()) != bytes.size())
        return {};
    return help_text_from_html(bytes);
}

}
