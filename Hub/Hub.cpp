#include "Hub/Hub.hpp"

namespace hub {

std::vector<std::string> getFilenames(const Repo& repo, const std::vector<std::string>& globs)
{
    return HubApi::shared().getFilenames(repo, globs);
}

std::vector<std::string> getFilenames(const std::string& repoId, const std::vector<std::string>& globs)
{
    return HubApi::shared().getFilenames(repoId, globs);
}

std::vector<std::string> getFilenames(const Repo& repo, const std::string& glob)
{
    return HubApi::shared().getFilenames(repo, glob);
}

std::vector<std::string> getFilenames(const std::string& repoId, const std::string& glob)
{
    return HubApi::shared().getFilenames(repoId, glob);
}

std::filesystem::path snapshot(const Repo& repo, const std::vector<std::string>& globs, const HubApi::ProgressHandler& progressHandler)
{
    return HubApi::shared().snapshot(repo, globs, progressHandler);
}

std::filesystem::path snapshot(const std::string& repoId, const std::vector<std::string>& globs,
    const HubApi::ProgressHandler& progressHandler)
{
    return HubApi::shared().snapshot(repoId, globs, progressHandler);
}

std::filesystem::path snapshot(const Repo& repo, const std::string& glob, const HubApi::ProgressHandler& progressHandler)
{
    return HubApi::shared().snapshot(repo, glob, progressHandler);
}

std::filesystem::path snapshot(const std::string& repoId, const std::string& glob, const HubApi::ProgressHandler& progressHandler)
{
    return HubApi::shared().snapshot(repoId, glob, progressHandler);
}

Config whoami(const std::string& token)
{
    return HubApi(std::nullopt, token, HubApi::defaultEndpoint(), false).whoami();
}

} // namespace hub
