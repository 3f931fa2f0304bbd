#pragma once
// Enumerations of the model store their user-visible label (for rotations,
// their degrees) as their raw value, so stored files stay readable and a
// renamed enumerator never breaks them.
//
// Each enumeration E specialises EnumCases<E> with its cases in declaration
// order and declares rawValue(E) next to itself; fromRawValue and
// json::decodeRawValue then work for it.
// Thread-safety: stateless, safe from any thread.

#include "platform/core/Json.h"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace fw {

// Specialise with `static constexpr std::array<E, N> values{...};`.
template <class E>
struct EnumCases;

// Every case of E in declaration order.
template <class E>
constexpr const auto& allCases() {
    return EnumCases<E>::values;
}

// The case whose raw value equals `raw` exactly (case-sensitive), else nullopt.
template <class E, class Raw>
std::optional<E> fromRawValue(const Raw& raw) {
    for (E value : EnumCases<E>::values) {
        if (rawValue(value) == raw) return value;
    }
    return std::nullopt;
}

namespace json {

// JSON has no NaN or infinity (they would be written as null and fail the
// next read, costing a whole stored list), so such values are written as
// `fallback`.
inline Json finiteOr(double value, double fallback) { return std::isfinite(value) ? value : fallback; }

// Reads an enumeration stored as its raw value (text, or an integer for
// integer raw values). Throws JsonDecodeError for a wrong JSON type or a raw
// value that names no case.
template <class E>
E decodeRawValue(const Json& value, std::string_view key) {
    using Raw = decltype(rawValue(E{}));
    if constexpr (std::is_convertible_v<Raw, std::string_view>) {
        auto text = decode<std::string>(value, key);
        if (auto result = fromRawValue<E>(std::string_view(text))) return *result;
        throw JsonDecodeError("key \"" + std::string(key) + "\": cannot initialize from invalid raw value \"" + text +
                              "\"");
    } else {
        auto number = decode<std::int64_t>(value, key);
        if (auto result = fromRawValue<E>(static_cast<Raw>(number)); result && rawValue(*result) == number)
            return *result;
        throw JsonDecodeError("key \"" + std::string(key) + "\": cannot initialize from invalid raw value " +
                              std::to_string(number));
    }
}

}  // namespace json
}  // namespace fw
