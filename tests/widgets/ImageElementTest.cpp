#include "WidgetFixture.h"

#include "imaging/BmpWriter.h"
#include "support/TestSupport.h"
#include "widgets/ImageElement.h"

#include <filesystem>

using namespace qv;

namespace {

constexpr std::uint16_t kPicture = 0x07E0;
constexpr std::uint16_t kBackground = 0x1234;

}

TEST(ImageElement, a_growing_picture_sets_the_least_size_and_draws_over_the_element)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir / "bin");
    auto picture = PixelBuffer::create(6, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            picture->at(x, y) = kPicture;
    ASSERT_TRUE(write_bmp_565(*picture, dir.program_path("bin/dot.bmp")));

    auto result = compile_skin(R"(form Pic
    string type node
    node grown
        string type image
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        picture src dot
        int grow 1
    node flat
        string type image
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        point border_min 10 0
        picture src dot
)",
        [](std::string const& name) -> std::optional<Size> {
            return name == "dot" ? std::optional<Size> { Size { 6, 4 } } : std::nullopt;
        });
    ASSERT_EQ(result.error, "");
    test::WidgetTypesScope types;
    PropertiesImpl store(result.image, dir.program_path("bin"), DisplayInfo { 240, 320, 96 });
    Form form;
    ASSERT_TRUE(form.load_form(store, u"Pic"));
    form.set_visible(true);
    form.place({ 20, 10 });

    auto* grown = dynamic_cast<ImageElement*>(form.find_child(u"grown"));
    auto* flat = dynamic_cast<ImageElement*>(form.find_child(u"flat"));
    ASSERT_NE(grown, nullptr);
    ASSERT_NE(flat, nullptr);
    ASSERT_FALSE(grown->picture().is_empty());
    EXPECT_EQ(grown->width_pair().minimum, 6);
    EXPECT_EQ(grown->height_pair().preferred, 4);
    EXPECT_EQ(grown->size(), (Size { 6, 4 }));
    EXPECT_EQ(flat->size(), (Size { 0, 0 })) << "without grow the picture does not size the element";

    auto canvas = PixelBuffer::create(20, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            canvas->at(x, y) = kBackground;
    DrawTarget target(canvas.get());
    form.paint(target, { 0, 0 });
    EXPECT_EQ(canvas->at(0, 0), kPicture);
    EXPECT_EQ(canvas->at(5, 3), kPicture);
    EXPECT_EQ(canvas->at(6, 3), kBackground);
    EXPECT_EQ(canvas->at(5, 4), kBackground);
}
