#pragma once
// The generator's and the evaluator's command lines: "--name VALUE" options read in turn.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace norvo::tapgen {

class Arguments {
  public:
    explicit Arguments(std::span<const std::string_view> args) : args_(args) {}

    bool done() const { return index_ == args_.size(); }
    std::size_t index() const { return index_; }
    std::string_view current() const { return args_[index_]; }
    void skip(std::size_t count) { index_ += count; }

    // The value after the current option, and moves past both; none when it is missing.
    std::optional<std::string_view> value() {
        if (index_ + 1 >= args_.size())
            return std::nullopt;
        index_ += 2;
        return args_[index_ - 1];
    }

  private:
    std::span<const std::string_view> args_;
    std::size_t index_ = 0;
};

inline std::optional<double> positive_number(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) ||
        value <= 0)
        return std::nullopt;
    return value;
}

inline std::optional<std::uint64_t> whole_number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace norvo::tapgen
