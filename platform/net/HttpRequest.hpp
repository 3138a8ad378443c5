#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct HttpRequest {
    static constexpr std::chrono::milliseconds defaultTimeout { 60'000 };

    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    // Longest wait without receiving anything (connecting included); a slow but steady transfer
    // may take as long as it needs.
    std::chrono::milliseconds timeout = defaultTimeout;
    long maxRedirects = 10;
    // Bodies kept in memory larger than this fail the request; downloads to a file have no limit.
    std::size_t maxBodyBytes = std::size_t { 64 } << 20;
};

} // namespace platform
