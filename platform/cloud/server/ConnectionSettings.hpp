#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace platform::cloud::server {

// A connection URL read by libpq's own parser (no connection is made), with this client's defaults
// added where the URL is silent (UTF-8, the application name, TCP keepalives) and its time limits
// always: a connect timeout (the URL's own when shorter) and a statement timeout for the session.
struct ConnectionSettings {
    std::string connectionString; // key='value' pairs for libpq
    std::string user;             // the URL's, else $PGUSER, else the system user's name
    std::string database;         // the URL's, else $PGDATABASE, else the user

    // Nullopt for text libpq cannot parse.
    static std::optional<ConnectionSettings> parse(const std::string& url,
                                                   std::chrono::seconds connectTimeout = std::chrono::seconds {10},
                                                   std::chrono::milliseconds statementTimeout = std::chrono::seconds {30});
};

} // namespace platform::cloud::server
