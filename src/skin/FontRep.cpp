#include "skin/FontRep.h"

#include "base/Log.h"
#include "platform/FontEngine.h"

#include <algorithm>
#include <cstdlib>

namespace qv {

namespace {

constexpr std::size_t kScratchLength = 100;

// A height beyond any screen would only make the engine render huge
// glyphs; skin files are data, so the request is bounded.
constexpr std::int32_t kMaxPixelHeight = 2048;

bool is_surrogate(char16_t c) { return c >= 0xD800 && c < 0xE000; }

// The engine sets one UTF-16 unit as one character. A surrogate alone is
// no character at all (a file name that is not UTF-8 carries them: see
// core/WString.h), so it is measured and drawn as the replacement
// character, as a text written out as UTF-8 shows it; each half of a pair
// does the same, since a unit on its own cannot say which it is.
class ReplacingFont final : public platform::EngineFont {
public:
    explicit ReplacingFont(std::unique_ptr<platform::EngineFont> font)
        : m_font(std::move(font))
    {
    }

    platform::FontMetrics const& metrics() const override { return m_font->metrics(); }
    WString const& family() const override { return m_font->family(); }

    void measure(WStringView text, std::span<int> extents) override
    {
        if (std::none_of(text.begin(), text.end(), is_surrogate)) {
            m_font->measure(text, extents);
            return;
        }
        WString shown(text);
        std::replace_if(shown.begin(), shown.end(), is_surrogate, u'\uFFFD');
        m_font->measure(shown, extents);
    }

    platform::GlyphImage const* glyph(char16_t c) override { return m_font->glyph(is_surrogate(c) ? u'\uFFFD' : c); }

private:
    std::unique_ptr<platform::EngineFont> m_font;
};

}

FontRep::FontRep(FontDescription const& description)
    : FontRep(description, platform::FontEngine::system())
{
}

FontRep::FontRep(FontDescription const& description, platform::FontEngine& engine)
    : m_engine(engine)
    , m_description(description)
{
    if (m_description.size == 0)
        return;

    Stopwatch stopwatch;
    platform::FontRequest request;
    std::int32_t const height = font_request_height(m_description.size, m_description.scale);
    request.height = std::clamp(height, -kMaxPixelHeight, kMaxPixelHeight);
    request.bold = m_description.bold;
    request.italic = m_description.italic;
    request.underline = m_description.underline;
    request.face = m_description.face.substr(0, 31);

    Log::get() << u"dpiy=" << std::int32_t(m_engine.screen_dpi_y()) << u" log_font.lfHeight=" << height
               << u"}\n";
    if (auto font = m_engine.create_font(request))
        m_font = std::make_unique<ReplacingFont>(std::move(font));
    if (!m_font)
        Log::get() << u"ERROR: FontRep::FontRep() Failed to create font\n";
    Log::get() << u"Creating font: {" << m_description.face << u"} elapsed=" << stopwatch.elapsed() << u"\n";

    if (m_font) {
        m_line_height = m_font->metrics().height;
        m_descent = m_font->metrics().descent;
    }
    m_missing.reserve(kScratchLength);
    m_missing_at.resize(kScratchLength);
    m_widths.resize(kScratchLength);
    m_extents.resize(kScratchLength);
}

FontRep::~FontRep() = default;

platform::EngineFont* FontRep::drawing_font() const
{
    return m_font ? m_font.get() : m_engine.default_font();
}

void FontRep::fill_widths(WStringView text)
{
    std::size_t const n = text.size();
    if (m_widths.size() < n) {
        m_widths.resize(n);
        m_missing_at.resize(n);
        m_extents.resize(n);
    }
    m_missing.clear();
    for (std::size_t i = 0; i < n; ++i) {
        auto found = m_width_cache.find(text[i]);
        if (found != m_width_cache.end()) {
            m_widths[i] = found->second;
        } else {
            m_missing_at[m_missing.size()] = std::int32_t(i);
            m_missing.push_back(text[i]);
        }
    }
    if (m_missing.empty())
        return;

    std::size_t const count = m_missing.size();
    auto* font = drawing_font();
    if (font)
        font->measure(m_missing, std::span<int>(m_extents.data(), count));
    else
        std::fill_n(m_extents.begin(), count, 0);
    for (std::size_t j = 0; j < count; ++j) {
        std::int32_t const width = m_extents[j] - (j > 0 ? m_extents[j - 1] : 0);
        m_widths[m_missing_at[j]] = width;
        m_width_cache[m_missing[j]] = width;
    }
}

std::span<std::int32_t const> FontRep::char_widths(WStringView text)
{
    fill_widths(text);
    return { m_widths.data(), text.size() };
}

Size FontRep::measure(WStringView text, std::int32_t limit, std::int32_t* fit_count, std::int32_t* descent,
    std::vector<std::int32_t>* positions)
{
    if (descent)
        *descent = m_descent;
    if (text.empty()) {
        if (fit_count)
            *fit_count = 0;
        if (positions)
            positions->clear();
        return {};
    }

    fill_widths(text);
    std::int32_t const n = std::int32_t(text.size());
    if (positions)
        positions->resize(std::size_t(n));
    std::int32_t sum = 0;
    std::int32_t fit = n;
    for (std::int32_t i = 0; i < n; ++i) {
        sum += m_widths[std::size_t(i)];
        if (positions)
            (*positions)[std::size_t(i)] = sum;
        if (limit > 0 && fit == n && sum > limit)
            fit = i;
    }
    if (fit_count)
        *fit_count = fit;
    return { sum, m_line_height };
}

void FontRep::on_resolution_change()
{
    m_width_cache.clear();
}

FontHandle make_font(FontDescription const& description)
{
    return std::make_shared<FontRep>(description);
}

FontHandle const& empty_font()
{
    static FontHandle const font = make_font(FontDescription { 0, 1, false, false, false, u"Empty" });
    return font;
}

}
