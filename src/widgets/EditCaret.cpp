#include "widgets/EditCaret.h"

#include <algorithm>
#include <cstdlib>

namespace qv {

namespace {

// The same white space the run splitter folds into a run's spacing.
bool is_space(char16_t c) { return c == u' ' || c == u'\r'; }

}

std::size_t prepared_index(WStringView text, std::size_t index)
{
    index = std::min(index, text.size());
    std::size_t result = index;
    for (std::size_t i = 0; i < index; ++i)
        if (text[i] == u'\t')
            result += 3;
    return result;
}

std::vector<CaretPlace> caret_places(WStringView prepared, std::vector<FlowLine> const& lines,
    RunMeasure const& measure)
{
    auto const n = prepared.size();
    std::vector<CaretPlace> places(n + 1, CaretPlace { lines.size(), 0 });
    std::size_t p = 0;
    for (std::size_t li = 0; li < lines.size(); ++li) {
        std::int32_t x = 0;
        for (auto const& run : lines[li].runs) {
            // Runs are cut from the prepared text in order, so each one
            // begins where the last one's spacing ended; a run that does not
            // match (never expected) is skipped rather than trusted.
            std::size_t const word_end = std::min(n, p + run.text.size());
            for (std::size_t k = p; k <= word_end; ++k)
                places[k] = { li, x + (k == p ? 0 : measure(prepared.substr(p, k - p)).width) };
            std::size_t space_end = word_end;
            while (space_end < n && is_space(prepared[space_end]))
                ++space_end;
            for (std::size_t k = word_end + 1; k <= space_end; ++k)
                places[k] = { li, x + run.width + measure(prepared.substr(word_end, k - word_end)).width };
            x += run.width + run.spacing;
            p = space_end;
            if (p < n && prepared[p] == u'\n')
                ++p;
        }
    }
    return places;
}

std::optional<std::size_t> closest_on_line(std::vector<CaretPlace> const& places, std::size_t line, std::int32_t x)
{
    std::optional<std::size_t> best;
    std::int32_t best_distance = 0;
    for (std::size_t i = 0; i < places.size(); ++i) {
        if (places[i].line != line)
            continue;
        auto const distance = std::abs(places[i].x - x);
        if (!best || distance < best_distance) {
            best = i;
            best_distance = distance;
        }
    }
    return best;
}

std::int32_t keep_caret_in_view(std::int32_t scroll, std::int32_t caret_x, std::int32_t text_width,
    std::int32_t width)
{
    if (text_width <= width)
        return 0;
    // Past the right edge the line shows its end, as typing at the end wants.
    if (caret_x + scroll > width)
        scroll = width - text_width;
    if (caret_x + scroll < 0)
        scroll = -caret_x;
    return std::clamp(scroll, width - text_width, 0);
}

}
