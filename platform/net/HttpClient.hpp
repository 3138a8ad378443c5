#pragma once

#include "platform/net/DownloadedFile.hpp"
#include "platform/net/HttpRequest.hpp"
#include "platform/net/HttpResponse.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

namespace platform {

// GET requests over libcurl, run on the calling thread. Redirects are followed (http and https
// only); any status comes back as a response. Transport failures, the idle timeout and cancellation
// throw NetError.
class HttpClient {
public:
    struct DataResult {
        HttpResponse response;
        std::string body;
    };
    struct FileResult {
        HttpResponse response;
        DownloadedFile file;
    };
    // Bytes of the final response's body written so far, and its announced size or -1.
    using ProgressHandler = std::function<void(std::int64_t totalBytesWritten, std::int64_t totalBytesExpected)>;

    static DataResult get(const HttpRequest& request, std::stop_token stop = {});

    // Streams the final response's body into a new hidden temporary file in `temporaryFolder`, which
    // must exist; on any failure that file is gone again.
    static FileResult download(const HttpRequest& request, const std::filesystem::path& temporaryFolder,
        const ProgressHandler& progress = {}, std::stop_token stop = {});
};

} // namespace platform
