#include "report.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>

namespace norvo::bench {
namespace {

constexpr double kRatioGoal = 1.5;
constexpr double kConfirmationGoal = 2.0;  // times the raw ping-pong's p99
constexpr double kFloodGoal = 2.0;         // times the quiet p99
constexpr double kLatenessGoalUs = 2000;
constexpr std::uint64_t kRssGoalKib = 64 * 1024;
constexpr std::size_t kScaleGoalClients = 1000;

std::string verdict(bool met) {
    return met ? "met" : "missed";
}

std::string p50_p99(const Percentiles& p) {
    return fmt::format("p50 {:.1f} µs, p99 {:.1f} µs", p.p50, p.p99);
}

std::string mib(std::uint64_t kib) {
    return fmt::format("{:.1f} MiB", static_cast<double>(kib) / 1024.0);
}

}  // namespace

double round_trip_ratio(const Figures& f) {
    return f.raw_ping_pong.p50 > 0 ? f.round_trip.p50 / f.raw_ping_pong.p50 : 0;
}

std::vector<Row> rows(const Figures& f) {
    const double ratio = round_trip_ratio(f);
    const double confirmation_limit = kConfirmationGoal * f.raw_ping_pong.p99;
    const double flood_limit = kFloodGoal * f.flood_quiet.p99;
    std::vector<Row> out{
        {"QueryProperty round trip", p50_p99(f.round_trip), "", ""},
        {"QueryProperty round trip, every call logged (--log-level trace)",
         p50_p99(f.round_trip_traced), "", ""},
        {"QueryProperty of another connection, every line logged, quiet", p50_p99(f.flood_quiet),
         "", ""},
        {fmt::format("the same while one connection floods 64 KiB phone events ({:.0f}/s)",
                     f.flood_events_per_second),
         p50_p99(f.flooded), fmt::format("p99 <= 2x quiet p99 ({:.1f} µs)", flood_limit),
         verdict(f.flooded.p99 <= flood_limit)},
        {fmt::format("raw Unix-socket ping-pong ({} B out, {} B back)", f.frame_bytes_in,
                     f.frame_bytes_out),
         p50_p99(f.raw_ping_pong), "", ""},
        {"round trip / raw ping-pong (p50)", fmt::format("{:.2f}x", ratio), "<= 1.5x",
         verdict(ratio <= kRatioGoal)},
        {"confirmation: phone event sent -> Confirmed", p50_p99(f.confirmation),
         fmt::format("p99 <= 2x raw p99 ({:.1f} µs)", confirmation_limit),
         verdict(f.confirmation.p99 <= confirmation_limit)},
        {"laptop tap: report written to the device -> LaptopTap", p50_p99(f.laptop_tap), "", ""},
        {"loop throughput in process", fmt::format("{:.0f} confirmed pairs/s", f.pairs_per_second),
         "", ""},
        {fmt::format("timer lateness, UnconfirmedTap (range {} ms)", f.timeout_range_ms),
         p50_p99(f.lateness), "p99 <= 2000 µs", verdict(f.lateness.p99 <= kLatenessGoalUs)},
        {fmt::format("idle: context switches, {} starts outstanding, {:g} s", f.idle_clients,
                     f.idle_seconds),
         fmt::format("{}", f.idle_context_switches), "0", verdict(f.idle_context_switches == 0)},
        {"daemon VmRSS with no client", mib(f.baseline_rss_kib), "", ""},
    };
    if (f.sd_bus) {
        const double sd_bus_ratio = f.sd_bus->p50 > 0 ? f.round_trip.p50 / f.sd_bus->p50 : 0;
        const auto at = out.begin() + 6;
        out.insert(at,
                   {{"sd-bus peer-to-peer method call (same sizes)", p50_p99(*f.sd_bus), "", ""},
                    {"round trip / sd-bus (p50)", fmt::format("{:.2f}x", sd_bus_ratio), "<= 1.0x",
                     verdict(sd_bus_ratio <= 1.0)}});
    }
    const bool at_scale = f.scale_clients >= kScaleGoalClients;
    out.push_back({fmt::format("daemon VmRSS, {} running clients", f.scale_clients),
                   mib(f.scale_rss_kib), "< 64 MiB at 1000 clients",
                   at_scale ? verdict(f.scale_rss_kib < kRssGoalKib) : "not measured"});
    out.push_back({fmt::format("daemon threads, {} running clients", f.scale_clients),
                   fmt::format("{}", f.scale_threads), "", ""});
    return out;
}

std::string text_table(const std::vector<Row>& table, double ratio) {
    std::array<std::size_t, 3> width{};
    for (const auto& row : table) {
        width[0] = std::max(width[0], row.measurement.size());
        width[1] = std::max(width[1], row.figure.size());
        width[2] = std::max(width[2], row.goal.size());
    }
    std::string text;
    for (const auto& row : table) {
        auto line = fmt::format("{:<{}}  {:<{}}  {:<{}}  {}", row.measurement, width[0], row.figure,
                                width[1], row.goal, width[2], row.verdict);
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + '\n';
    }
    return text + fmt::format("round-trip ratio: {:.2f}\n", ratio);
}

std::string generated_section(const RunInfo& run, const std::vector<Row>& table) {
    std::string text = fmt::format("{}\n\n", run.pinned ? kPinnedBeginMarker : kBeginMarker);
    text += fmt::format("Machine: {}, {} logical cores, Linux {}  \n", run.machine.cpu_model,
                        run.machine.cores, run.machine.kernel);
    text += fmt::format("Command: `{}`  \nDate: {}  \nLoad average when it began: {}\n\n",
                        run.command, run.date, run.load);
    text += "| measurement | figure | goal | |\n|---|---|---|---|\n";
    for (const auto& row : table)
        text += fmt::format("| {} | {} | {} | {} |\n", row.measurement, row.figure, row.goal,
                            row.verdict);
    return text + fmt::format("\n{}\n", run.pinned ? kPinnedEndMarker : kEndMarker);
}

std::string splice_report(std::string_view existing, std::string_view section) {
    const auto trimmed = section.substr(0, section.find_last_not_of('\n') + 1);
    const auto begin_marker = section.substr(0, section.find('\n'));
    const auto end_marker = trimmed.substr(trimmed.find_last_of('\n') + 1);
    const auto begin = existing.find(begin_marker);
    const auto end = begin == std::string_view::npos ? begin : existing.find(end_marker, begin);
    if (end == std::string_view::npos) {
        std::string text = "# Performance\n\n";
        text += section;
        if (!existing.empty())
            text += fmt::format("\n{}", existing);
        return text;
    }
    std::string text(existing.substr(0, begin));
    text += section;
    auto rest = existing.substr(end + end_marker.size());
    if (rest.starts_with('\n'))
        rest.remove_prefix(1);
    return text + std::string(rest);
}

}  // namespace norvo::bench
