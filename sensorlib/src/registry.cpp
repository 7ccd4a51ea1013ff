#include "registry.hpp"

namespace norvo::sensorlib {

// FNV-1a over all 16 bytes.
std::size_t GuidHash::operator()(const Guid& g) const noexcept {
    std::uint64_t h = 0xCBF29CE484222325ull;
    auto mix = [&h](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            h ^= (value >> (8 * i)) & 0xFF;
            h *= 0x100000001B3ull;
        }
    };
    mix(g.data1, 4);
    mix(g.data2, 2);
    mix(g.data3, 2);
    for (auto b : g.data4) mix(b, 1);
    return static_cast<std::size_t>(h);
}

}  // namespace norvo::sensorlib
