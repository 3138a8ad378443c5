#include "Hub/HubApi.hpp"

#include "Hub/RepositoryPath.hpp"
#include "platform/net/HttpClient.hpp"
#include "platform/net/NetError.hpp"
#include "platform/net/Url.hpp"
#include "platform/system/Folders.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fnmatch.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <unordered_set>

namespace hub {

namespace {

// Endpoint and path joined as text, without doubling the slash.
std::string joined(const std::string& endpoint, const std::string& path)
{
    std::string base = endpoint;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + path;
}

std::string validatedUrl(const std::string& text)
{
    if (!platform::Url::parse(text)) {
        throw platform::NetError(platform::NetError::Code::badURL, text);
    }
    return text;
}

Config objectConfig(const nlohmann::json& value)
{
    if (!value.is_object()) {
        throw HubClientError::parse();
    }
    return Config(value);
}

std::int64_t wholePercent(double fraction)
{
    if (!std::isfinite(fraction) || fraction <= 0) {
        return 0;
    }
    return fraction >= 1 ? 100 : static_cast<std::int64_t>(fraction * 100);
}

} // namespace

std::string HubApi::defaultEndpoint()
{
    const char* value = std::getenv(endpointVariable);
    return value && *value ? std::string(value) : std::string(publicEndpoint);
}

HubApi::HubApi(std::optional<std::filesystem::path> downloadBase, std::optional<std::string> hfToken, std::string endpoint,
    bool useBackgroundSession)
    : downloadBase(downloadBase ? std::move(*downloadBase) : platform::Folders::documents() / "modelhub")
    , hfToken(std::move(hfToken))
    , endpoint(std::move(endpoint))
    , useBackgroundSession(useBackgroundSession)
{
}

const HubApi& HubApi::shared()
{
    static const HubApi shared;
    return shared;
}

std::pair<std::string, platform::HttpResponse> HubApi::httpGet(const std::string& url) const
{
    platform::HttpRequest request { url };
    request.timeout = timeout;
    if (hfToken) {
        request.headers.emplace_back("Authorization", "Bearer " + *hfToken);
    }
    auto result = platform::HttpClient::get(request, stopToken);
    const int status = result.response.statusCode;
    if (status <= 0) {
        throw HubClientError::unexpectedError();
    }
    if (status >= 400 && status <= 499) {
        throw HubClientError::authorizationRequired();
    }
    if (!result.response.isSuccess()) {
        throw HubClientError::httpStatusCode(status);
    }
    return { std::move(result.body), std::move(result.response) };
}

std::vector<std::string> HubApi::getFilenames(const Repo& repo, const std::vector<std::string>& globs) const
{
    requireSafeRelativePath(repo.id);
    const auto url = validatedUrl(joined(endpoint, "/api/" + rawValue(repo.type) + "/" + repo.id));
    const auto [body, response] = httpGet(url);
    std::vector<std::string> names = filenamesInListing(body);
    if (globs.empty()) {
        return names;
    }
    std::unordered_set<std::string> matched;
    for (const auto& glob : globs) {
        for (auto& name : matching(names, glob)) {
            matched.insert(std::move(name));
        }
    }
    // Each match once; listing order keeps runs repeatable.
    std::vector<std::string> result;
    for (auto& name : names) {
        if (matched.erase(name) > 0) {
            result.push_back(std::move(name));
        }
    }
    return result;
}

std::vector<std::string> HubApi::filenamesInListing(std::string_view body)
{
    const auto listing = nlohmann::json::parse(body);
    const auto siblings = listing.is_object() ? listing.find("siblings") : listing.end();
    if (!listing.is_object() || siblings == listing.end() || !siblings->is_array()) {
        throw HubClientError::parse();
    }
    std::vector<std::string> names;
    names.reserve(siblings->size());
    for (const auto& sibling : *siblings) {
        const auto name = sibling.is_object() ? sibling.find("rfilename") : sibling.end();
        if (!sibling.is_object() || name == sibling.end() || !name->is_string()) {
            throw HubClientError::parse();
        }
        requireSafeRelativePath(name->get_ref<const std::string&>());
        names.push_back(name->get<std::string>());
    }
    return names;
}

std::vector<std::string> HubApi::getFilenames(const std::string& repoId, const std::vector<std::string>& globs) const
{
    return getFilenames(Repo(repoId, RepoType::models), globs);
}

std::vector<std::string> HubApi::getFilenames(const Repo& repo, const std::string& glob) const
{
    return getFilenames(repo, std::vector<std::string> { glob });
}

std::vector<std::string> HubApi::getFilenames(const std::string& repoId, const std::string& glob) const
{
    return getFilenames(Repo(repoId, RepoType::models), std::vector<std::string> { glob });
}

Config HubApi::whoami() const
{
    if (!hfToken) {
        throw HubClientError::authorizationRequired();
    }
    const auto [body, response] = httpGet(validatedUrl(joined(endpoint, "/api/whoami-v2")));
    return objectConfig(nlohmann::json::parse(body));
}

Config HubApi::configuration(const std::filesystem::path& fileURL) const
{
    std::ifstream stream(fileURL, std::ios::binary);
    if (!stream) {
        throw std::filesystem::filesystem_error("cannot read the configuration file", fileURL,
            std::error_code(errno ? errno : ENOENT, std::generic_category()));
    }
    std::ostringstream text;
    text << stream.rdbuf();
    if (stream.bad()) {
        throw std::filesystem::filesystem_error("cannot read the configuration file", fileURL,
            std::make_error_code(std::errc::io_error));
    }
    return objectConfig(nlohmann::json::parse(text.str()));
}

Config HubApi::configuration(const std::string& path, const Repo& repo) const
{
    requireSafeRelativePath(repo.id);
    requireSafeRelativePath(path);
    return configuration(localRepoLocation(repo) / path);
}

std::filesystem::path HubApi::localRepoLocation(const Repo& repo) const
{
    return downloadBase / rawValue(repo.type) / repo.id;
}

std::filesystem::path HubApi::snapshot(const Repo& repo, const std::vector<std::string>& globs,
    const ProgressHandler& progressHandler) const
{
    const auto names = getFilenames(repo, globs);
    const auto parent = std::make_shared<Progress>(static_cast<std::int64_t>(names.size()));
    const auto repoDestination = localRepoLocation(repo);
    for (const auto& name : names) {
        if (stopToken.stop_requested()) {
            throw platform::NetError(platform::NetError::Code::cancelled);
        }
        const auto child = std::make_shared<Progress>(100);
        parent->addChild(child, 1);
        const HubFileDownloader downloader { repo, repoDestination, name, hfToken, endpoint, useBackgroundSession, timeout,
            stopToken };
        downloader.download([&](double fraction) {
            // Never backwards, whatever order the reports come in.
            child->setCompletedUnitCount(std::max(child->completedUnitCount(), wholePercent(fraction)));
            if (progressHandler) {
                progressHandler(*parent);
            }
        });
        child->setCompletedUnitCount(100);
    }
    if (progressHandler) {
        progressHandler(*parent);
    }
    return repoDestination;
}

std::filesystem::path HubApi::snapshot(const std::string& repoId, const std::vector<std::string>& globs,
    const ProgressHandler& progressHandler) const
{
    return snapshot(Repo(repoId, RepoType::models), globs, progressHandler);
}

std::filesystem::path HubApi::snapshot(const Repo& repo, const std::string& glob, const ProgressHandler& progressHandler) const
{
    return snapshot(repo, std::vector<std::string> { glob }, progressHandler);
}

std::filesystem::path HubApi::snapshot(const std::string& repoId, const std::string& glob,
    const ProgressHandler& progressHandler) const
{
    return snapshot(Repo(repoId, RepoType::models), std::vector<std::string> { glob }, progressHandler);
}

std::vector<std::string> matching(const std::vector<std::string>& names, const std::string& glob)
{
    std::vector<std::string> result;
    for (const auto& name : names) {
        if (::fnmatch(glob.c_str(), name.c_str(), 0) == 0) {
            result.push_back(name);
        }
    }
    return result;
}

} // namespace hub
