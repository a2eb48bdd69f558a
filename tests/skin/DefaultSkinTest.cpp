// The default skin and the language files as the build leaves them in the
// application directory: every node and element the screens look up is
// there with a type the shell can build, the pictures are usable for what
// the screens do with them, and every language has every text. For a look
// at the skin, build/app/quilvane-skin-preview draws a sheet of the screens.

#include "base/Language.h"
#include "imaging/Density.h"
#include "imaging/Picture.h"
#include "imaging/PixelOp.h"
#include "skin/Properties.h"
#include "support/TestSupport.h"
#include "widgets/WidgetTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

fs::path const kAppDir { QUILVANE_APP_DIR };
fs::path const kSkinPath = kAppDir / "skins" / "bin" / "default.skin";

// The element types the shell registers: the toolkit's one table.
std::set<WString> known_types()
{
    std::set<WString> types(std::begin(kElementTypes), std::end(kElementTypes));
    types.insert(kBigPictureType);
    return types;
}
std::set<WString> const kKnownTypes = known_types();

struct Expected {
    char16_t const* form;
    std::vector<char16_t const*> ids;
};

// What the screens look up, by top-level node.
std::vector<Expected> const kScreens {
    { u"Splash", {} },
    { u"Main", { u"btnSearch", u"btnMenu", u"listApps", u"progress", u"#line", u"warning_image", u"warning_text" } },
    { u"AlbumElement",
        { u"image", u"loading", u"bad", u"name", u"count", u"#vlist_normal", u"#vlist_pressed", u"#vlist_selected" } },
    { u"Folder", { u"btnBack", u"listFolder", u"progress", u"#line", u"btnText", u"bad", u"loading" } },
    { u"FolderElement",
        { u"bad", u"loading", u"button0", u"button1", u"button2", u"button3", u"button4", u"button5" } },
    { u"Image",
        { u"btnBack", u"btnMinus", u"btnPlus", u"btnLandscape", u"btnNumText", u"btnLog2", u"left", u"center",
            u"right", u"info", u"infoName", u"infoFolder", u"infoPixels", u"infoFileSize", u"infoDateLabel",
            u"infoDate" } },
    { u"MenuForm", { u"btnBack", u"btnExit", u"btnCollapse", u"btnHelp", u"btnAbout", u"btnLanguage" } },
    { u"MenuPanel", { u"panel", u"caption", u"vlist" } },
    { u"ReloadForm", {} },
    { u"AboutForm", {} },
};

std::vector<WString> const kRowTemplates { u"MenuElement", u"MenuElementRed", u"MenuElementCancel" };

// Keys the program itself looks up, beside the texts the skin names.
std::vector<WString> const kProgramKeys { u"NoSkins", u"WARNING_MESSAGE", u"ExitCaption", u"ReallyExit", u"Cancel",
    u"Back", u"Exit", u"Minimize", u"Help", u"About", u"Language", u"MainMenu", u"of", u"Help_link", u"Slideshow",
    u"SlideshowInterval", u"SecondsShort", u"PictureInfo", u"FullScreen", u"InfoTaken", u"InfoModified",
    u"DateFormat", u"DecimalPoint", u"UnitBytes", u"UnitKB", u"UnitMB" };

WString const kEmpty;

bool is_key(std::uint16_t p) { return p == 0xF81F; }
bool is_solid(std::uint16_t p) { return (p & 0x0020) != 0; }

WString program_path(fs::path const& path) { return test::program_form(path); }

class Skin {
public:
    explicit Skin(std::int32_t dpi)
    {
        std::int32_t const quarters = scale_quarters_for_dpi(dpi);
        m_loaded = m_store.load_skin(program_path(kSkinPath), { scale_length(240, quarters), scale_length(320, quarters), dpi });
    }

    bool loaded() const { return m_loaded; }
    Properties& store() { return m_store; }

    WString const& string(SkinNode node, WStringView key) const { return m_store.get_string(node, key, kEmpty); }

    // Depth first, direct children before deeper ones, as the forms search.
    SkinNode find_child(SkinNode node, WStringView id) const
    {
        auto count = m_store.child_count(node);
        for (std::uint16_t i = 0; i < count; ++i) {
            if (string(m_store.child(node, i), u"id") == id)
                return m_store.child(node, i);
        }
        for (std::uint16_t i = 0; i < count; ++i) {
            if (auto found = find_child(m_store.child(node, i), id))
                return found;
        }
        return nullptr;
    }

