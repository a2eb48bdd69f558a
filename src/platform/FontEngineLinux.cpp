#include "platform/FontEngine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace qv::platform {

namespace {

// Face creation and destruction share the library's state; glyph loading
// on separate faces does not, so only those two take the lock.
struct FreeTypeLibrary {
    FT_Library library { nullptr };
    std::mutex mutex;

    FreeTypeLibrary()
    {
        if (FT_Init_FreeType(&library) != 0)
            library = nullptr;
        FcInit();
    }
    ~FreeTypeLibrary()
    {
        if (library)
            FT_Done_FreeType(library);
        // Releases fontconfig's caches, which leak checkers would otherwise
        // report at exit; no fontconfig object outlives a face lookup.
        FcFini();
    }
};

FreeTypeLibrary& freetype()
{
    static FreeTypeLibrary instance;
    return instance;
}

int round_26_6(FT_Pos value) { return static_cast<int>((value + 32) >> 6); }
int ceil_26_6(FT_Pos value) { return static_cast<int>((value + 63) >> 6); }

struct ResolvedFace {
    std::string file;
    int index { 0 };
    WString family;
    bool needs_embolden { false };
    bool needs_oblique { false };
};

bool family_is(FcPattern* match, std::string const& wanted)
{
    FcChar8* family = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch; ++i) {
        if (FcStrCmpIgnoreCase(family, reinterpret_cast<FcChar8 const*>(wanted.c_str())) == 0)
            return true;
    }
    return false;
}

// fontconfig always answers with something; a face the user does not have
// is replaced by the sans face rather than by whatever fontconfig thinks is
// nearest (a serif or a monospace face would change every layout).
std::optional<ResolvedFace> resolve_face(std::string const& family, bool bold, bool italic)
{
    auto query = [&](std::string const& name) -> FcPattern* {
        FcPattern* pattern = FcPatternCreate();
        if (!pattern)
            return nullptr;
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<FcChar8 const*>(name.c_str()));
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(nullptr, pattern, &result);
        FcPatternDestroy(pattern);
        return match;
    };

    FcPattern* match = family.empty() ? nullptr : query(family);
    if (match && !family_is(match, family)) {
        FcPatternDestroy(match);
        match = nullptr;
    }
    if (!match)
        match = query("sans-serif");
    if (!match)
        return std::nullopt;

    ResolvedFace face;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch) {
        FcPatternDestroy(match);
        return std::nullopt;
    }
    face.file = reinterpret_cast<char const*>(file);
    FcPatternGetInteger(match, FC_INDEX, 0, &face.index);
    FcChar8* matched_family = nullptr;
    if (FcPatternGetString(match, FC_FAMILY, 0, &matched_family) == FcResultMatch)
        face.family = from_utf8(reinterpret_cast<char const*>(matched_family));
    int weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(match, FC_SLANT, 0, &slant);
    face.needs_embolden = bold && weight < FC_WEIGHT_DEMIBOLD;
    face.needs_oblique = italic && slant == FC_SLANT_ROMAN;
    FcPatternDestroy(match);
    return face;
}

class FreeTypeFont final : public EngineFont {
public:
    FreeTypeFont(FT_Face face, ResolvedFace const& resolved, FontRequest const& request)
        : m_face(face)
        , m_family(resolved.family)
        , m_embolden(resolved.needs_embolden)
    {
        set_pixel_height(request.height);
        if (resolved.needs_oblique) {
            // The usual synthetic slant of about 12 degrees.
            FT_Matrix shear { 0x10000, 0x0366A, 0, 0x10000 };
            FT_Set_Transform(m_face, &shear, nullptr);
        }
        read_metrics();
    }

    ~FreeTypeFont() override
    {
        auto& ft = freetype();
        std::lock_guard lock(ft.mutex);
        FT_Done_Face(m_face);
    }

    FontMetrics const& metrics() const override { return m_metrics; }
    WString const& family() const override { return m_family; }

    void measure(WStringView text, std::span<int> extents) override
    {
        int sum = 0;
        for (std::size_t i = 0; i < text.size() && i < extents.size(); ++i) {
            sum += entry(text[i]).advance;
            extents[i] = sum;
        }
    }

    GlyphImage const* glyph(char16_t c) override
    {
        auto& e = entry(c);
        return e.has_image ? &e.image : nullptr;
    }

private:
    struct Entry {
        int advance { 0 };
        bool has_image { false };
        GlyphImage image;
    };

    void set_pixel_height(int height)
    {
        if (!FT_IS_SCALABLE(m_face)) {
            // A bitmap-only face: the strike nearest to the wanted height.
            int wanted = std::abs(height);
            int best = 0;
            for (int i = 1; i < m_face->num_fixed_sizes; ++i) {
                if (std::abs(m_face->available_sizes[i].height - wanted)
                    < std::abs(m_face->available_sizes[best].height - wanted))
                    best = i;
            }
            if (m_face->num_fixed_sizes > 0)
                FT_Select_Size(m_face, best);
            return;
        }
        int em = 16;
        if (height < 0) {
            em = -height;
        } else if (height > 0) {
            // A cell height: scale the em so that ascent + descent match it.
            int cell_units = m_face->ascender - m_face->descender;
            em = cell_units > 0
                ? std::max(1, static_cast<int>(std::lround(double(height) * m_face->units_per_EM / cell_units)))
                : height;
        }
        FT_Set_Pixel_Sizes(m_face, 0, static_cast<FT_UInt>(em));
    }

