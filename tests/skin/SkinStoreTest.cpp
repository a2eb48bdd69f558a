#include "imaging/BmpWriter.h"
#include "skin/ElementRegistry.h"
#include "skin/Properties.h"
#include "skin/SkinCompiler.h"
#include "skin/SkinErrors.h"
#include "skin/SkinFormat.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace qv;

namespace {

constexpr char const* kSource = R"(# a small skin
form Main
    string type node
    string anchor_x LEFT
    string id main
    int grow 5
    int grow_min 2
    point pos -3 7
    color background 255 0 128
    font font 14 1 0 0 Courier New
    font small 9
    picture frame frame grid 0 0 4 4 12 12 16 16 flag 1
    picture icon icon
    node btnSearch
        string type button
        string text "Search \"all\""
        picture image icon border 2
    node
        int empty_table_sibling 1
form Splash
    string type image
form Another
    int value -7
)";

class SkinStoreTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::ScopedEnv m_registry { "QUILVANE_REGISTRY", (m_dir / "registry.reg").string() };

    void SetUp() override
    {
        std::filesystem::create_directories(m_dir / "bin");
        write_picture("frame", 16, 16, 0x1234);
        write_picture("icon", 8, 6, 0x07E0);
    }

    void write_picture(std::string const& name, int w, int h, std::uint16_t colour)
    {
        auto buffer = PixelBuffer::create(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                buffer->at(x, y) = colour;
        ASSERT_TRUE(write_bmp_565(*buffer, m_dir.program_path("bin/" + name + ".bmp")));
    }

    SkinCompileResult compile(std::string_view source)
    {
        return compile_skin(source, [this](std::string const& name) -> std::optional<Size> {
            auto path = m_dir / "bin" / (name + ".bmp");
            if (!std::filesystem::exists(path))
                return std::nullopt;
            return name == "frame" ? Size { 16, 16 } : Size { 8, 6 };
        });
    }

    WString write_skin(std::vector<std::uint8_t> const& image, std::string const& name = "default.skin")
    {
        test::write_bytes(m_dir / "bin" / name, image);
        return m_dir.program_path("bin/" + name);
    }

    WString compiled_skin()
    {
        auto result = compile(kSource);
        EXPECT_EQ(result.error, "");
        return write_skin(result.image);
    }
};

class CountingListener : public SkinListener {
public:
    int reloads { 0 };
    void on_skin_reload(PropertiesImpl&) override { ++reloads; }
};

}

TEST_F(SkinStoreTest, compiled_skins_answer_every_property_of_their_source)
{
    Properties store;
    ASSERT_TRUE(store.load_skin(compiled_skin(), { 240, 320, 96 }));
    EXPECT_EQ(store.scale(), 1.0);
    SkinNode main = store.find_node(u"Main");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(store.get_string(main, u"type", u""), u"node");
    EXPECT_EQ(store.get_string(main, u"anchor_x", u""), u"LEFT");
    EXPECT_EQ(store.get_integer(main, u"grow", 0), 5);
    EXPECT_EQ(store.get_integer(main, u"grow_min", 0), 2);
    EXPECT_EQ(store.get_point(main, u"pos", {}), (Point { -3, 7 }));
    EXPECT_EQ(store.get_color(main, u"background", {}), (SkinColor { 255, 0, 128, 255 }));

    auto const& font = store.get_font(main, u"font", empty_font());
    EXPECT_EQ(font->description().size, 14);
    EXPECT_TRUE(font->description().bold);
    EXPECT_EQ(font->description().face, u"Courier New");
    EXPECT_EQ(store.get_font(main, u"small", empty_font())->description().face, u"Tahoma");

    auto frame = store.get_picture(main, u"frame", {});
    EXPECT_EQ(frame.size(), (Size { 16, 16 }));
    EXPECT_EQ(frame.grid.inner_start, (Point { 4, 4 }));
    EXPECT_EQ(frame.grid.inner_end, (Point { 12, 12 }));
    EXPECT_EQ(frame.flags, 1u);
    auto icon = store.get_picture(main, u"icon", {});
    EXPECT_EQ(icon.grid.outer_end, (Point { 8, 6 }));
    EXPECT_EQ(icon.flags, 0u);

    ASSERT_EQ(store.child_count(main), 2);
    SkinNode button = store.child(main, 0);
    EXPECT_EQ(store.get_string(button, u"id", u""), u"btnSearch");
    EXPECT_EQ(store.get_string(button, u"text", u""), u"Search \"all\"");
    auto bordered = store.get_picture(button, u"image", {});
    EXPECT_EQ(bordered.grid.inner_start, (Point { 2, 2 }));
    EXPECT_EQ(bordered.grid.inner_end, (Point { 6, 4 }));
    EXPECT_EQ(bordered.picture, icon.picture) << "pictures are shared by name";

    EXPECT_EQ(store.get_integer(store.find_node(u"Another"), u"value", 0), -7);
    EXPECT_NE(store.find_node(u"Splash"), nullptr);
    EXPECT_EQ(store.find_node(u"Nothing"), nullptr);
    EXPECT_EQ(store.find_node(u"Mai"), nullptr);
}

