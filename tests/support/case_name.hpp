#pragma once
// Readable names for parameterised cases: CTest lists them by name, and the default
// is the parameter's raw bytes.

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

namespace norvo::test {

// The case's index (which keeps names unique) and its label's letters and digits,
// every other run of characters as one '_'.
inline std::string case_name(std::size_t index, std::string_view label) {
    constexpr std::size_t kMaxLabel = 48;
    std::string name = std::to_string(index);
    for (char c : label.substr(0, kMaxLabel)) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (name.back() != '_')
            name += '_';
    }
    return name;
}

}  // namespace norvo::test
