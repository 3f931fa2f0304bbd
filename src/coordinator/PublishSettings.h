#pragma once
// Where finished outputs are published: an HTTP(S) endpoint, the method and
// the kind of authorisation. The secret itself lives in the secret store,
// never here. Held by the coordinator, never saved.
// Thread-safety: a plain value.

#include "model/RawValue.h"

#include <array>
#include <string>
#include <string_view>

namespace fw {

struct PublishSettings {
    enum class Method { put, post };
    enum class Auth { none, basic, bearer };

    bool isEnabled = false;
    std::string endpoint;
    Method method = Method::put;
    Auth auth = Auth::none;
    std::string username;

    // The endpoint parses as a URL whose scheme is http or https (any case);
    // isEnabled is not looked at.
    bool isConfigured() const;

    bool operator==(const PublishSettings&) const = default;
};

template <>
struct EnumCases<PublishSettings::Method> {
    static constexpr std::array values{PublishSettings::Method::put, PublishSettings::Method::post};
};
template <>
struct EnumCases<PublishSettings::Auth> {
    static constexpr std::array values{PublishSettings::Auth::none, PublishSettings::Auth::basic,
                                       PublishSettings::Auth::bearer};
};

std::string_view rawValue(PublishSettings::Method method);  // "PUT", "POST"
std::string_view rawValue(PublishSettings::Auth auth);      // "None", "Basic", "Bearer token"

}  // namespace fw
