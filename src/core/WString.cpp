#include "core/WString.h"

namespace qv {

namespace {

bool is_high_surrogate(std::uint32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool is_low_surrogate(std::uint32_t c) { return c >= 0xDC00 && c < 0xE000; }
// The escapes from_utf8_escaped makes: bytes 0x80 to 0xFF (ASCII is always
// well-formed, so it is never escaped).
bool is_escape(std::uint32_t c) { return c >= 0xDC80 && c < 0xDD00; }

std::string encode(WStringView text, bool unescape)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (unescape && is_escape(c)) {
            out += static_cast<char>(c - 0xDC00);
            continue;
        }
        // A lone surrogate cannot be written as UTF-8: it becomes U+FFFD.
        append_utf8(out, c);
    }
    return out;
}

// The length of the well-formed UTF-8 sequence at `i` and its code point,
// or 0 where the byte there starts none: overlong forms, encoded
// surrogates, code points past U+10FFFF and cut sequences are not
// well-formed, so that every escaped name has exactly one byte form.
int well_formed_at(std::string_view text, size_t i, std::uint32_t& c)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char const b = byte(i);
    if (b < 0x80) {
        c = b;
        return 1;
    }
    int extra;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        extra = 1;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2;
        c = b & 0x0F;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3;
        c = b & 0x07;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + extra >= text.size())
        return 0;
    for (int k = 1; k <= extra; ++k) {
        unsigned char const n = byte(i + k);
        if (k == 1 ? (n < low || n > high) : (n & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (n & 0x3F);
    }
    return extra + 1;
}

void append_utf16(WString& out, std::uint32_t c)
{
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

}

void append_utf8(std::string& out, std::uint32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
        c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string to_utf8(WStringView text) { return encode(text, false); }

std::string to_utf8_escaped(WStringView text) { return encode(text, true); }

WString from_utf8_escaped(std::string_view bytes)
{
    WString out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        std::uint32_t c = 0;
        int const length = well_formed_at(bytes, i, c);
        if (length == 0) {
            out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i]));
            ++i;
            continue;
        }
        append_utf16(out, c);
        i += static_cast<size_t>(length);
    }
    return out;
}

bool is_lone_surrogate_at(WStringView text, std::size_t index)
{
    std::uint32_t const c = text[index];
    if (is_high_surrogate(c))
        return index + 1 >= text.size() || !is_low_surrogate(text[index + 1]);
    if (is_low_surrogate(c))
        return index == 0 || !is_high_surrogate(text[index - 1]);
    return false;
}

WString without_lone_surrogates(WStringView text)
{
    WString out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        if (is_lone_surrogate_at(text, i))
            out[i] = u'\uFFFD';
    }
    return out;
}

WString from_utf8(std::string_view text)
{
    WString out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        std::uint32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (i + extra >= text.size()) {
            out += u'\uFFFD';
            break;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            auto n = static_cast<unsigned char>(text[i + k]);
            if ((n & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (n & 0x3F);
        }
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

WString to_wstring(std::int64_t value)
{
    auto s = std::to_string(value);
    return WString(s.begin(), s.end());
}

char16_t to_lower(char16_t c)
{
    if (c >= u'A' && c <= u'Z')
        return static_cast<char16_t>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) // Cyrillic capitals
        return static_cast<char16_t>(c + 32);
    return c;
}

WString to_lower(WStringView text)
{
    WString out(text);
    for (auto& c : out)
        c = to_lower(c);
    return out;
}

bool equals_ignore_case(WStringView a, WStringView b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (to_lower(a[i]) != to_lower(b[i]))
            return false;
    }
    return true;
}

}
