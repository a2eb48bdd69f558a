#include "skin/Layout.h"

#include <algorithm>

namespace qv {

Anchor anchor_from_name(WStringView name)
{
    static constexpr WStringView names[] = { u"MIN_SIDE", u"BOTH_SIDE", u"MAX_SIDE", u"RATIO", u"CENTER",
        u"MIN_SIDE_NO_SIZE", u"MAX_SIDE_NO_SIZE" };
    for (int i = 0; i < 7; ++i) {
        if (name == names[i])
            return static_cast<Anchor>(i);
    }
    return Anchor::BothSide;
}

std::int32_t slot_size(Anchor mode, std::int32_t m, std::int32_t wanted, std::int32_t M, std::int32_t slot)
{
    std::int32_t room = mode == Anchor::MinSide ? slot - m : mode == Anchor::MaxSide ? slot - M : slot - m - M;
    std::int32_t want = mode == Anchor::BothSide ? slot - m - M : wanted;
    std::int32_t size = (mode == Anchor::MinSideNoSize || mode == Anchor::MaxSideNoSize) ? want : std::min(want, room);
    return std::max(size, 0);
}

std::int32_t slot_offset(Anchor mode, std::int32_t m, std::int32_t size, std::int32_t M, std::int32_t slot)
{
    switch (mode) {
    case Anchor::MaxSide:
    case Anchor::MaxSideNoSize: {
        std::int32_t offset = slot - size - M;
        return offset > 0 ? offset : 0;
    }
    case Anchor::Center: {
        std::int32_t c = (slot - m - M) / 2 - size / 2;
        return c > 0 ? m + c : m;
    }
    default:
        return m;
    }
}

std::int32_t measure_extent(Anchor mode, std::int32_t m, std::int32_t size, std::int32_t M)
{
    switch (mode) {
    case Anchor::MinSide: return m + size;
    case Anchor::BothSide:
    case Anchor::Ratio:
    case Anchor::Center: return m + size + M;
    case Anchor::MinSideNoSize:
    case Anchor::MaxSideNoSize: return 0;
    default: return size + M;
    }
}

std::int32_t border_sum(Anchor mode, std::int32_t m, std::int32_t M)
{
    switch (mode) {
    case Anchor::MinSide:
    case Anchor::MinSideNoSize: return m;
    case Anchor::BothSide:
    case Anchor::Ratio:
    case Anchor::Center: return m + M;
    default: return M;
    }
}

MeasurePair measure_base(MeasurePair pair, std::int32_t design, std::span<AxisChild const> children)
{
    pair.preferred = std::max(pair.preferred, design);
    pair.minimum = std::max(pair.minimum, design);
    for (auto const& child : children) {
        auto e = measure_extent(child.mode, child.border_min, child.pair.preferred, child.border_max);
        pair.preferred = std::max(pair.preferred, e);
        pair.minimum = std::max(pair.minimum, child.pair.minimum + e - child.pair.preferred);
    }
    return pair;
}

MeasurePair measure_table(MeasurePair pair, std::int32_t design, std::span<AxisChild const> children)
{
    pair.preferred = std::max(pair.preferred, design);
    std::int32_t sum = 0, give = 0;
    for (auto const& child : children) {
        sum += measure_extent(child.mode, child.border_min, child.pair.preferred, child.border_max);
        give += child.pair.preferred - child.pair.minimum;
    }
    pair.preferred = std::max(pair.preferred, sum);
    pair.minimum = std::max(pair.minimum, sum - give);
    return pair;
}

Placement place_in_slot(AxisChild const& child, std::int32_t wanted, std::int32_t slot)
{
    auto size = slot_size(child.mode, child.border_min, wanted, child.border_max, slot);
    return { slot_offset(child.mode, child.border_min, size, child.border_max, slot), size };
}

std::vector<Placement> place_table(std::span<AxisChild const> children, std::int32_t length)
{
    std::vector<Placement> placements(children.size());
    std::vector<std::int32_t> borders(children.size());
    std::int32_t room = length, sum_preferred = 0, sum_minimum = 0, ratio_children = 0, growable = 0;
    for (size_t i = 0; i < children.size(); ++i) {
        auto const& c = children[i];
        borders[i] = border_sum(c.mode, c.border_min, c.border_max);
        room -= borders[i];
        sum_preferred += c.pair.preferred;
        sum_minimum += c.pair.minimum;
        ratio_children += c.ratio > 0;
        growable += c.pair.preferred != c.pair.minimum;
    }
    if (room <= 0)
        return placements; // everyone at the table's start with no size

    std::vector<std::int32_t> cells(children.size());
    std::int32_t start = 0;
    auto place = [&](size_t i, std::int32_t wanted, std::int32_t slot) {
        auto const& c = children[i];
        auto size = slot_size(c.mode, c.border_min, wanted, c.border_max, slot);
        placements[i] = { start + slot_offset(c.mode, c.border_min, size, c.border_max, slot), size };
        start += slot;
    };

    if (sum_minimum < room) {
        for (size_t i = 0; i < children.size(); ++i)
            cells[i] = children[i].pair.minimum;
        std::int32_t grow = sum_preferred < room ? sum_preferred - sum_minimum : room - sum_minimum;
        std::int32_t spare = sum_preferred < room ? room - sum_preferred : 0;
        // Near-equal parts of the growth in rounds; what a child cannot take
        // goes round again to those that still can.
        while (growable > 0 && grow > 0) {
            std::int32_t running = 0, excess = 0, still = 0;
            for (size_t i = 0; i < children.size(); ++i) {
                std::int32_t room_left = children[i].pair.preferred - cells[i];
                if (room_left <= 0)
                    continue;
                running += grow;
                std::int32_t part = running / growable - (running - grow) / growable;
                if (part < room_left) {
                    cells[i] += part;
                    ++still;
                } else {
                    cells[i] += room_left;
                    excess += part - room_left;
                }
            }
            growable = still;
            grow = excess;
        }
        std::int32_t ratio_sum = 0;
        for (size_t i = 0; i < children.size(); ++i) {
            if (children[i].ratio > 0) {
                cells[i] += spare * (ratio_sum + children[i].ratio) / ratio_children - spare * ratio_sum / ratio_children;
                ratio_sum += children[i].ratio;
            }
            place(i, cells[i], cells[i] + borders[i]);
        }
    } else {
        std::int32_t running = 0;
        for (size_t i = 0; i < children.size(); ++i) {
            auto n = children[i].pair.minimum;
            std::int32_t cell = sum_minimum > 0
                ? static_cast<std::int32_t>(std::int64_t { room } * (running + n) / sum_minimum
                    - std::int64_t { room } * running / sum_minimum)
                : 0;
            running += n;
            place(i, cell, cell + borders[i]);
        }
    }
    return placements;
}

Placement place_progress_line(AxisChild const& line, std::int32_t length, double value)
{
    auto v = static_cast<std::int32_t>((length - measure_extent(line.mode, line.border_min, 0, line.border_max)) * value);
    if (v < 1)
        v = 0;
    return place_in_slot(line, v, length);
}

}
