#pragma once

#include "Hub/HubApi.hpp"

// The hub operations on HubApi::shared(), callable as Hub::getFilenames(...) and so on.
namespace hub {

std::vector<std::string> getFilenames(const Repo& repo, const std::vector<std::string>& globs = {});
std::vector<std::string> getFilenames(const std::string& repoId, const std::vector<std::string>& globs = {});
std::vector<std::string> getFilenames(const Repo& repo, const std::string& glob);
std::vector<std::string> getFilenames(const std::string& repoId, const std::string& glob);

std::filesystem::path snapshot(const Repo& repo, const std::vector<std::string>& globs,
    const HubApi::ProgressHandler& progressHandler = {});
std::filesystem::path snapshot(const std::string& repoId, const std::vector<std::string>& globs,
    const HubApi::ProgressHandler& progressHandler = {});
std::filesystem::path snapshot(const Repo& repo, const std::string& glob, const HubApi::ProgressHandler& progressHandler = {});
std::filesystem::path snapshot(const std::string& repoId, const std::string& glob,
    const HubApi::ProgressHandler& progressHandler = {});

// Checks a token with a client of the default endpoint.
Config whoami(const std::string& token);

} // namespace hub