    void for_each_descendant(SkinNode node, std::function<void(SkinNode)> const& visit) const
    {
        for (std::uint16_t i = 0; i < m_store.child_count(node); ++i) {
            visit(m_store.child(node, i));
            for_each_descendant(m_store.child(node, i), visit);
        }
    }

    std::vector<WString> form_names() const
    {
        std::vector<WString> names;
        for (auto const& screen : kScreens)
            names.push_back(screen.form);
        for (auto const& row : kRowTemplates) {
            names.push_back(row);
            names.push_back(row + u"Disabled");
        }
        return names;
    }

private:
    Properties m_store;
    bool m_loaded { false };
};

class DefaultSkinTest : public ::testing::TestWithParam<std::int32_t> { };

TEST_P(DefaultSkinTest, EveryScreenFindsItsNodesAndElements)
{
    Skin skin(GetParam());
    ASSERT_TRUE(skin.loaded()) << to_utf8(program_path(kSkinPath));

    for (auto const& screen : kScreens) {
        SkinNode form = skin.store().find_node(screen.form);
        ASSERT_NE(form, nullptr) << to_utf8(screen.form);
        for (auto id : screen.ids) {
            SkinNode node = skin.find_child(form, id);
            ASSERT_NE(node, nullptr) << to_utf8(screen.form) << " lacks " << to_utf8(id);
            EXPECT_TRUE(kKnownTypes.count(skin.string(node, u"type")))
                << to_utf8(screen.form) << "/" << to_utf8(id) << " has type \""
                << to_utf8(skin.string(node, u"type")) << "\"";
        }
    }
}

// What the screens do with each element fixes its class.
TEST_P(DefaultSkinTest, EachElementHasTheClassItsScreenUsesItAs)
{
    Skin skin(GetParam());
    ASSERT_TRUE(skin.loaded());
    auto expect_type = [&](char16_t const* form, char16_t const* id, std::set<WString> const& types) {
        SkinNode node = skin.find_child(skin.store().find_node(form), id);
        ASSERT_NE(node, nullptr) << to_utf8(form) << "/" << to_utf8(id);
        EXPECT_TRUE(types.count(skin.string(node, u"type"))) << to_utf8(form) << "/" << to_utf8(id);
    };
    std::set<WString> const label { u"text", u"oldtext" };
    for (auto const& screen : kScreens) {
        for (WString id : screen.ids) {
            if (id.starts_with(u"btn") && !id.ends_with(u"Text") && id != u"btnLog2")
                expect_type(screen.form, id.c_str(), { u"button" });
            else if (id.starts_with(u"list") || id == u"vlist")
                expect_type(screen.form, id.c_str(), { u"vlist" });
        }
    }
    for (auto [form, id] : { std::pair { u"Main", u"warning_text" }, { u"Folder", u"btnText" },
             { u"Image", u"btnNumText" }, { u"Image", u"btnLog2" }, { u"AlbumElement", u"name" },
             { u"AlbumElement", u"count" }, { u"MenuPanel", u"caption" } })
        expect_type(form, id, label);
    for (auto [form, id] : { std::pair { u"Main", u"warning_image" }, { u"AlbumElement", u"image" },
             { u"AlbumElement", u"loading" }, { u"AlbumElement", u"bad" }, { u"Folder", u"loading" },
             { u"Folder", u"bad" }, { u"FolderElement", u"loading" }, { u"FolderElement", u"bad" } })
        expect_type(form, id, { u"image" });
    // The main menu's buttons show their captions through a "#text" label.
    for (auto id : kScreens[6].ids) {
        SkinNode button = skin.find_child(skin.store().find_node(u"MenuForm"), id);
        SkinNode caption = skin.find_child(button, u"#text");
        ASSERT_NE(caption, nullptr) << to_utf8(id);
        EXPECT_TRUE(label.count(skin.string(caption, u"type"))) << to_utf8(id);
    }

    // The progress line belongs to the bar, not elsewhere in the screen.
    for (auto form : { u"Main", u"Folder" }) {
        SkinNode bar = skin.find_child(skin.store().find_node(form), u"progress");
        EXPECT_EQ(skin.string(bar, u"type"), u"progress");
        EXPECT_NE(skin.find_child(bar, u"#line"), nullptr) << to_utf8(form);
    }
    // Every thumbnail button of a row has its own picture element.
    SkinNode row = skin.store().find_node(u"FolderElement");
    for (int i = 0; i < 6; ++i) {
        SkinNode button = skin.find_child(row, u"button" + from_utf8(std::to_string(i)));
        EXPECT_EQ(skin.string(button, u"type"), u"button");
        SkinNode image = skin.find_child(button, u"image");
        ASSERT_NE(image, nullptr) << "button" << i;
        EXPECT_EQ(skin.string(image, u"type"), u"image");
    }
    // The viewer sets its information's texts itself, as laid-out texts.
    for (auto id : { u"infoName", u"infoFolder", u"infoPixels", u"infoFileSize", u"infoDateLabel", u"infoDate" })
        expect_type(u"Image", id, { u"text" });
    SkinNode viewer = skin.store().find_node(u"Image");
    for (auto id : { u"left", u"center", u"right" }) {
        SkinNode view = skin.find_child(viewer, id);
        EXPECT_EQ(skin.string(view, u"type"), u"bigpicture");
        EXPECT_FALSE(skin.string(view, u"empty_text").empty()) << to_utf8(id);
        SkinColor const unset { 1, 2, 3 };
        EXPECT_FALSE(skin.store().get_color(view, u"empty_color", unset) == unset) << to_utf8(id);
        EXPECT_NE(skin.store().get_font(view, u"empty_font", empty_font()), empty_font());
    }
    for (auto const& name : kRowTemplates) {
        for (auto const& form : { name, name + u"Disabled" }) {
            SkinNode node = skin.store().find_node(form);
            ASSERT_NE(node, nullptr) << to_utf8(form);
            for (auto id : { u"#text", u"separator", u"checked" })
                EXPECT_NE(skin.find_child(node, id), nullptr) << to_utf8(form) << " lacks " << to_utf8(id);
        }
    }
}

