#pragma once
// A seeded random source whose numbers are the same on every compiler and library (the
// standard distributions are not): xoshiro256** seeded by splitmix64.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace norvo::tapgen {

class Rng {
  public:
    explicit Rng(std::uint64_t seed) {
        for (auto& word : state_) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // [0, 1)
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double low, double high) { return low + (high - low) * unit(); }
    // Evenly spread over the logarithm: as many taps from 1 to 2 m/s² as from 3 to 6.
    double log_uniform(double low, double high) {
        return std::exp(uniform(std::log(low), std::log(high)));
    }
    bool chance(double p) { return unit() < p; }
    double normal() {
        const double u = 1.0 - unit();  // (0, 1]
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * unit());
    }
    // Median `median`, spread `sigma` in the logarithm, never above `cap`.
    double log_normal(double median, double sigma, double cap) {
        return std::min(cap, median * std::exp(sigma * normal()));
    }
    double sign() { return chance(0.5) ? 1.0 : -1.0; }
    // From low to high, either way: the sign is drawn first.
    double either_way(double low, double high) {
        const double s = sign();
        return s * uniform(low, high);
    }

  private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t state_[4];
};

}  // namespace norvo::tapgen
