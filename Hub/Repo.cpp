#include "Hub/Repo.hpp"

namespace hub {

std::string rawValue(RepoType type)
{
    switch (type) {
    case RepoType::models: return "models";
    case RepoType::datasets: return "datasets";
    case RepoType::spaces: return "spaces";
    }
    return "models";
}

std::optional<RepoType> repoTypeFromRawValue(const std::string& rawValue)
{
    if (rawValue == "models") return RepoType::models;
    if (rawValue == "datasets") return RepoType::datasets;
    if (rawValue == "spaces") return RepoType::spaces;
    return std::nullopt;
}

} // namespace hub