TEST_P(DefaultSkinTest, EveryElementHasATypeTheShellBuilds)
{
    Skin skin(GetParam());
    ASSERT_TRUE(skin.loaded());
    for (auto const& form : skin.form_names()) {
        skin.for_each_descendant(skin.store().find_node(form), [&](SkinNode node) {
            EXPECT_TRUE(kKnownTypes.count(skin.string(node, u"type")))
                << to_utf8(form) << "/" << to_utf8(skin.string(node, u"id")) << ": \""
                << to_utf8(skin.string(node, u"type")) << "\"";
        });
    }
}

TEST_P(DefaultSkinTest, RowsAreLargeTouchTargets)
{
    Skin skin(GetParam());
    ASSERT_TRUE(skin.loaded());
    std::int32_t const least = skin.store().scale_length(48);
    std::vector<WString> rows { u"AlbumElement", u"FolderElement" };
    for (auto const& name : kRowTemplates) {
        rows.push_back(name);
        rows.push_back(name + u"Disabled");
    }
    for (auto const& name : rows)
        EXPECT_GE(skin.store().get_point(skin.store().find_node(name), u"design_size", {}).y, least) << to_utf8(name);
}

INSTANTIATE_TEST_SUITE_P(Dpi, DefaultSkinTest, ::testing::Values(96, 160, 192, 420));

PixelBuffer const* pixels_of(PictureRef const& picture)
{
    auto const* bitmap = dynamic_cast<BitmapPicture const*>(picture.picture.get());
    return bitmap ? bitmap->buffer() : nullptr;
}

