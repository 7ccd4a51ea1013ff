#pragma once
// Unguessable names for what the service hands out.

#include <cstdint>
#include <span>

#include "norvo/wire/codec.hpp"

namespace norvo::transport {

// From the kernel's random source; fatal when it cannot give any.
void fill_random(std::span<std::uint8_t> bytes);

// Never the null token.
template <class Tag>
wire::Token<Tag> random_token() {
    wire::Token<Tag> token;
    do {
        fill_random(token.bytes);
    } while (token.is_null());
    return token;
}

}  // namespace norvo::transport
