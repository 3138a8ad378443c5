#pragma once

#include <optional>
#include <string>

namespace platform::cloud::server {

// A connection URL read by libpq's own parser (no connection is made), with this client's defaults
// added where the URL is silent: a connect timeout, UTF-8 and the application name.
struct ConnectionSettings {
    std::string connectionString; // key='value' pairs for libpq
    std::string user;             // the URL's, else $PGUSER, else the system user's name
    std::string database;         // the URL's, else $PGDATABASE, else the user

    // Nullopt for text libpq cannot parse.
    static std::optional<ConnectionSettings> parse(const std::string& url);
};

} // namespace platform::cloud::server
