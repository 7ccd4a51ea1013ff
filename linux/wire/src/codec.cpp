#include "norvo/wire/codec.hpp"

#include <algorithm>

namespace norvo::wire {
namespace {

template <class T>
void append_le(std::vector<std::uint8_t>& out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
    }
}

template <class T>
T read_le(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
    return static_cast<T>(value);
}

}  // namespace

void Writer::put(std::uint8_t value) {
    bytes_.push_back(value);
}
void Writer::put(std::uint16_t value) {
    append_le(bytes_, value);
}
void Writer::put(std::uint32_t value) {
    append_le(bytes_, value);
}
void Writer::put(std::int32_t value) {
    append_le(bytes_, static_cast<std::uint32_t>(value));
}
void Writer::put(std::uint64_t value) {
    append_le(bytes_, value);
}

void Writer::put_fixed(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void Writer::put_array(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxArraySize) {
        ok_ = false;
        return;
    }
    put(static_cast<std::uint32_t>(bytes.size()));
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void Writer::put(const CountedBytes& array) {
    put(static_cast<std::uint16_t>(array.bytes.size()));
    put_array(array.bytes);
}

void Writer::put(const PropertyBuffer& buffer) {
    if (buffer.data.size() > kMaxArraySize) {
        ok_ = false;
        return;
    }
    put(static_cast<std::uint32_t>(buffer.data.size()));
    put(static_cast<std::uint16_t>(buffer.data.size()));
    bytes_.insert(bytes_.end(), buffer.data.begin(), buffer.data.end());
}

bool Reader::fail() {
    ok_ = false;
    return false;
}

std::optional<std::span<const std::uint8_t>> Reader::take(std::size_t count) {
    if (!ok_ || bytes_.size() - offset_ < count) {
        fail();
        return std::nullopt;
    }
    auto taken = bytes_.subspan(offset_, count);
    offset_ += count;
    return taken;
}

bool Reader::get(std::uint8_t& value) {
    auto bytes = take(1);
    if (bytes)
        value = (*bytes)[0];
    return bytes.has_value();
}

bool Reader::get(std::uint16_t& value) {
    auto bytes = take(sizeof(value));
    if (bytes)
        value = read_le<std::uint16_t>(*bytes);
    return bytes.has_value();
}

bool Reader::get(std::uint32_t& value) {
    auto bytes = take(sizeof(value));
    if (bytes)
        value = read_le<std::uint32_t>(*bytes);
    return bytes.has_value();
}

bool Reader::get(std::int32_t& value) {
    std::uint32_t bits = 0;
    if (!get(bits))
        return false;
    value = static_cast<std::int32_t>(bits);
    return true;
}

bool Reader::get(std::uint64_t& value) {
    auto bytes = take(sizeof(value));
    if (bytes)
        value = read_le<std::uint64_t>(*bytes);
    return bytes.has_value();
}

bool Reader::get_fixed(std::span<std::uint8_t> out) {
    auto bytes = take(out.size());
    if (bytes)
        std::ranges::copy(*bytes, out.begin());
    return bytes.has_value();
}

bool Reader::get_array(std::size_t count, std::vector<std::uint8_t>& out) {
    auto bytes = take(count);
    if (!bytes)
        return false;
    out.assign(bytes->begin(), bytes->end());
    return true;
}

bool Reader::get(CountedBytes& array) {
    std::uint16_t count = 0;
    std::uint32_t conformance = 0;
    if (!get(count) || !get(conformance))
        return false;
    if (conformance != count)
        return fail();
    return get_array(count, array.bytes);
}

bool Reader::get(PropertyBuffer& buffer) {
    std::uint32_t conformance = 0;
    std::uint16_t size = 0;
    if (!get(conformance) || !get(size))
        return false;
    if (conformance != size)
        return fail();
    return get_array(size, buffer.data);
}

}  // namespace norvo::wire
