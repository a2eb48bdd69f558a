#pragma once

// The skin store. It keeps the whole skin image in memory and answers every
// question about a node by reading the image in place; only pictures, fonts
// and strings are prepared, once per load.

#include "base/Language.h"
#include "core/WString.h"
#include "imaging/Picture.h"
#include "imaging/Rect.h"
#include "skin/FontRep.h"
#include "imaging/Density.h"

#include <cstdint>
#include <vector>

namespace qv {

// A node body inside the skin image.
using SkinNode = std::uint8_t const*;

struct SkinColor {
    std::uint8_t red { 0 };
    std::uint8_t green { 0 };
    std::uint8_t blue { 0 };
    std::uint8_t alpha { 255 };
    friend bool operator==(SkinColor, SkinColor) = default;
};

struct DisplayInfo {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t dpi_y { 96 };
};

class PropertiesImpl;

class SkinListener {
public:
    virtual ~SkinListener();
    virtual void on_skin_reload(PropertiesImpl& store) = 0;

    // Enters the listener in the store's list; it leaves when destroyed.
    void listen_to(PropertiesImpl& store);

private:
    friend class PropertiesImpl;
    PropertiesImpl* m_store { nullptr };
};

class PropertiesImpl {
public:
    PropertiesImpl() = default;
    PropertiesImpl(WStringView path, DisplayInfo const& display);
    // An image already in memory; pictures are read from `skin_directory`.
    PropertiesImpl(std::vector<std::uint8_t> image, WStringView skin_directory, DisplayInfo const& display);
    ~PropertiesImpl();
    PropertiesImpl(PropertiesImpl const&) = delete;
    PropertiesImpl& operator=(PropertiesImpl const&) = delete;

    bool is_loaded() const { return m_header != nullptr; }

    // Skin units (96-dpi pixels) to screen pixels: the screen's density over
    // 96 in quarter steps. Points, picture grids and font sizes come out of
    // the store already scaled; lengths a screen holds in skin units of its
    // own go through scale_length.
    double scale() const { return m_scale_quarters / 4.0; }
    std::int32_t scale_quarters() const { return m_scale_quarters; }
    std::int32_t scale_length(std::int32_t units) const { return qv::scale_length(units, m_scale_quarters); }

    std::int32_t get_integer(SkinNode node, WStringView key, std::int32_t fallback) const;
    FontHandle const& get_font(SkinNode node, WStringView key, FontHandle const& fallback) const;
    Point get_point(SkinNode node, WStringView key, Point fallback) const;
    WString const& get_string(SkinNode node, WStringView key, WString const& fallback) const;
    PictureRef get_picture(SkinNode node, WStringView key, PictureRef const& fallback) const;
    SkinColor get_color(SkinNode node, WStringView key, SkinColor fallback) const;

    SkinNode find_node(WStringView name) const;
    SkinNode node_at(std::int32_t offset) const { return m_image.data() + offset; }
    std::uint16_t child_count(SkinNode node) const;
    SkinNode child(SkinNode node, std::uint16_t index) const;

    void send_reload_skin();

    // The language that text properties are translated through.
    LanguageTable& language() { return m_language; }
    LanguageTable const& language() const { return m_language; }
    WString const& text(WString const& key) const { return m_language.text(key); }

protected:
    void swap_skin(PropertiesImpl& other);

private:
    friend class SkinListener;
    void load(WStringView path, WStringView skin_directory, DisplayInfo const& display);
    std::uint8_t const* find_record(SkinNode node, int table, WStringView key) const;
    bool load_pictures(WStringView skin_directory, std::uint8_t const*& names);
    void load_fonts(std::uint8_t const*& names);

    std::vector<std::uint8_t> m_image;
    std::uint8_t const* m_header { nullptr };
    std::vector<PictureRef> m_pictures;
    std::vector<BitmapPicture*> m_bitmaps;
    std::vector<FontHandle> m_fonts;
    std::vector<WString> m_strings;
    std::int32_t m_scale_quarters { kMinScaleQuarters };
    std::vector<SkinListener*> m_listeners;
    LanguageTable m_language;
};

// The application's one store: loading a skin swaps the image and its
// tables in, keeping the listeners and the language.
class Properties : public PropertiesImpl {
public:
    // False when the skin could not be loaded; the previous one stays.
    bool load_skin(WStringView path, DisplayInfo const& display);
};

// Parses "size bold italic underline face" over `description`; fields after
// an early stop keep their values, and the face is taken only after all four
// numbers.
void parse_font_text(WStringView text, FontDescription& description);

}