TEST_F(SkinStoreTest, missing_records_give_the_default_and_prefixes_do_not_match)
{
    Properties store;
    ASSERT_TRUE(store.load_skin(compiled_skin(), { 240, 320, 96 }));
    SkinNode main = store.find_node(u"Main");
    SkinNode sibling = store.child(main, 1);
    EXPECT_EQ(store.get_string(sibling, u"type", u"none"), u"none") << "empty string table";
    EXPECT_EQ(store.get_color(sibling, u"background", { 1, 2, 3, 4 }), (SkinColor { 1, 2, 3, 4 }));
    EXPECT_EQ(store.get_integer(main, u"gro", -1), -1);
    EXPECT_EQ(store.get_integer(main, u"grow_", -1), -1);
    EXPECT_EQ(store.get_integer(main, u"grow_minimum", -1), -1);
    EXPECT_TRUE(store.get_picture(main, u"nothing", {}).is_empty());
}

TEST_F(SkinStoreTest, dense_screens_scale_points_pictures_grids_and_fonts_alike)
{
    Properties store;
    ASSERT_TRUE(store.load_skin(compiled_skin(), { 480, 640, 192 }));
    EXPECT_EQ(store.scale(), 2.0);
    SkinNode main = store.find_node(u"Main");
    EXPECT_EQ(store.get_point(main, u"pos", {}), (Point { -6, 14 }));
    auto frame = store.get_picture(main, u"frame", {});
    EXPECT_EQ(frame.size(), (Size { 32, 32 }));
    EXPECT_EQ(frame.grid.outer_start, (Point { 0, 0 }));
    EXPECT_EQ(frame.grid.inner_start, (Point { 8, 8 }));
    EXPECT_EQ(frame.grid.inner_end, (Point { 24, 24 }));
    EXPECT_EQ(frame.grid.outer_end, (Point { 32, 32 }));
    EXPECT_EQ(store.get_font(main, u"font", empty_font())->description().scale, 2.0);

    // 168 dpi is 1.75: every length to its nearest pixel, the pictures
    // (plain ones only here) as large as their scaled grids.
    Properties fractional;
    ASSERT_TRUE(fractional.load_skin(compiled_skin(), { 420, 560, 168 }));
    EXPECT_EQ(fractional.scale(), 1.75);
    main = fractional.find_node(u"Main");
    EXPECT_EQ(fractional.get_point(main, u"pos", {}), (Point { -5, 12 }));
    frame = fractional.get_picture(main, u"frame", {});
    EXPECT_EQ(frame.size(), (Size { 28, 28 }));
    EXPECT_EQ(frame.grid.inner_start, (Point { 7, 7 }));
    EXPECT_EQ(frame.grid.inner_end, (Point { 21, 21 }));
    EXPECT_EQ(frame.grid.outer_end, (Point { 28, 28 }));
    auto icon = fractional.get_picture(main, u"icon", {});
    EXPECT_EQ(icon.size(), (Size { 14, 11 }));
    EXPECT_EQ(icon.grid.outer_end, (Point { 14, 11 }));
    auto bordered = fractional.get_picture(fractional.child(main, 0), u"image", {});
    EXPECT_EQ(bordered.grid.inner_start, (Point { 4, 4 })) << "3.5 rounds up";
    EXPECT_EQ(bordered.grid.inner_end, (Point { 11, 7 }));
    EXPECT_EQ(fractional.get_font(main, u"font", empty_font())->description().scale, 1.75);
}

TEST_F(SkinStoreTest, pictures_are_read_from_the_finest_density_a_screen_needs)
{
    // The frame also stored at 2x in another colour: a 1.75x screen takes
    // it and makes it smaller; a 1.25x screen takes nothing coarser than
    // what exists above it.
    write_picture("frame@2x", 32, 32, 0x0841 * 6);
    Properties store;
    ASSERT_TRUE(store.load_skin(compiled_skin(), { 420, 560, 168 }));
    auto frame = store.get_picture(store.find_node(u"Main"), u"frame", {});
    ASSERT_EQ(frame.size(), (Size { 28, 28 }));
    auto const* bitmap = dynamic_cast<BitmapPicture const*>(frame.picture.get());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->buffer()->at(13, 13), 0x0841 * 6);

    Properties coarse;
    ASSERT_TRUE(coarse.load_skin(compiled_skin(), { 300, 400, 120 }));
    frame = coarse.get_picture(coarse.find_node(u"Main"), u"frame", {});
    ASSERT_EQ(frame.size(), (Size { 20, 20 }));
    bitmap = dynamic_cast<BitmapPicture const*>(frame.picture.get());
    EXPECT_EQ(bitmap->buffer()->at(10, 10), 0x0841 * 6);
}

