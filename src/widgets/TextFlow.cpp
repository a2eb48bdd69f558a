#include "widgets/TextFlow.h"

#include <algorithm>

namespace qv {

namespace {

bool is_space(char16_t c) { return c == u' ' || c == u'\r'; }

void add_to_line(FlowLine& line, TextRun const& run)
{
    line.height = std::max(line.height, run.height);
    line.runs.push_back(run);
}

}

WString prepare_text(WStringView text, bool wrap)
{
    WString result;
    result.reserve(text.size());
    for (auto c : text) {
        if (c == u'\t')
            result.append(4, u' ');
        else if (!wrap && (c == u'\r' || c == u'\n'))
            result.push_back(u' ');
        else
            result.push_back(c);
    }
    return result;
}

std::vector<TextRun> split_runs(WStringView text, RunMeasure const& measure)
{
    std::vector<TextRun> runs;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t word_end = i;
        while (word_end < text.size() && !is_space(text[word_end]) && text[word_end] != u'\n')
            ++word_end;
        std::size_t space_end = word_end;
        while (space_end < text.size() && is_space(text[space_end]))
            ++space_end;
        TextRun run;
        run.text = WString(text.substr(i, word_end - i));
        auto size = measure(run.text);
        run.width = size.width;
        run.height = size.height;
        if (space_end > word_end)
            run.spacing = measure(text.substr(word_end, space_end - word_end)).width;
        if (space_end < text.size() && text[space_end] == u'\n') {
            run.ends_line = true;
            ++space_end;
        }
        runs.push_back(std::move(run));
        i = space_end;
    }
    return runs;
}

FlowLine flow_one_line(std::vector<TextRun> const& runs, std::int32_t available)
{
    FlowLine line;
    std::int32_t sum = 0;
    for (auto const& run : runs) {
        add_to_line(line, run);
        sum += run.width + run.spacing;
        if (sum >= available)
            break;
    }
    line.width = std::min(available, sum);
    return line;
}

WString elide_path(WStringView text, std::int32_t available, RunMeasure const& measure)
{
    auto const width = [&](WStringView head, WStringView tail) {
        WString shown(head);
        shown += kEllipsis;
        shown += tail;
        return measure(shown).width;
    };
    if (measure(text).width <= available)
        return WString(text);
    auto const slash = text.rfind(u'/');
    WStringView tail = slash == WStringView::npos ? WStringView() : text.substr(slash);
    WStringView head = text.substr(0, text.size() - tail.size());
    if (!tail.empty() && width({}, tail) > available) {
        // Not even the last part fits: as much of the end as does.
        std::size_t start = slash;
        while (start < text.size() && width({}, text.substr(start)) > available)
            ++start;
        return WString(1, kEllipsis) + WString(text.substr(start));
    }
    // The longest start that fits; widths grow with the length.
    std::size_t low = 0, high = head.size();
    while (low < high) {
        auto const mid = (low + high + 1) / 2;
        if (width(head.substr(0, mid), tail) <= available)
            low = mid;
        else
            high = mid - 1;
    }
    return WString(head.substr(0, low)) + kEllipsis + WString(tail);
}

FlowLine flow_right(std::vector<TextRun> const& runs, std::int32_t available, RunMeasure const& measure)
{
    FlowLine line;
    std::int32_t total = 0;
    for (auto const& run : runs)
        total += run.width + run.spacing;
    if (total <= available) {
        for (auto const& run : runs)
            add_to_line(line, run);
        line.width = total;
        return line;
    }
    auto ellipsis_size = measure(WStringView(&kEllipsis, 1));
    std::int32_t room = available - ellipsis_size.width;
    std::vector<TextRun> tail;
    std::size_t k = runs.size();
    while (k > 0 && runs[k - 1].width + runs[k - 1].spacing <= room) {
        --k;
        room -= runs[k].width + runs[k].spacing;
        tail.push_back(runs[k]);
    }
    // The run that did not fit whole gives as much of its end as fits.
    TextRun cut;
    if (k > 0) {
        auto const& run = runs[k - 1];
        for (std::size_t start = 1; start < run.text.size(); ++start) {
            auto size = measure(WStringView(run.text).substr(start));
            if (size.width + run.spacing <= room) {
                cut = TextRun { run.text.substr(start), size.width, size.height, run.spacing, run.ends_line };
                break;
            }
        }
    }
    if (room < 0 || (cut.text.empty() && tail.empty()))
        return line;
    TextRun ellipsis { WString(1, kEllipsis), ellipsis_size.width, ellipsis_size.height, 0, false };
    add_to_line(line, ellipsis);
    line.width = ellipsis.width;
    if (!cut.text.empty()) {
        add_to_line(line, cut);
        line.width += cut.width + cut.spacing;
    }
    for (auto it = tail.rbegin(); it != tail.rend(); ++it) {
        add_to_line(line, *it);
        line.width += it->width + it->spacing;
    }
    return line;
}

std::vector<FlowLine> flow_words(std::vector<TextRun> const& runs,
    std::function<std::int32_t(std::int32_t)> const& available, RunMeasure const& measure, RunFit const& fit)
{
    std::vector<FlowLine> lines;
    FlowLine line;
    std::int32_t x = 0, y = 0;
    auto finish = [&] {
        line.width = std::max(0, x);
        y += line.height;
        lines.push_back(std::move(line));
        line = FlowLine {};
        x = 0;
    };
    for (auto const& run : runs) {
        auto room = available(y);
        if (x > 0 && x + run.width > room && run.width <= available(y + line.height))
            finish();
        room = available(y);
        if (x + run.width <= room || run.width <= 0) {
            add_to_line(line, run);
            x += run.width + run.spacing;
        } else {
            // Wider than a whole line: a piece of what fits on each line.
            if (x > 0)
                finish();
            WStringView rest = run.text;
            while (!rest.empty()) {
                auto count = std::max<std::int32_t>(1, fit(rest, available(y)));
                auto piece = rest.substr(0, static_cast<std::size_t>(std::min<std::size_t>(count, rest.size())));
                rest.remove_prefix(piece.size());
                auto size = measure(piece);
                TextRun part { WString(piece), size.width, size.height, rest.empty() ? run.spacing : 0, false };
                add_to_line(line, part);
                x = part.width + part.spacing;
                if (!rest.empty())
                    finish();
            }
        }
        if (run.ends_line)
            finish();
    }
    if (!line.runs.empty())
        finish();
    return lines;
}

std::vector<std::int32_t> justify_gaps(std::int32_t runs, std::int32_t spare)
{
    std::vector<std::int32_t> gaps;
    if (runs < 2)
        return gaps;
    auto const n = runs - 1;
    for (std::int32_t k = 0; k < n; ++k)
        gaps.push_back((k + 1) * spare / n - k * spare / n);
    return gaps;
}

SideShare share_sides(std::int32_t width, std::int32_t left, std::int32_t right)
{
    if (width >= left + right || left + right <= 0)
        return { left, right };
    auto const share = static_cast<std::int32_t>(static_cast<double>(width) / (left + right) * left + 0.5);
    return { share, width - share };
}

}
