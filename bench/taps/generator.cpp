#include "generator.hpp"

#include <fmt/format.h>

#include <array>

namespace norvo::tapgen {

namespace {

constexpr std::array<std::string_view, 6> kConditionNames{"clean",  "repeats", "drops",
                                                          "jitter", "coarse",  "all"};

Hub hub_for(const TraceRecipe& recipe, Rng& rng) {
    Hub hub;
    hub.rate_hz = recipe.rate_hz;
    hub.noise = rng.uniform(0.01, 0.03);
    switch (recipe.condition) {
        case Condition::clean:
            break;
        case Condition::repeats:
            hub.repeat = rng.uniform(0.1, 0.3);
            break;
        case Condition::drops:
            hub.drop = rng.uniform(0.01, 0.05);
            break;
        case Condition::jitter:
            hub.jitter = rng.uniform(0.0005, 0.002);
            break;
        case Condition::coarse:
            hub.resolution = rng.chance(0.5) ? 0.0383 : 0.153;
            break;
        case Condition::all:
            hub.repeat = 0.1;
            hub.drop = 0.02;
            hub.jitter = 0.001;
            hub.resolution = 0.0383;
            break;
    }
    return hub;
}

}  // namespace

std::string_view condition_name(Condition condition) {
    return kConditionNames[static_cast<std::size_t>(condition)];
}

GeneratedTrace generate(const TraceRecipe& recipe) {
    Rng rng(recipe.seed);
    Staged staged = stage(recipe.kind, recipe.seconds, rng);
    GeneratedTrace trace;
    trace.hub = hub_for(recipe, rng);
    trace.samples = record(staged.scene, trace.hub, recipe.seconds, rng);
    trace.taps = std::move(staged.taps);
    return trace;
}

std::string trace_text(const TraceRecipe& recipe, const GeneratedTrace& trace) {
    std::string text = detect::trace_comment(
        fmt::format("vtap-trace-gen --kind {} --rate {} --seconds {} --condition {} --seed {}",
                    kind_name(recipe.kind), recipe.rate_hz, recipe.seconds,
                    condition_name(recipe.condition), recipe.seed));
    text += detect::trace_comment(fmt::format("rate_hz={}", recipe.rate_hz));
    text += detect::trace_comment(fmt::format(
        "noise={:.4f} resolution={} repeat={:.3f} drop={:.3f} jitter_ms={:.2f}", trace.hub.noise,
        trace.hub.resolution, trace.hub.repeat, trace.hub.drop, trace.hub.jitter * 1000));
    for (const auto& tap : trace.taps) text += detect::tap_label_comment(tap);
    text += detect::trace_header();
    for (const auto& sample : trace.samples) text += detect::trace_line(sample);
    return text;
}

}  // namespace norvo::tapgen
