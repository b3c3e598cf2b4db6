#pragma once

#include <algorithm>
#include <vector>

// The middle of a benchmark's runs: one slow run, the machine busy elsewhere, moves it least.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