TEST_F(SkinStoreTest, the_header_decides_whether_a_file_is_a_skin)
{
    std::vector<std::uint8_t> minimal(92, 0);
    for (int i = 0; i < 4; ++i) {
        minimal[2 * i] = static_cast<std::uint8_t>(skin_format::kMagic[i]);
        minimal[2 * i + 1] = static_cast<std::uint8_t>(skin_format::kMagic[i] >> 8);
    }
    for (int i = 72; i < 76; ++i)
        minimal[i] = 0xFF; // no top-level node
    Properties store;
    EXPECT_TRUE(store.load_skin(write_skin(minimal, "92.skin"), {}));
    EXPECT_EQ(store.find_node(u"Main"), nullptr);

    auto short_one = minimal;
    short_one.resize(91);
    Properties other;
    EXPECT_FALSE(other.load_skin(write_skin(short_one, "91.skin"), {}));
    auto wrong_magic = minimal;
    wrong_magic[0] ^= 1;
    EXPECT_FALSE(other.load_skin(write_skin(wrong_magic, "magic.skin"), {}));
    EXPECT_FALSE(other.load_skin(m_dir.program_path("bin/none.skin"), {}));
    EXPECT_FALSE(other.is_loaded());
}

TEST_F(SkinStoreTest, a_missing_picture_keeps_the_previous_skin_and_listeners_stay)
{
    Properties store;
    ASSERT_TRUE(store.load_skin(compiled_skin(), {}));
    CountingListener listener;
    listener.listen_to(store);

    std::filesystem::create_directories(m_dir / "other");
    auto result = compile("form Other\n    picture image icon\n");
    ASSERT_EQ(result.error, "");
    test::write_bytes(m_dir / "other" / "broken.skin", result.image);
    EXPECT_FALSE(store.load_skin(m_dir.program_path("other/broken.skin"), {})) << "icon.bmp is not beside it";
    EXPECT_NE(store.find_node(u"Main"), nullptr);

    std::filesystem::copy_file(m_dir / "bin" / "icon.bmp", m_dir / "other" / "icon.bmp");
    ASSERT_TRUE(store.load_skin(m_dir.program_path("other/broken.skin"), {}));
    EXPECT_EQ(store.find_node(u"Main"), nullptr);
    EXPECT_NE(store.find_node(u"Other"), nullptr);
    store.send_reload_skin();
    EXPECT_EQ(listener.reloads, 1);
}

TEST_F(SkinStoreTest, pictures_in_subfolders_are_found_beside_the_skin)
{
    std::filesystem::create_directories(m_dir / "bin" / "buttons");
    write_picture("buttons/ok", 4, 4, 0xFFFF);
    auto result = compile_skin("form F\n    picture p buttons/ok\n", [](std::string const&) { return Size { 4, 4 }; });
    ASSERT_EQ(result.error, "");
    Properties store;
    ASSERT_TRUE(store.load_skin(write_skin(result.image), {}));
    EXPECT_EQ(store.get_picture(store.find_node(u"F"), u"p", {}).size(), (Size { 4, 4 }));
}

