#include "platform/cloud/server/ServerErrors.hpp"

namespace platform::cloud::server {

std::string sqlStateOf(const pqxx::sql_error& error)
{
    if (!error.sqlstate().empty()) {
        return error.sqlstate();
    }
    if (dynamic_cast<const pqxx::insufficient_privilege*>(&error)) {
        return "42501";
    }
    if (dynamic_cast<const pqxx::undefined_table*>(&error)) {
        return "42P01";
    }
    if (dynamic_cast<const pqxx::disk_full*>(&error)) {
        return "53100";
    }
    if (dynamic_cast<const pqxx::out_of_memory*>(&error)) {
        return "53200";
    }
    if (dynamic_cast<const pqxx::insufficient_resources*>(&error)) {
        return "53000";
    }
    return {};
}

bool isConnectionLoss(const std::string& sqlState)
{
    return sqlState.starts_with("08") || sqlState == "57P01" || sqlState == "57P02";
}

bool isSerializationConflict(const std::string& sqlState)
{
    return sqlState == "40001" || sqlState == "40P01";
}

CloudError errorForSqlState(const std::string& sqlState)
{
    using Code = CloudError::Code;
    if (isConnectionLoss(sqlState)) {
        return CloudError(Code::networkFailure, sqlState);
    }
    if (isSerializationConflict(sqlState)) {
        return CloudError(Code::zoneBusy, sqlState);
    }
    if (sqlState == "42501") {
        return CloudError(Code::permissionFailure, sqlState);
    }
    // 57014: a statement ran past the session's time limit.
    if (sqlState == "57P03" || sqlState == "25006" || sqlState == "57014" || sqlState.starts_with("53")) {
        return CloudError(Code::serviceUnavailable, sqlState);
    }
    return CloudError(Code::internalError, sqlState);
}

} // namespace platform::cloud::server
