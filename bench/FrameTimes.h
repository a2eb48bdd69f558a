#pragma once

// Frame times of the frame-budget benchmarks, in milliseconds, and the
// budget of one frame in window mode.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qv::bench {

inline constexpr double kBudgetMs = 40;

// Frame times in milliseconds.
struct Frames {
    std::vector<double> ms;

    double longest() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    double quantile(double q) const
    {
        if (ms.empty())
            return 0;
        auto sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * static_cast<double>(sorted.size())))];
    }
    int over_budget() const
    {
        return static_cast<int>(std::count_if(ms.begin(), ms.end(), [](double t) { return t > kBudgetMs; }));
    }
};

}
