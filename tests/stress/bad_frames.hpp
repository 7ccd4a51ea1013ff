#pragma once
// Connections that misbehave, each on a socket of its own: bad and cut frames,
// and clients that go without a word. What the service must answer is checked.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace norvo::stress {

// One kind of bad input, picked by `seed`; the failure when the service's answer is wrong.
std::optional<std::string> feed_bad_frames(const std::filesystem::path& socket, std::uint64_t seed,
                                           std::chrono::milliseconds deadline);

// A connection that ends with no goodbye: at once, or with a running start left behind.
std::optional<std::string> vanish(const std::filesystem::path& socket, std::uint64_t seed,
                                  std::chrono::milliseconds deadline);

}  // namespace norvo::stress
