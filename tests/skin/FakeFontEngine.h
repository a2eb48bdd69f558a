#pragma once

// A font engine with made-up metrics and box glyphs, so that tests can
// count engine calls and predict every pixel of a drawn text.

#include "platform/FontEngine.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

struct FakeFontLog {
    std::vector<platform::FontRequest> requests;
    std::vector<WString> measured; // one entry per measure call
};

// Every printable character is `advance` wide (or as set in widths) and
// inks a box `advance - 1` wide from the pen, `ascent` rows high, standing
// on the baseline; space and control characters ink nothing.
class FakeFont final : public platform::EngineFont {
public:
    FakeFont(FakeFontLog& log, int advance, std::map<char16_t, int> widths)
        : m_log(log)
        , m_advance(advance)
        , m_widths(std::move(widths))
    {
        m_metrics.ascent = 8;
        m_metrics.descent = 2;
        m_metrics.height = 10;
        m_metrics.underline_offset = 1;
        m_metrics.underline_thickness = 1;
    }

    platform::FontMetrics const& metrics() const override { return m_metrics; }
    WString const& family() const override { return m_family; }

    int width_of(char16_t c) const
    {
        if (c < 0x20)
            return 0;
        auto found = m_widths.find(c);
        return found != m_widths.end() ? found->second : m_advance;
    }

    void measure(WStringView text, std::span<int> extents) override
    {
        m_log.measured.emplace_back(text);
        int sum = 0;
        for (std::size_t i = 0; i < text.size(); ++i)
            extents[i] = sum += width_of(text[i]);
    }

    platform::GlyphImage const* glyph(char16_t c) override
    {
        if (c <= 0x20 || width_of(c) < 2)
            return nullptr;
        auto& image = m_glyphs[c];
        image.left = 0;
        image.top = m_metrics.ascent;
        image.width = width_of(c) - 1;
        image.height = m_metrics.ascent;
        image.coverage.assign(std::size_t(image.width * image.height), 255);
        return &image;
    }

private:
    FakeFontLog& m_log;
    int m_advance;
    std::map<char16_t, int> m_widths;
    platform::FontMetrics m_metrics;
    WString m_family { u"Fake" };
    std::map<char16_t, platform::GlyphImage> m_glyphs;
};

class FakeFontEngine final : public platform::FontEngine {
public:
    explicit FakeFontEngine(int advance = 4, std::map<char16_t, int> widths = {})
        : m_advance(advance)
        , m_widths(std::move(widths))
        , m_default(log, advance, m_widths)
    {
    }

    std::unique_ptr<platform::EngineFont> create_font(platform::FontRequest const& request) override
    {
        log.requests.push_back(request);
        if (fail_creation)
            return nullptr;
        return std::make_unique<FakeFont>(log, m_advance, m_widths);
    }

    platform::EngineFont* default_font() override { return &m_default; }
    int screen_dpi_y() override { return 96; }

    FakeFontLog log;
    bool fail_creation { false };

private:
    int m_advance;
    std::map<char16_t, int> m_widths;
    FakeFont m_default;
};

}