// A thumbnail is drawn through its mask: transparent where the mask holds
// the key, the thumbnail (marked solid) where the mask pixel is solid, and
// the mask's own colour elsewhere. A mask must let the picture through
// everywhere inside its rounded outline and hide the corners.
void expect_thumbnail_mask(PictureRef const& mask, std::int32_t side, std::string const& what)
{
    // As the screens use it: drawn over a whole thumbnail.
    std::int32_t const w = side, h = side;
    auto drawn = PixelBuffer::create(w, h);
    DrawTarget target(drawn.get());
    fill_rect(target, 0, 0, w, h, ColourFillOp(0x1234));
    mask.draw(target, { 0, 0 }, { w, h }, copy_op());
    auto const* buffer = drawn.get();
    EXPECT_TRUE(is_key(buffer->at(0, 0)) && is_key(buffer->at(w - 1, 0)) && is_key(buffer->at(0, h - 1))
        && is_key(buffer->at(w - 1, h - 1)))
        << what << ": corners are not rounded off";
    int covered = 0, opaque = 0;
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            auto p = buffer->at(x, y);
            ASSERT_NE(p, 0x1234) << what << ": (" << x << ", " << y << ") left undrawn";
            covered += is_key(p) ? 0 : 1;
            opaque += is_key(p) || is_solid(p) ? 0 : 1;
        }
    }
    EXPECT_EQ(opaque, 0) << what << ": pixels without the solid flag would cover the photo";
    EXPECT_GT(covered, w * h * 9 / 10) << what << ": the photo shows through too little of the mask";
}

// Also at scales the pictures are made smaller for: the solid flag must
// survive the averaging.
TEST(DefaultSkinPictures, ThumbnailMasksShowThePhotoWithRoundedCorners)
{
    for (std::int32_t dpi : { 96, 120, 160, 320, 420 }) {
        Skin skin(dpi);
        ASSERT_TRUE(skin.loaded());
        auto& store = skin.store();
        std::string const at = " at " + std::to_string(dpi) + " dpi";
        // The album row keeps its image's picture as the mask; the thumbnail
        // screen uses its "bad" placeholder as the mask.
        auto album_mask = store.get_picture(skin.find_child(store.find_node(u"AlbumElement"), u"image"), u"src", {});
        expect_thumbnail_mask(album_mask, store.scale_length(44), "album mask" + at);
        auto folder_mask = store.get_picture(skin.find_child(store.find_node(u"Folder"), u"bad"), u"src", {});
        expect_thumbnail_mask(folder_mask, store.scale_length(44), "folder mask" + at);
    }
}

// The skin compiler renders every picture (all are drawn as SVG) at each
// density the loader knows, each scale_length of the plain picture; so the
// densest phone screens draw no picture magnified.
TEST(DefaultSkinPictures, EveryPictureIsStoredAtEveryDensity)
{
    int pictures = 0;
    for (auto const& entry : fs::recursive_directory_iterator(kSkinPath.parent_path())) {
        auto const name = entry.path().filename().string();
        if (entry.path().extension() != ".bmp" || name.find('@') != std::string::npos)
            continue;
        auto const stem = (entry.path().parent_path() / entry.path().stem()).string();
        PictureRef plain;
        ASSERT_NE(load_565(plain, program_path(stem)), nullptr) << name;
        for (auto density : kPictureDensities) {
            ScaledPicture stored = load_bmp_for_scale(program_path(stem), density);
            ASSERT_NE(stored.buffer, nullptr) << name << density_suffix(density);
            EXPECT_EQ(stored.density, density) << name << " lacks " << density_suffix(density);
            EXPECT_EQ(stored.buffer->width(), scale_length(plain.size().width, density)) << name;
            EXPECT_EQ(stored.buffer->height(), scale_length(plain.size().height, density)) << name;
        }
        for (std::int32_t dpi : { 320, 420, 560 }) {
            std::int32_t const quarters = scale_quarters_for_dpi(dpi);
            EXPECT_GE(load_bmp_for_scale(program_path(stem), quarters).density, quarters)
                << name << " is magnified at " << dpi << " dpi";
        }
        ++pictures;
    }
    EXPECT_GT(pictures, 30);
}

