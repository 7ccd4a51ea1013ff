#include "connection.hpp"

#include <algorithm>

namespace norvo::vtapctl {

Result<PropertyValue> read_property(Connection& connection, const ContextHandle& context,
                                    PropertyKey key) {
    auto length = connection.NorvoQueryProperty(context, key, std::nullopt);
    if (!length)
        return std::unexpected(length.error());
    if (length->value != 0 || length->size < 0 || length->size > 0xFFFF)
        return PropertyValue{length->value, {}};
    auto value =
        connection.NorvoQueryProperty(context, key, static_cast<std::uint16_t>(length->size));
    if (!value)
        return std::unexpected(value.error());
    if (value->value != 0 || !value->buffer)
        return PropertyValue{value->value, {}};
    auto bytes = std::move(*value->buffer);
    bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(std::max(value->size, 0))));
    return PropertyValue{value->value, std::move(bytes)};
}

}  // namespace norvo::vtapctl
