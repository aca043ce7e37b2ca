#pragma once

#include <string>
#include <vector>

namespace roamnode::report {

struct Series
{
    std::string name;
    std::string colour;
    std::vector<double> x, y;
    // When both are set (same length as x), a shaded band is drawn between them.
    std::vector<double> bandLow, bandHigh;
};

// A self-contained SVG line chart with axes, ticks and a legend. Empty series are skipped; with
// no points at all the chart says so.
std::string svgLineChart(const std::string& title, const std::string& xLabel,
                         const std::string& yLabel, const std::vector<Series>& series);

std::string htmlEscape(const std::string& text);

} // namespace roamnode::report
