// Arbitrary skin images: whatever passes the load-time checks must be safe
// to walk and look up in every way a screen would.

#include "skin/Properties.h"
#include "skin/SkinFormat.h"

#include <cstdint>
#include <vector>

using namespace qv;

namespace {

void walk(PropertiesImpl const& store, SkinNode node, int depth)
{
    if (!node || depth > 70)
        return;
    static FontHandle const none;
    store.get_integer(node, u"grow", 0);
    store.get_point(node, u"pos", {});
    store.get_color(node, u"background", {});
    store.get_string(node, u"type", u"");
    store.get_string(node, u"id", u"");
    store.get_picture(node, u"image", {});
    store.get_font(node, u"font", none);
    for (std::uint16_t i = 0; i < store.child_count(node); ++i)
        walk(store, store.child(node, i), depth + 1);
}

}

// The font engine allocates its configuration once, on the first font; do
// that before the inputs, so it is not taken for a leak of one of them.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static FontHandle const warm = make_font(FontDescription {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    // A valid magic in front, so the fuzzer spends its time past the header.
    std::vector<std::uint8_t> image(8);
    for (int i = 0; i < 4; ++i) {
        image[2 * i] = static_cast<std::uint8_t>(skin_format::kMagic[i]);
        image[2 * i + 1] = static_cast<std::uint8_t>(skin_format::kMagic[i] >> 8);
    }
    image.insert(image.end(), data, data + size);
    // No pictures are on disk: images that name pictures fail to load, so
    // the picture-free part of the format gets the attention.
    PropertiesImpl store(std::move(image), u"/nonexistent", { 240, 320, 96 });
    if (!store.is_loaded())
        return 0;
    for (auto const* name : { u"Main", u"Splash", u"A", u"" })
        walk(store, store.find_node(name), 0);
    return 0;
}