    void read_metrics()
    {
        auto const& size = m_face->size->metrics;
        m_metrics.ascent = ceil_26_6(size.ascender);
        m_metrics.descent = std::max(0, ceil_26_6(-size.descender));
        m_metrics.height = m_metrics.ascent + m_metrics.descent;
        if (FT_IS_SCALABLE(m_face)) {
            double scale = double(size.y_ppem) / m_face->units_per_EM;
            int thickness = std::max(1, static_cast<int>(std::lround(m_face->underline_thickness * scale)));
            int centre = static_cast<int>(std::lround(-m_face->underline_position * scale));
            m_metrics.underline_thickness = thickness;
            m_metrics.underline_offset = std::max(1, centre - thickness / 2);
        } else {
            m_metrics.underline_thickness = 1;
            m_metrics.underline_offset = std::max(1, m_metrics.descent / 2);
        }
        if (m_embolden)
            m_metrics.underline_thickness += 1;
    }

    Entry& entry(char16_t c)
    {
        auto found = m_glyphs.find(c);
        if (found != m_glyphs.end())
            return found->second;
        return m_glyphs.emplace(c, load(c)).first->second;
    }

    Entry load(char16_t c)
    {
        Entry e;
        // Control characters are neither drawn nor measured, as line feeds
        // and tabs in a single-line text take no room.
        if (c < 0x20 || c == 0x7F)
            return e;
        FT_UInt index = FT_Get_Char_Index(m_face, c);
        if (FT_Load_Glyph(m_face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) != 0)
            return e;
        FT_GlyphSlot slot = m_face->glyph;
        if (m_embolden)
            FT_GlyphSlot_Embolden(slot);
        e.advance = round_26_6(slot->advance.x);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
            return e;
        FT_Bitmap const& bitmap = slot->bitmap;
        if (bitmap.width == 0 || bitmap.rows == 0)
            return e;
        e.image.left = slot->bitmap_left;
        e.image.top = slot->bitmap_top;
        e.image.width = static_cast<int>(bitmap.width);
        e.image.height = static_cast<int>(bitmap.rows);
        e.image.coverage.resize(std::size_t(bitmap.width) * bitmap.rows);
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            unsigned char const* src = bitmap.buffer + std::ptrdiff_t(row) * bitmap.pitch;
            std::uint8_t* dst = e.image.coverage.data() + std::size_t(row) * bitmap.width;
            if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
                for (unsigned x = 0; x < bitmap.width; ++x)
                    dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
                int levels = std::max(2, int(bitmap.num_grays));
                for (unsigned x = 0; x < bitmap.width; ++x)
                    dst[x] = levels == 256 ? src[x] : std::uint8_t(src[x] * 255 / (levels - 1));
            } else {
                return Entry { e.advance, false, {} };
            }
        }
        e.has_image = true;
        return e;
    }

    FT_Face m_face;
    WString m_family;
    bool m_embolden;
    FontMetrics m_metrics;
    std::unordered_map<char16_t, Entry> m_glyphs;
};

class SystemFontEngine final : public FontEngine {
public:
    // The library must outlive the default font: made first, it is
    // destroyed last.
    SystemFontEngine() { freetype(); }

    std::unique_ptr<EngineFont> create_font(FontRequest const& request) override
    {
        auto& ft = freetype();
        if (!ft.library)
            return nullptr;
        auto resolved = resolve_face(to_utf8(request.face), request.bold, request.italic);
        if (!resolved)
            return nullptr;
        FT_Face face = nullptr;
        {
            std::lock_guard lock(ft.mutex);
            if (FT_New_Face(ft.library, resolved->file.c_str(), resolved->index, &face) != 0)
                return nullptr;
        }
        // Characters are looked up by their UTF-16 units; Unicode charmaps
        // are selected by FreeType when the face has one.
        if (!face->charmap)
            FT_Select_Charmap(face, FT_ENCODING_UNICODE);
        return std::make_unique<FreeTypeFont>(face, *resolved, request);
    }

    EngineFont* default_font() override
    {
        std::call_once(m_default_once, [this] {
            // The skin's 12-point size at the screen's scale (dpi / 96 in
            // quarter steps, never below 1, as the skin store scales), so a
            // font that cannot be made falls back to text of the same size.
            int const quarters = std::clamp((screen_dpi_y() + 12) / 24, 4, 64);
            FontRequest request;
            request.height = -4 * quarters;
            m_default = create_font(request);
        });
        return m_default.get();
    }

    // The screen description the window layer reads ("480x640@192"); the
    // pixel density defaults to that of the design screen.
    int screen_dpi_y() override
    {
        char const* screen = std::getenv("QUILVANE_SCREEN");
        int width = 0;
        int height = 0;
        int dpi = 0;
        if (screen && std::sscanf(screen, "%dx%d@%d", &width, &height, &dpi) == 3 && dpi > 0)
            return dpi;
        return 192;
    }

private:
    std::once_flag m_default_once;
    std::unique_ptr<EngineFont> m_default;
};

}

FontEngine& FontEngine::system()
{
    static SystemFontEngine engine;
    return engine;
}

}
