#pragma once
// Little-endian encoding of the parameter types of the interface. Reading is
// bounds-checked throughout: a length is never trusted, and a conformant array
// whose conformance differs from its count is rejected, as NDR's checks do.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace norvo::wire {

// 16 random bytes that name something only the service can look up; all
// zeros names nothing. The tag keeps one kind of name from passing for another.
template <class Tag>
struct Token {
    std::array<std::uint8_t, 16> bytes{};

    bool is_null() const {
        return std::ranges::all_of(bytes, [](std::uint8_t b) { return b == 0; });
    }
    friend auto operator<=>(const Token&, const Token&) = default;
};

// A context handle on the wire; the null token is the null handle.
using ContextToken = Token<struct ContextTag>;
// The association a connection belongs to: every connection one client opens
// shares its contexts.
using AssociationKey = Token<struct AssociationTag>;

// The largest array a 16-bit count can name.
inline constexpr std::size_t kMaxArraySize = 0xFFFF;

// A 16-bit count parameter followed by a conformant byte array of that many
// elements: count (u16), conformance (u32), bytes.
struct CountedBytes {
    std::vector<std::uint8_t> bytes;
    friend bool operator==(const CountedBytes&, const CountedBytes&) = default;
};

// PROPERTY_BUFFER, a conformant record: conformance (u32), size (u16), data.
struct PropertyBuffer {
    std::vector<std::uint8_t> data;
    friend bool operator==(const PropertyBuffer&, const PropertyBuffer&) = default;
};

class Writer {
  public:
    void put(std::uint8_t value);
    void put(std::uint16_t value);
    void put(std::uint32_t value);
    void put(std::int32_t value);
    void put(std::uint64_t value);
    template <class Tag>
    void put(const Token<Tag>& token) {
        put_fixed(token.bytes);
    }
    void put(const CountedBytes& array);
    void put(const PropertyBuffer& buffer);
    // A full pointer: one byte, 0 for null or 1, then the referent.
    template <class T>
    void put(const std::optional<T>& pointer) {
        put(std::uint8_t{pointer.has_value()});
        if (pointer)
            put(*pointer);
    }

    // False once an array was too long for its 16-bit count.
    bool ok() const { return ok_; }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

  private:
    void put_array(std::span<const std::uint8_t> bytes);
    void put_fixed(std::span<const std::uint8_t> bytes);

    std::vector<std::uint8_t> bytes_;
    bool ok_ = true;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // Each returns false, and leaves the reader failed, when the bytes do not hold the value.
    bool get(std::uint8_t& value);
    bool get(std::uint16_t& value);
    bool get(std::uint32_t& value);
    bool get(std::int32_t& value);
    bool get(std::uint64_t& value);
    template <class Tag>
    bool get(Token<Tag>& token) {
        return get_fixed(token.bytes);
    }
    bool get(CountedBytes& array);
    bool get(PropertyBuffer& buffer);
    template <class T>
    bool get(std::optional<T>& pointer) {
        std::uint8_t present = 0;
        if (!get(present))
            return false;
        if (present > 1)
            return fail();
        if (present == 0) {
            pointer.reset();
            return true;
        }
        return get(pointer.emplace());
    }

    // True when every byte was read and nothing failed.
    bool finished() const { return ok_ && offset_ == bytes_.size(); }

  private:
    bool fail();
    std::optional<std::span<const std::uint8_t>> take(std::size_t count);
    bool get_fixed(std::span<std::uint8_t> out);
    bool get_array(std::size_t count, std::vector<std::uint8_t>& out);

    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

}  // namespace norvo::wire
