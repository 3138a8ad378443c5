#pragma once

#include "platform/cloud/CloudError.hpp"

#include <pqxx/except>

#include <string>

namespace platform::cloud::server {

// The server's condition code (SQLSTATE) of an error; libpqxx keeps it only for the conditions it has
// no class of its own for, so those classes give their codes back here.
std::string sqlStateOf(const pqxx::sql_error& error);
// The CloudError for a server condition code; the table is in CloudError.hpp.
CloudError errorForSqlState(const std::string& sqlState);
// Conditions after which the connection is gone: class 08, administrator or crash shutdown.
bool isConnectionLoss(const std::string& sqlState);
bool isSerializationConflict(const std::string& sqlState);

} // namespace platform::cloud::server
