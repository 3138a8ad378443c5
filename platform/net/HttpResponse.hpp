#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The final response of a request, after any redirects were followed.
struct HttpResponse {
    int statusCode = 0;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    // From Content-Length; -1 when the server announced none.
    std::int64_t expectedContentLength = -1;

    bool isSuccess() const { return statusCode >= 200 && statusCode <= 299; }
    // Case-insensitive; the last occurrence wins.
    std::optional<std::string> header(std::string_view name) const;
};

} // namespace platform
