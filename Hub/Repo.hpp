#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace hub {

enum class RepoType { models, datasets, spaces };

std::string rawValue(RepoType type);
// Exactly "models", "datasets" or "spaces" (case-sensitive).
std::optional<RepoType> repoTypeFromRawValue(const std::string& rawValue);

struct Repo {
    std::string id; // "owner/name"
    RepoType type = RepoType::models;

    Repo(std::string id, RepoType type = RepoType::models)
        : id(std::move(id))
        , type(type)
    {
    }
    friend bool operator==(const Repo&, const Repo&) = default;
};

class HubClientError : public std::runtime_error {
public:
    enum class Kind { httpStatusCode, parse, authorizationRequired, unexpectedError };

    static HubClientError httpStatusCode(int status)
    {
        return HubClientError(Kind::httpStatusCode, status, "httpStatusCode(" + std::to_string(status) + ")");
    }
    static HubClientError parse() { return HubClientError(Kind::parse, 0, "parse"); }
    static HubClientError authorizationRequired()
    {
        return HubClientError(Kind::authorizationRequired, 0, "authorizationRequired");
    }
    static HubClientError unexpectedError() { return HubClientError(Kind::unexpectedError, 0, "unexpectedError"); }

    Kind kind() const { return kind_; }
    int statusCode() const { return statusCode_; }
    // The same error, its message followed by a sentence of the caller's.
    HubClientError withContext(const std::string& sentence) const
    {
        return HubClientError(kind_, statusCode_, std::string(what()) + " " + sentence);
    }

private:
    HubClientError(Kind kind, int statusCode, const std::string& text)
        : std::runtime_error(text)
        , kind_(kind)
        , statusCode_(statusCode)
    {
    }
    Kind kind_;
    int statusCode_;
};

} // namespace hub

// The design names these types Hub.RepoType, Hub.Repo, ...
namespace Hub = hub;
