#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace loopback {

struct RecordedRequest {
    std::string method;
    std::string path; // decoded, without the query
    std::optional<std::string> authorization;
};

// A model hub on 127.0.0.1 serving repositories from folders laid out like the hub's URLs:
// models at <root>/<owner>/<name>, datasets and spaces at <root>/datasets/<owner>/<name> and
// <root>/spaces/<owner>/<name>. It answers "/api/<type>/<id>" with the file listing,
// "/api/whoami-v2" after a bearer-token check, and "[<type>/]<id>/resolve/main/<path>" with the file.
// Faults are set per request path (as the listing and file paths below give them) and may be
// changed while the server runs.
class LoopbackHub {
public:
    explicit LoopbackHub(std::filesystem::path root);
    ~LoopbackHub();
    LoopbackHub(const LoopbackHub&) = delete;
    LoopbackHub& operator=(const LoopbackHub&) = delete;

    // Binds 127.0.0.1 (port 0: a free one) and serves on a thread of its own; returns the port.
    int start(int port = 0);
    // Ends stalls and delays at once and waits for the server to finish.
    void stop();

    int port() const;
    std::string endpoint() const; // "http://127.0.0.1:<port>"
    const std::filesystem::path& root() const;
    std::filesystem::path repositoryFolder(const std::string& repoId, const std::string& type = "models") const;

    static std::string listingPath(const std::string& repoId, const std::string& type = "models");
    static std::string filePath(const std::string& repoId, const std::string& file, const std::string& type = "models");
    static constexpr char whoamiPath[] = "/api/whoami-v2";

    // The token "/api/whoami-v2" accepts; none: it refuses every request.
    void setAccessToken(std::optional<std::string> token);
    // Every request to the path in the next six switches gets the fault until clearFaults().
    void failWithStatus(const std::string& path, int status);
    void dropConnectionAfter(const std::string& path, std::size_t bytes);
    // Sends that many bytes of the body, then sends nothing more until the server stops.
    void stallAfter(const std::string& path, std::size_t bytes);
    void delay(const std::string& path, std::chrono::milliseconds duration);
    // Sends the body at about that many bytes a second.
    void limitRate(const std::string& path, std::size_t bytesPerSecond);
    void redirect(const std::string& path, const std::string& location, int status = 302);
    // The body goes out chunked, without a Content-Length.
    void omitContentLength(const std::string& path);
    // Lists these names instead of the repository folder's files (they need not exist).
    void setListing(const std::string& repoId, std::vector<std::string> names, const std::string& type = "models");
    void clearFaults();

    std::vector<RecordedRequest> requests() const;
    void clearRequests();

private:
    struct Server;
    std::unique_ptr<Server> server_;
};

} // namespace loopback