// Images are drawn with a plain copy unless they ask for an "alpha"; a
// picture with transparent pixels drawn that way would show the key colour.
TEST(DefaultSkinPictures, TransparentPicturesAreDrawnWithTheKey)
{
    Skin skin(96);
    ASSERT_TRUE(skin.loaded());
    auto& store = skin.store();
    int transparent = 0;
    for (auto const& form : skin.form_names()) {
        skin.for_each_descendant(store.find_node(form), [&](SkinNode node) {
            if (skin.string(node, u"type") != u"image")
                return;
            auto const* buffer = pixels_of(store.get_picture(node, u"src", {}));
            ASSERT_NE(buffer, nullptr) << to_utf8(form) << "/" << to_utf8(skin.string(node, u"id"));
            bool has_key = false;
            for (std::int32_t y = 0; y < buffer->height() && !has_key; ++y)
                for (std::int32_t x = 0; x < buffer->width() && !has_key; ++x)
                    has_key = is_key(buffer->at(x, y));
            if (has_key) {
                ++transparent;
                EXPECT_NE(store.get_integer(node, u"alpha", -1), -1)
                    << to_utf8(form) << "/" << to_utf8(skin.string(node, u"id"));
            }
        });
    }
    EXPECT_GT(transparent, 10);
}

// The viewer reads its placeholders straight from the skin directory and
// shows each as the one tile of a 45 x 45 picture, at the screen's scale.
TEST(DefaultSkinPictures, ViewerPlaceholdersAre45By45Bitmaps)
{
    for (auto name : { "load", "bad" }) {
        for (std::int32_t quarters : { 4, 7, 13 }) {
            PictureRef ref;
            auto* picture = load_565(ref, program_path(kSkinPath.parent_path() / name), quarters);
            ASSERT_NE(picture, nullptr) << name;
            std::int32_t const side = scale_length(45, quarters);
            EXPECT_EQ(picture->size(), (Size { side, side })) << name;
            auto const* buffer = picture->buffer();
            for (std::int32_t y = 0; y < side; ++y)
                for (std::int32_t x = 0; x < side; ++x)
                    ASSERT_FALSE(is_key(buffer->at(x, y))) << name << ": a tile has no transparency";
        }
    }
}

double luminance(std::uint16_t p)
{
    double r = ((p >> 11) & 0x1F) / 31.0, g = ((p >> 5) & 0x3F) / 63.0, b = (p & 0x1F) / 31.0;
    return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

// Each icon of a button stands out from the look it sits on: the average
// brightness of its strokes and of the look's middle differ clearly.
TEST(DefaultSkinPictures, IconsStandOutFromTheirButtons)
{
    Skin skin(96);
    ASSERT_TRUE(skin.loaded());
    auto& store = skin.store();
    int checked = 0;
    for (auto const& form : skin.form_names()) {
        skin.for_each_descendant(store.find_node(form), [&](SkinNode look) {
            auto const& id = skin.string(look, u"id");
            if (id != u"#normal" && id != u"#pressed")
                return;
            std::vector<PixelBuffer const*> layers;
            for (std::uint16_t i = 0; i < store.child_count(look); ++i) {
                if (skin.string(store.child(look, i), u"type") == u"image")
                    layers.push_back(pixels_of(store.get_picture(store.child(look, i), u"src", {})));
            }
            if (layers.size() != 2)
                return;
            auto const* back = layers[0];
            auto const* icon = layers[1];
            double background = luminance(back->at(back->width() / 2, back->height() / 2));
            double sum = 0;
            int strokes = 0;
            for (std::int32_t y = 0; y < icon->height(); ++y) {
                for (std::int32_t x = 0; x < icon->width(); ++x) {
                    if (!is_key(icon->at(x, y))) {
                        sum += luminance(icon->at(x, y));
                        ++strokes;
                    }
                }
            }
            ASSERT_GT(strokes, 0);
            EXPECT_GT(std::abs(sum / strokes - background), 0.35) << to_utf8(form) << " " << to_utf8(id);
            ++checked;
        });
    }
    EXPECT_GE(checked, 10);
}

// Texts the skin names are language keys; a few of them are product names
// that every language spells alike, still looked up so that none is special.
std::set<WString> skin_text_keys(Skin& skin)
{
    std::set<WString> keys;
    for (auto const& form : skin.form_names()) {
        skin.for_each_descendant(skin.store().find_node(form), [&](SkinNode node) {
            for (auto property : { u"text", u"empty_text" }) {
                auto const& value = skin.string(node, property);
                if (!value.empty())
                    keys.insert(value);
            }
        });
    }
    return keys;
}

TEST(DefaultLanguages, EveryLanguageHasEveryText)
{
    Skin skin(96);
    ASSERT_TRUE(skin.loaded());
    auto keys = skin_text_keys(skin);
    EXPECT_TRUE(keys.count(u"WARNING_MESSAGE"));
    keys.insert(kProgramKeys.begin(), kProgramKeys.end());

    std::set<WString> english_keys;
    for (auto name : { "english", "russian", "german" }) {
        auto path = kAppDir / (std::string(name) + ".lng");
        auto bytes = test::read_bytes(path);
        ASSERT_GE(bytes.size(), 2u) << name;
        EXPECT_TRUE(bytes[0] == 0xFF && bytes[1] == 0xFE) << name << ": no UTF-16 byte-order mark";

        LanguageTable table;
        ASSERT_TRUE(table.load(program_path(path))) << name;
        for (auto const& key : keys) {
            auto found = table.entries().find(key);
            ASSERT_NE(found, table.entries().end()) << name << " lacks " << to_utf8(key);
            EXPECT_FALSE(found->second.empty()) << name << ": " << to_utf8(key);
            EXPECT_EQ(found->second.find(u'\uFFFD'), WString::npos) << name << ": " << to_utf8(key);
        }
        std::set<WString> own;
        for (auto const& [key, text] : table.entries())
            own.insert(key);
        if (english_keys.empty())
            english_keys = own;
        else
            EXPECT_EQ(own, english_keys) << name << " and english name different texts";

        auto help = table.text(u"Help_link");
        EXPECT_TRUE(fs::exists(kAppDir / to_utf8(help))) << name << ": help page " << to_utf8(help);
    }
}

TEST(DefaultLanguages, TranslationsAreNotEnglishLeftovers)
{
    LanguageTable english, russian, german;
    ASSERT_TRUE(english.load(program_path(kAppDir / "english.lng")));
    ASSERT_TRUE(russian.load(program_path(kAppDir / "russian.lng")));
    ASSERT_TRUE(german.load(program_path(kAppDir / "german.lng")));
    // Texts that must differ between languages: the screens' words.
    for (auto key : { u"WARNING_MESSAGE", u"Cancel", u"Back", u"Language", u"ExitCaption", u"Help_link" }) {
        EXPECT_NE(russian.text(key), english.text(key)) << to_utf8(key);
        EXPECT_NE(german.text(key), english.text(key)) << to_utf8(key);
    }
    // Russian texts are written in Cyrillic.
    auto const& back = russian.text(u"Back");
    EXPECT_TRUE(!back.empty() && back[0] >= 0x0400 && back[0] < 0x0500);
}

}

