#pragma once

// One font made from a skin font description, shared by the skin, the
// elements and the application through FontHandle. It remembers every
// character's width, so that measuring text asks the font engine only for
// characters it has never seen; the cache is emptied when the screen's
// resolution changes.

#include "base/ResolutionListener.h"
#include "core/WString.h"
#include "imaging/Rect.h"
#include "skin/FontDescription.h"

#include <map>
#include <memory>
#include <span>
#include <vector>

namespace qv {

namespace platform {
class EngineFont;
class FontEngine;
}

class FontRep final : public ResolutionListener {
public:
    // A description of size 0 makes no engine font (the empty font).
    explicit FontRep(FontDescription const& description);
    FontRep(FontDescription const& description, platform::FontEngine& engine);
    ~FontRep() override;

    FontDescription const& description() const { return m_description; }
    std::int32_t line_height() const { return m_line_height; }
    std::int32_t descent() const { return m_descent; }
    // The font's own engine font; null for the empty font or when it could
    // not be made.
    platform::EngineFont* engine_font() const { return m_font.get(); }
    // What text is measured and drawn with: the own font, else the engine's
    // default font.
    platform::EngineFont* drawing_font() const;

    // Width of the whole text and line_height ((0, 0) for an empty text).
    // fit_count: the leading characters whose running width stays within
    // limit (all of them when limit is not positive). positions: each
    // character's running width including itself.
    Size measure(WStringView text, std::int32_t limit = 0, std::int32_t* fit_count = nullptr,
        std::int32_t* descent = nullptr, std::vector<std::int32_t>* positions = nullptr);

    // Each character's width, valid until the next measurement; allocates
    // nothing for texts of up to 100 characters whose widths are known.
    std::span<std::int32_t const> char_widths(WStringView text);

    void on_resolution_change() override;

private:
    void fill_widths(WStringView text);

    platform::FontEngine& m_engine;
    std::unique_ptr<platform::EngineFont> m_font;
    FontDescription m_description;
    std::int32_t m_descent { 0 };
    std::int32_t m_line_height { 20 };

    // Scratch reused by every measurement.
    WString m_missing;                     // characters to ask the engine for
    std::vector<std::int32_t> m_missing_at; // their places in the text
    std::vector<std::int32_t> m_widths;
    std::vector<std::int32_t> m_extents;

    std::map<char16_t, std::int32_t> m_width_cache;
};

using FontHandle = std::shared_ptr<FontRep>;

FontHandle make_font(FontDescription const& description);

// The process-wide font of size 0 that every font lookup defaults to.
FontHandle const& empty_font();

}
