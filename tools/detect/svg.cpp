#include "svg.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace norvo::vtap_detect {

namespace {

constexpr double kWidth = 1000;
constexpr double kLeft = 60;
constexpr double kRight = 20;
constexpr double kPanelHeight = 200;
constexpr double kTop = 40;
constexpr double kGap = 40;
constexpr double kBottom = 40;

double seconds(detect::Timestamp t) {
    return std::chrono::duration<double>(t).count();
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
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

// A round step for about `count` ticks over `span`.
double tick_step(double span, int count) {
    const double raw = span / count;
    const double power = std::pow(10, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw)
            return m * power;
    }
    return 10 * power;
}

class Panel {
  public:
    Panel(double top, double t0, double t1, double low, double high)
        : top_(top), t0_(t0), t1_(t1), low_(low), high_(high > low ? high : low + 1) {}

    double x(double t) const { return kLeft + (t - t0_) / (t1_ - t0_) * (kWidth - kLeft - kRight); }
    double y(double v) const { return top_ + kPanelHeight * (high_ - v) / (high_ - low_); }
    double top() const { return top_; }
    double bottom() const { return top_ + kPanelHeight; }

    // Each pixel column's lowest and highest value, so that a long trace keeps its spikes.
    std::string line(const std::vector<detect::AccelSample>& samples,
                     const std::function<double(std::size_t)>& value,
                     std::string_view style) const {
        std::string points;
        std::optional<long> column;
        double least = 0;
        double most = 0;
        auto flush = [&] {
            if (column)
                points += fmt::format("{},{:.1f} {},{:.1f} ", *column, y(least), *column, y(most));
        };
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const long c = std::lround(x(seconds(samples[i].time)));
            const double v = value(i);
            if (column && c == *column) {
                least = std::min(least, v);
                most = std::max(most, v);
                continue;
            }
            flush();
            column = c;
            least = most = v;
        }
        flush();
        return fmt::format("<polyline fill=\"none\" {} points=\"{}\"/>\n", style, points);
    }

    std::string frame(std::string_view unit) const {
        std::string out = fmt::format(
            "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#888\"/>\n",
            kLeft, top_, kWidth - kLeft - kRight, kPanelHeight);
        const double step = tick_step(high_ - low_, 4);
        for (double v = std::ceil(low_ / step) * step; v <= high_; v += step) {
            out += fmt::format(
                "<text x=\"{}\" y=\"{:.1f}\" font-size=\"11\" text-anchor=\"end\">{:g}</text>\n",
                kLeft - 4, y(v) + 4, std::abs(v) < step / 2 ? 0 : v);
        }
        return out + fmt::format("<text x=\"4\" y=\"{:.1f}\" font-size=\"11\">{}</text>\n",
                                 top_ - 6, unit);
    }

  private:
    double top_;
    double t0_;
    double t1_;
    double low_;
    double high_;
};

}  // namespace

std::string render_svg(const Drawing& d) {
    const double height = kTop + 15 + 2 * kPanelHeight + kGap + kBottom;
    std::string out = fmt::format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{}\" height=\"{}\" "
        "font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        "<text x=\"{}\" y=\"20\" font-size=\"14\">{}</text>\n",
        kWidth, height, kLeft, escaped(d.title));
    if (d.samples.empty())
        return out + "</svg>\n";
    const double t0 = seconds(d.samples.front().time);
    const double t1 = std::max(seconds(d.samples.back().time), t0 + 1e-3);

    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (const auto& s : d.samples) {
        low = std::min({low, s.x, s.y, s.z});
        high = std::max({high, s.x, s.y, s.z});
    }
    const Panel axes(kTop + 15, t0, t1, low, high);
    double most = 0;
    for (const auto& p : d.probes) most = std::max({most, p.magnitude, p.threshold});
    const Panel magnitude(axes.bottom() + kGap, t0, t1, 0, most * 1.1);

    out += axes.frame("x (blue), y (orange), z (green), m/s²");
    const std::array<std::pair<double detect::AccelSample::*, std::string_view>, 3> series{
        {{&detect::AccelSample::x, "#1f77b4"},
         {&detect::AccelSample::y, "#ff7f0e"},
         {&detect::AccelSample::z, "#2ca02c"}}};
    for (const auto& [axis, colour] : series) {
        out += axes.line(
            d.samples, [&](std::size_t i) { return d.samples[i].*axis; },
            fmt::format("stroke=\"{}\" stroke-width=\"1\"", colour));
    }
    out += magnitude.frame(
        "high-passed magnitude (black), threshold (orange, dashed), motion range (purple), m/s²; "
        "taps found (red), known (green)");
    out += magnitude.line(
        d.samples, [&](std::size_t i) { return std::min(d.probes[i].motion, most * 1.1); },
        "stroke=\"#9467bd\" stroke-width=\"1\"");
    out += magnitude.line(
        d.samples, [&](std::size_t i) { return d.probes[i].magnitude; },
        "stroke=\"black\" stroke-width=\"1\"");
    out += magnitude.line(
        d.samples, [&](std::size_t i) { return d.probes[i].threshold; },
        "stroke=\"#ff7f0e\" stroke-width=\"1\" stroke-dasharray=\"4 3\"");
    for (const auto& known : d.known) {
        const double x = magnitude.x(seconds(known.onset));
        out += fmt::format(
            "<path d=\"M{0:.1f},{1:.1f} l-5,-9 h10 z\" fill=\"#2ca02c\"/>\n"
            "<line x1=\"{0:.1f}\" y1=\"{2:.1f}\" x2=\"{0:.1f}\" y2=\"{1:.1f}\" stroke=\"#2ca02c\" "
            "stroke-dasharray=\"2 2\"/>\n",
            x, magnitude.bottom(), axes.top());
    }
    for (const auto& tap : d.taps) {
        const double x = magnitude.x(seconds(tap.onset));
        out += fmt::format(
            "<line x1=\"{0:.1f}\" y1=\"{1:.1f}\" x2=\"{0:.1f}\" y2=\"{2:.1f}\" stroke=\"#d62728\" "
            "stroke-width=\"1.5\" opacity=\"0.8\"/>\n",
            x, axes.top(), magnitude.bottom());
    }
    const double step = tick_step(t1 - t0, 10);
    for (double t = std::ceil(t0 / step) * step; t <= t1; t += step) {
        out += fmt::format(
            "<text x=\"{:.1f}\" y=\"{:.1f}\" font-size=\"11\" text-anchor=\"middle\">{:g}</text>\n",
            magnitude.x(t), magnitude.bottom() + 15, t);
    }
    out += fmt::format(
        "<text x=\"{:.1f}\" y=\"{:.1f}\" font-size=\"11\" text-anchor=\"middle\">time, s</text>\n",
        kLeft + (kWidth - kLeft - kRight) / 2, magnitude.bottom() + 32);
    return out + "</svg>\n";
}

}  // namespace norvo::vtap_detect
