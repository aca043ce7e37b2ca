#include "SvgChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace roamnode::report {
namespace {

constexpr double kWidth = 760, kHeight = 300;
constexpr double kLeft = 70, kRight = 20, kTop = 36, kBottom = 46;

std::string num(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", v);
    return buffer;
}

std::string tickLabel(double v)
{
    char buffer[32];
    if (std::fabs(v) >= 100 || v == std::floor(v))
        std::snprintf(buffer, sizeof buffer, "%.0f", v);
    else
        std::snprintf(buffer, sizeof buffer, "%.3g", v);
    return buffer;
}

// About five ticks are wanted; never more than this many are drawn.
constexpr int kMaxTicks = 12;

// A "nice" step of 1, 2 or 5 times a power of ten for about five ticks.
double niceStep(double range)
{
    if (range <= 0)
        return 1;
    const double raw = range / 5;
    const double power = std::pow(10, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power)
            return m * power;
    return 10 * power;
}

} // namespace

std::string htmlEscape(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string svgLineChart(const std::string& title, const std::string& xLabel,
                         const std::string& yLabel, const std::vector<Series>& series)
{
    double xMin = std::numeric_limits<double>::max(), xMax = std::numeric_limits<double>::lowest();
    double yMin = 0, yMax = std::numeric_limits<double>::lowest();
    bool any = false;
    for (const Series& s : series)
        for (std::size_t i = 0; i < s.x.size() && i < s.y.size(); ++i) {
            any = true;
            xMin = std::min(xMin, s.x[i]);
            xMax = std::max(xMax, s.x[i]);
            yMin = std::min(yMin, s.y[i]);
            yMax = std::max(yMax, s.y[i]);
            if (i < s.bandHigh.size())
                yMax = std::max(yMax, s.bandHigh[i]);
            if (i < s.bandLow.size())
                yMin = std::min(yMin, s.bandLow[i]);
        }
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" viewBox=\"0 0 " +
                      num(kWidth) + " " + num(kHeight) + "\" width=\"" + num(kWidth) +
                      "\" height=\"" + num(kHeight) + "\" role=\"img\">";
    svg += "<title>" + htmlEscape(title) + "</title>";
    svg += "<text x=\"" + num(kWidth / 2) +
           "\" y=\"20\" text-anchor=\"middle\" class=\"chart-title\">" + htmlEscape(title) +
           "</text>";
    if (!any) {
        svg += "<text x=\"" + num(kWidth / 2) + "\" y=\"" + num(kHeight / 2) +
               "\" text-anchor=\"middle\" fill=\"#777\">no samples</text></svg>";
        return svg;
    }
    if (xMax <= xMin)
        xMax = xMin + 1;
    const double yStep = niceStep(yMax - yMin);
    yMin = std::floor(yMin / yStep) * yStep;
    yMax = std::max(yMin + yStep, std::ceil(yMax / yStep) * yStep);
    const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
    auto px = [&](double x) { return kLeft + (x - xMin) / (xMax - xMin) * plotW; };
    auto py = [&](double y) { return kTop + plotH - (y - yMin) / (yMax - yMin) * plotH; };

    // The tick loops count their steps: a step too small to change a value of that size (axes
    // of absolute times in a damaged list) would otherwise never end.
    for (int tick = 0; tick <= kMaxTicks; ++tick) {
        const double y = yMin + tick * yStep;
        if (!(y <= yMax + yStep / 2))
            break;
        svg += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kLeft + plotW) + "\" y1=\"" +
               num(py(y)) + "\" y2=\"" + num(py(y)) + "\" stroke=\"#e4e4e4\"/>";
        svg += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(py(y) + 4) +
               "\" text-anchor=\"end\" class=\"tick\">" + tickLabel(y) + "</text>";
    }
    const double xStep = niceStep(xMax - xMin);
    const double xFirst = std::ceil(xMin / xStep) * xStep;
    for (int tick = 0; tick <= kMaxTicks; ++tick) {
        const double x = xFirst + tick * xStep;
        if (!(x <= xMax + 1e-9))
            break;
        svg += "<text x=\"" + num(px(x)) + "\" y=\"" + num(kTop + plotH + 16) +
               "\" text-anchor=\"middle\" class=\"tick\">" + tickLabel(x) + "</text>";
    }
    svg += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(plotW) +
           "\" height=\"" + num(plotH) + "\" fill=\"none\" stroke=\"#999\"/>";
    svg += "<text x=\"" + num(kLeft + plotW / 2) + "\" y=\"" + num(kHeight - 8) +
           "\" text-anchor=\"middle\" class=\"axis\">" + htmlEscape(xLabel) + "</text>";
    svg += "<text transform=\"translate(16," + num(kTop + plotH / 2) +
           ") rotate(-90)\" text-anchor=\"middle\" class=\"axis\">" + htmlEscape(yLabel) +
           "</text>";

    double legendX = kLeft + 8;
    for (const Series& s : series) {
        const std::size_t n = std::min(s.x.size(), s.y.size());
        if (n == 0)
            continue;
        if (s.bandLow.size() >= n && s.bandHigh.size() >= n) {
            std::string points;
            for (std::size_t i = 0; i < n; ++i)
                points += num(px(s.x[i])) + "," + num(py(s.bandHigh[i])) + " ";
            for (std::size_t i = n; i-- > 0;)
                points += num(px(s.x[i])) + "," + num(py(s.bandLow[i])) + " ";
            svg += "<polygon class=\"band\" points=\"" + points + "\" fill=\"" + s.colour +
                   "\" fill-opacity=\"0.18\" stroke=\"none\"/>";
        }
        std::string points;
        for (std::size_t i = 0; i < n; ++i)
            points += num(px(s.x[i])) + "," + num(py(s.y[i])) + " ";
        svg += "<polyline class=\"series\" points=\"" + points + "\" fill=\"none\" stroke=\"" +
               s.colour + "\" stroke-width=\"2\"/>";
        if (n == 1)
            svg += "<circle cx=\"" + num(px(s.x[0])) + "\" cy=\"" + num(py(s.y[0])) +
                   "\" r=\"3\" fill=\"" + s.colour + "\"/>";
        svg += "<rect x=\"" + num(legendX) + "\" y=\"" + num(kTop + 6) +
               "\" width=\"10\" height=\"10\" fill=\"" + s.colour + "\"/>";
        svg += "<text x=\"" + num(legendX + 14) + "\" y=\"" + num(kTop + 15) +
               "\" class=\"legend\">" + htmlEscape(s.name) + "</text>";
        legendX += 24 + 7.0 * static_cast<double>(s.name.size());
    }
    svg += "</svg>";
    return svg;
}

} // namespace roamnode::report