// The focus frame goes over buttons, rows and photos alike: a thin ring in
// the accent colour, open in the middle so that what has the focus shows.
TEST(DefaultSkinPictures, TheFocusFrameIsAnAccentRingWithAnOpenMiddle)
{
    Skin skin(96);
    ASSERT_TRUE(skin.loaded());
    auto& store = skin.store();
    SkinNode node = store.find_node(u"Focus");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(store.get_integer(node, u"alpha", -1), 0) << "drawn without the key colour";
    auto const frame = store.get_picture(node, u"src", {});
    ASSERT_NE(pixels_of(frame), nullptr);
    std::int32_t const w = 80, h = 60;
    auto drawn = PixelBuffer::create(w, h);
    DrawTarget target(drawn.get());
    fill_rect(target, 0, 0, w, h, ColourFillOp(0x1234));
    frame.draw(target, { 0, 0 }, { w, h }, *make_alpha_op(0));
    auto const accent = [](std::uint16_t p) {
        int const r = (p >> 11) << 3, g = ((p >> 5) & 63) << 2, b = (p & 31) << 3;
        return b > 180 && b > r + 80 && g > 120;
    };
    // Edges ringed in the accent colour along every side, at the middle.
    for (auto [x, y] : { std::pair { 1, h / 2 }, std::pair { w - 2, h / 2 }, std::pair { w / 2, 1 },
             std::pair { w / 2, h - 2 } })
        EXPECT_TRUE(accent(drawn->at(x, y))) << "(" << x << ", " << y << ") " << drawn->at(x, y);
    // Everything further in than a few pixels is left as it was.
    for (std::int32_t y = 6; y < h - 6; ++y)
        for (std::int32_t x = 6; x < w - 6; ++x)
            ASSERT_EQ(drawn->at(x, y), 0x1234) << "(" << x << ", " << y << ")";
}
