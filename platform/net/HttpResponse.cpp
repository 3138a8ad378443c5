#include "platform/net/HttpResponse.hpp"

#include <algorithm>
#include <cctype>

namespace platform {

std::optional<std::string> HttpResponse::header(std::string_view name) const
{
    const auto sameName = [&](const std::string& candidate) {
        return candidate.size() == name.size()
            && std::equal(candidate.begin(), candidate.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
               });
    };
    for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
        if (sameName(it->first)) {
            return it->second;
        }
    }
    return std::nullopt;
}

} // namespace platform
