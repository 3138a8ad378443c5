#include "platform/cloud/server/ConnectionSettings.hpp"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace platform::cloud::server {

namespace {

// Keepalives find a dead TCP path within about half a minute; libpq ignores them on local sockets.
constexpr std::pair<const char*, const char*> clientDefaults[] {
    {"client_encoding", "UTF8"},
    {"application_name", "parlino"},
    {"keepalives", "1"},
    {"keepalives_idle", "10"},
    {"keepalives_interval", "5"},
    {"keepalives_count", "3"},
    {"tcp_user_timeout", "30000"},
};

std::string quoted(const std::string& value)
{
    std::string out = "'";
    for (const char c : value) {
        if (c == '\'' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "'";
}

std::string environmentOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

std::string systemUserName()
{
    passwd entry {};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name) {
        return found->pw_name;
    }
    return std::to_string(::geteuid());
}

} // namespace

std::optional<ConnectionSettings> ConnectionSettings::parse(const std::string& url, std::chrono::seconds connectTimeout,
                                                            std::chrono::milliseconds statementTimeout)
{
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(url.c_str(), &error),
                                                                         &PQconninfoFree);
    if (error) {
        PQfreemem(error);
    }
    if (!options) {
        return std::nullopt;
    }
    std::map<std::string, std::string> given;
    for (auto* option = options.get(); option->keyword; ++option) {
        if (option->val) {
            given[option->keyword] = option->val;
        }
    }
    for (const auto& [keyword, value] : clientDefaults) {
        given.try_emplace(keyword, value);
    }
    // No limit (0, or text libpq would read as 0) is never taken from the URL.
    const long ours = std::max<long>(connectTimeout.count(), 2);
    const auto urlTimeout = given.find("connect_timeout");
    const long theirs = urlTimeout == given.end() ? 0 : std::atol(urlTimeout->second.c_str());
    given["connect_timeout"] = std::to_string(theirs > 0 ? std::min(theirs, ours) : ours);
    auto& sessionOptions = given["options"];
    sessionOptions += (sessionOptions.empty() ? "" : " ") + std::string("-c statement_timeout=")
             + std::to_string(std::max<long long>(statementTimeout.count(), 1));

    ConnectionSettings settings;
    for (const auto& [keyword, value] : given) {
        if (!settings.connectionString.empty()) {
            settings.connectionString += ' ';
        }
        settings.connectionString += keyword + "=" + quoted(value);
    }
    const auto user = given.find("user");
    settings.user = user != given.end() && !user->second.empty() ? user->second : environmentOr("PGUSER", systemUserName());
    const auto database = given.find("dbname");
    settings.database = database != given.end() && !database->second.empty() ? database->second
                                                                              : environmentOr("PGDATABASE", settings.user);
    return settings;
}

} // namespace platform::cloud::server
