#include "Hub/Downloader.hpp"
#include "Hub/HubApi.hpp"
#include "Hub/RepositoryPath.hpp"
#include "platform/net/NetError.hpp"
#include "platform/net/Url.hpp"

namespace hub {

using HubFileDownloader = HubApi::HubFileDownloader;

std::filesystem::path HubFileDownloader::destination() const
{
    return repoDestination / std::filesystem::path(relativeFilename);
}

std::string HubFileDownloader::source() const
{
    const std::string base = endpoint.value_or(HubApi::defaultEndpoint());
    auto url = platform::Url::parse(base);
    if (!url) {
        throw platform::NetError(platform::NetError::Code::badURL, base);
    }
    if (repo.type == RepoType::datasets) {
        url = url->appendingPath("datasets");
    } else if (repo.type == RepoType::spaces) {
        url = url->appendingPath("spaces");
    }
    return url->appendingPath(repo.id).appendingPath("resolve/main").appendingPath(relativeFilename).string();
}

void HubFileDownloader::prepareDestination() const
{
    std::filesystem::create_directories(destination().parent_path());
}

std::filesystem::path HubFileDownloader::download(const std::function<void(double)>& progressHandler) const
{
    requireSafeRelativePath(repo.id);
    requireSafeRelativePath(relativeFilename);
    const auto target = destination();
    std::error_code ignored;
    if (std::filesystem::exists(std::filesystem::symlink_status(target, ignored))) {
        return target;
    }
    // A symbolic link on the way must not carry the file out of the repository's folder.
    if (!isInside(target, repoDestination)) {
        throw UnsafePathError(relativeFilename);
    }
    if (stopToken.stop_requested()) {
        throw platform::NetError(platform::NetError::Code::cancelled);
    }
    prepareDestination();
    Downloader downloader(source(), target, hfToken, backgroundSession, timeout);
    std::stop_callback cancelTransfer(stopToken, [&downloader] { downloader.cancel(); });
    auto subscription = downloader.downloadState().subscribe([&](const Downloader::DownloadState& state) {
        if (state.kind == Downloader::DownloadState::Kind::downloading && progressHandler) {
            progressHandler(state.fraction);
        }
    });
    downloader.waitUntilDone();
    subscription.cancel();
    return target;
}

} // namespace hub
