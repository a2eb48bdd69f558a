// One frame of a flinging virtual list: advance by 1/60 s and draw the
// screen, a 480 x 640 form whose list shows 1,000 text rows, into an RGB565
// target. Rows are made from their template as they scroll in and destroyed
// as they leave, as the album list does. The peer is a memcpy of one
// 480 x 640 frame; both count the frame's pixels.

#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "skin/ElementRegistry.h"
#include "skin/Properties.h"
#include "skin/SkinCompiler.h"
#include "widgets/Form.h"
#include "widgets/VirtualList.h"
#include "widgets/WidgetTypes.h"
#include "shell/Application.h"

#include "FramePeer.h"
#include "TextList.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace qv;

constexpr int kWidth = 480;
constexpr int kHeight = 640;
constexpr std::int64_t kPixels = std::int64_t { kWidth } * kHeight;
constexpr int kRows = 1000;

struct TypesScope {
    std::vector<WString> registered;
    TypesScope()
    {
        for (auto const* type : kElementTypes)
            if (auto factory = widget_factory(type))
                register_element_type(type, factory), registered.emplace_back(type);
    }
    ~TypesScope()
    {
        for (auto const& type : registered)
            unregister_element_type(type);
    }
};

void BM_list_frame(benchmark::State& state)
{
    TypesScope types;
    auto compiled = compile_skin(bench::kTextListSkin, [](std::string const&) { return std::optional<Size> {}; });
    if (!compiled.error.empty()) {
        state.SkipWithError(compiled.error.c_str());
        return;
    }
    PropertiesImpl store(compiled.image, u".", DisplayInfo { kWidth, kHeight, 96 });
    Form form;
    if (!form.load_form(store, u"Screen")) {
        state.SkipWithError("no form");
        return;
    }
    form.set_visible(true);
    form.place(Size { kWidth, kHeight });
    auto* list = dynamic_cast<VirtualList*>(form.find_child(u"list"));
    if (!list) {
        state.SkipWithError("no list");
        return;
    }
    bench::TextRows rows(store);
    list->set_provider(&rows, kRows);
    auto frame = PixelBuffer::create(kWidth, kHeight);
    DrawTarget target(frame.get());
    double direction = -1;
    std::int64_t made_frames = 0;
    for (auto _ : state) {
        // Down to the end and back up, re-flicked whenever it slows.
        if (list->first_index() == -1 && list->offset() >= list->scroll_border_min())
            direction = -1;
        else if (list->end_index() >= kRows && list->bottom_overscroll() > 0)
            direction = 1;
        if (list->velocity() * direction < VirtualList::kMaxFlick / 2)
            list->fling(direction * VirtualList::kMaxFlick);
        form.advance(1.0 / 60);
        form.paint(target, Point {});
        benchmark::DoNotOptimize(frame->row(0));
        ++made_frames;
    }
    state.SetItemsProcessed(made_frames * kPixels);
    // Rows made per frame: shows that the list really scrolls through.
    state.counters["rows_per_frame"] = made_frames ? static_cast<double>(rows.made) / made_frames : 0;
    // Pixels of the last frame in none of the fill colours are the rows'
    // text: shows that the text is drawn.
    auto const pack = [](int r, int g, int b) { return static_cast<std::uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3); };
    std::uint16_t const fills[] = { pack(32, 32, 48), pack(240, 240, 240), pack(160, 160, 160) };
    std::int64_t text = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            text += std::find(std::begin(fills), std::end(fills), frame->row(y)[x]) == std::end(fills);
    state.counters["text_pixels"] = static_cast<double>(text);
}
BENCHMARK(BM_list_frame);

void BM_memcpy_frame(benchmark::State& state) { bench::memcpy_frame<kWidth, kHeight>(state); }
BENCHMARK(BM_memcpy_frame);

}

BENCHMARK_MAIN();
