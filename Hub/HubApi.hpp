#pragma once

#include "Hub/Config.hpp"
#include "Hub/Progress.hpp"
#include "Hub/Repo.hpp"
#include "platform/net/HttpRequest.hpp"
#include "platform/net/HttpResponse.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hub {

// The model-hub client: where repositories are kept on disk (<downloadBase>/<type>/<owner>/<name>),
// the token to send, and the hub's address. Requests run on the calling thread.
class HubApi {
public:
    static constexpr char publicEndpoint[] = "https://huggingface.co";
    static constexpr char endpointVariable[] = "AURIS_HUB_ENDPOINT";
    // $AURIS_HUB_ENDPOINT when set and not empty, else the public hub.
    static std::string defaultEndpoint();

    std::filesystem::path downloadBase;
    std::optional<std::string> hfToken;
    std::string endpoint;
    bool useBackgroundSession = false;
    // Longest silence of any request or file transfer before it fails.
    std::chrono::milliseconds timeout = platform::HttpRequest::defaultTimeout;
    // A stop request ends the running request or transfer with NetError::Code::cancelled, and no
    // further one starts.
    std::stop_token stopToken;

    // No download base: the Documents folder's "modelhub".
    explicit HubApi(std::optional<std::filesystem::path> downloadBase = std::nullopt,
        std::optional<std::string> hfToken = std::nullopt, std::string endpoint = defaultEndpoint(),
        bool useBackgroundSession = false);

    // Built once, on first use: default download base and endpoint, no token.
    static const HubApi& shared();

    // Statuses 200-299 return; 400-499 throw HubClientError::authorizationRequired; others
    // httpStatusCode; transport failures throw platform::NetError.
    std::pair<std::string, platform::HttpResponse> httpGet(const std::string& url) const;

    // The listed files matching any glob (all of them, in listing order, without globs). A listing
    // naming a file that could leave the repository's folder throws UnsafePathError.
    std::vector<std::string> getFilenames(const Repo& repo, const std::vector<std::string>& globs = {}) const;
    // The file names of a repository listing ({"siblings": [{"rfilename": name}, ...]}), in order.
    // Text that is no JSON throws nlohmann::json::parse_error, another shape HubClientError::parse,
    // an unsafe name UnsafePathError.
    static std::vector<std::string> filenamesInListing(std::string_view body);
    std::vector<std::string> getFilenames(const std::string& repoId, const std::vector<std::string>& globs = {}) const;
    std::vector<std::string> getFilenames(const Repo& repo, const std::string& glob) const;
    std::vector<std::string> getFilenames(const std::string& repoId, const std::string& glob) const;

    // Without a token: HubClientError::authorizationRequired, and nothing is sent.
    Config whoami() const;

    // A JSON file whose top level is an object; other values throw HubClientError::parse.
    Config configuration(const std::filesystem::path& fileURL) const;
    Config configuration(const std::string& path, const Repo& repo) const;

    std::filesystem::path localRepoLocation(const Repo& repo) const;

    // Called with the parent progress (one unit per file) during and after the download.
    using ProgressHandler = std::function<void(const Progress&)>;
    // Fetches the matching files one after another into localRepoLocation(repo), skipping files
    // already present, and returns that folder.
    std::filesystem::path snapshot(const Repo& repo, const std::vector<std::string>& globs,
        const ProgressHandler& progressHandler = {}) const;
    std::filesystem::path snapshot(const std::string& repoId, const std::vector<std::string>& globs,
        const ProgressHandler& progressHandler = {}) const;
    std::filesystem::path snapshot(const Repo& repo, const std::string& glob, const ProgressHandler& progressHandler = {}) const;
    std::filesystem::path snapshot(const std::string& repoId, const std::string& glob,
        const ProgressHandler& progressHandler = {}) const;

    // One file of a repository into the repository's local folder.
    struct HubFileDownloader {
        Repo repo;
        std::filesystem::path repoDestination;
        std::string relativeFilename;
        std::optional<std::string> hfToken;
        std::optional<std::string> endpoint; // absent: defaultEndpoint()
        bool backgroundSession = false;
        std::chrono::milliseconds timeout = platform::HttpRequest::defaultTimeout;
        std::stop_token stopToken;

        std::filesystem::path destination() const;
        // <endpoint>[/datasets|/spaces]/<repo id>/resolve/main/<file>, each segment percent-encoded.
        std::string source() const;
        void prepareDestination() const;
        // Returns at once when anything is already at the destination; otherwise reports the
        // file's fraction (0...1) and returns once the complete file is in place. A stop request
        // ends the transfer with NetError::Code::cancelled and leaves nothing at the destination.
        std::filesystem::path download(const std::function<void(double)>& progressHandler = {}) const;
    };
};

// The names that fnmatch(3) matches with the glob and no flags ("*" also crosses "/"), in order.
std::vector<std::string> matching(const std::vector<std::string>& names, const std::string& glob);

} // namespace hub