TEST_F(SkinStoreTest, damaged_images_are_refused_not_trusted)
{
    auto good = compile(kSource).image;
    ASSERT_FALSE(good.empty());

    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        auto damaged = good;
        int changes = 1 + round % 8;
        for (int i = 0; i < changes; ++i)
            damaged[92 + random() % (damaged.size() - 92)] = static_cast<std::uint8_t>(random());
        Properties store;
        if (store.load_skin(write_skin(damaged, "damaged.skin"), {})) {
            // Whatever passed the checks must be safe to walk.
            SkinNode main = store.find_node(u"Main");
            store.get_integer(main, u"grow", 0);
            store.get_picture(main, u"frame", {});
            store.get_font(main, u"font", empty_font());
            store.get_string(main, u"type", u"");
            for (std::uint16_t c = 0; c < store.child_count(main); ++c)
                store.get_string(store.child(main, c), u"id", u"");
        }
    }

    for (std::size_t field : { 72u, 76u, 80u, 84u, 88u }) {
        for (std::uint32_t value : { 0x7FFFFFF0u, 0xFFFFFF00u, static_cast<std::uint32_t>(good.size()) }) {
            auto damaged = good;
            for (int i = 0; i < 4; ++i)
                damaged[field + i] = static_cast<std::uint8_t>(value >> (8 * i));
            Properties store;
            EXPECT_FALSE(store.load_skin(write_skin(damaged, "field.skin"), {})) << field << " = " << value;
        }
    }

    // A property name offset past the end of the image.
    Properties store;
    ASSERT_TRUE(store.load_skin(write_skin(good, "good.skin"), {}));
    auto damaged = good;
    SkinNode main = store.find_node(u"Main");
    auto body = static_cast<std::size_t>(main - store.node_at(0));
    auto integers = skin_format::read_u16(main);
    damaged[body + integers] = 0xFF;
    damaged[body + integers + 1] = 0xFF;
    damaged.resize(std::min<std::size_t>(damaged.size(), 0xFF00));
    Properties refused;
    EXPECT_FALSE(refused.load_skin(write_skin(damaged, "name.skin"), {}));
}

TEST(FontSpecs, fields_after_an_early_stop_keep_their_defaults)
{
    FontDescription full;
    parse_font_text(u"14 1 0 0 Courier New", full);
    EXPECT_EQ(full.size, 14);
    EXPECT_TRUE(full.bold);
    EXPECT_FALSE(full.italic);
    EXPECT_EQ(full.face, u"Courier New");

    FontDescription size_only;
    parse_font_text(u"9", size_only);
    EXPECT_EQ(size_only.size, 9);
    EXPECT_EQ(size_only.face, u"Tahoma");

    FontDescription no_face;
    parse_font_text(u"10 0 1 1", no_face);
    EXPECT_TRUE(no_face.italic);
    EXPECT_TRUE(no_face.underline);
    EXPECT_EQ(no_face.face, u"");

    FontDescription signed_values;
    parse_font_text(u"+11 -1 0 0 X", signed_values);
    EXPECT_EQ(signed_values.size, 11);
    EXPECT_TRUE(signed_values.bold);
}

TEST(SkinCompiler, refuses_broken_sources_naming_the_line)
{
    auto sizer = [](std::string const& name) -> std::optional<Size> {
        if (name == "missing")
            return std::nullopt;
        return Size { 4, 4 };
    };
    auto duplicate = compile_skin("form A\n    int x 1\n    node b\n        int y 1\n        int y 2\n", sizer);
    EXPECT_TRUE(duplicate.image.empty());
    EXPECT_EQ(duplicate.error, "line 5: duplicate property \"y\" in A/b");

    EXPECT_EQ(compile_skin("form A\n    picture p missing\n", sizer).error, "line 2: picture \"missing\" not found");
    EXPECT_EQ(compile_skin("form A\n    color c 1 2 300\n", sizer).error.substr(0, 7), "line 2:");
    EXPECT_EQ(compile_skin("int x 1\n", sizer).error, "line 1: \"int\" outside any form");
    EXPECT_EQ(compile_skin("form A\n  wobble x 1\n", sizer).error, "line 2: unknown property kind \"wobble\"");

    std::string many = "form A\n";
    for (int i = 0; i < 257; ++i)
        many += "    picture p" + std::to_string(i) + " pic" + std::to_string(i) + "\n";
    EXPECT_EQ(compile_skin(many, sizer).error, "line 258: more than 256 pictures");

    // The same name in different tables is no duplicate.
    EXPECT_EQ(compile_skin("form A\n    int x 1\n    string x one\n", sizer).error, "");
}

TEST(ElementTypes, registering_twice_or_creating_an_unknown_type_throws)
{
    Element* made = nullptr;
    register_element_type(u"test_button", [&](Element* parent) { return made = parent; });
    try {
        register_element_type(u"test_button", [](Element*) { return nullptr; });
        FAIL() << "second registration accepted";
    } catch (NodeAlreadyRegistered const& error) {
        EXPECT_EQ(error.type(), u"test_button");
    }
    auto* parent = reinterpret_cast<Element*>(0x1000);
    EXPECT_EQ(create_element(u"test_button", parent), parent);
    EXPECT_EQ(made, parent);
    EXPECT_EQ(unregister_element_type(u"test_button"), 1u);
    EXPECT_EQ(unregister_element_type(u"test_button"), 0u);
    try {
        create_element(u"test_button", nullptr);
        FAIL() << "removed type still created";
    } catch (NodeNotRegistered const& error) {
        EXPECT_EQ(error.type(), u"test_button");
    }
}
