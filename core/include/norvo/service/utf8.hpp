#pragma once
// Lossy UTF-8 decoding for text that clients send.

#include <cstdint>
#include <span>
#include <string>

namespace norvo::service {

// Valid sequences are kept as they are; each maximal invalid subpart becomes one
// U+FFFD, as the Unicode standard recommends. Zero bytes are kept.
std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes);

}  // namespace norvo::service
