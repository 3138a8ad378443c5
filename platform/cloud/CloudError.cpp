#include "platform/cloud/CloudError.hpp"

namespace platform::cloud {

CloudError::CloudError(Code code, std::string sqlState)
    : std::runtime_error(describe(code))
    , code_(code)
    , sqlState_(std::move(sqlState))
{
}

std::string CloudError::describe(Code code)
{
    switch (code) {
    case Code::internalError: return "Internal error on the cloud server";
    case Code::networkUnavailable: return "Cannot connect to the cloud server";
    case Code::networkFailure: return "The connection to the cloud server was lost";
    case Code::badContainer: return "Bad container identifier";
    case Code::serviceUnavailable: return "The cloud service is unavailable right now";
    case Code::notAuthenticated: return "No cloud account is configured";
    case Code::permissionFailure: return "Permission denied by the cloud server";
    case Code::unknownItem: return "Unknown item: the record does not exist";
    case Code::invalidArguments: return "Invalid arguments";
    case Code::serverRecordChanged: return "Server record changed: record to insert already exists";
    case Code::assetFileNotFound: return "Asset file not found";
    case Code::incompatibleVersion: return "The cloud store was written by a newer version";
    case Code::changeTokenExpired: return "Change token expired";
    case Code::zoneBusy: return "Zone busy, try again later";
    case Code::quotaExceeded: return "Quota exceeded";
    case Code::zoneNotFound: return "Zone not found";
    case Code::limitExceeded: return "Limit exceeded: the asset is too large";
    case Code::assetNotAvailable: return "Asset not available: cannot write the local cache file";
    }
    return "Internal error on the cloud server";
}

} // namespace platform::cloud
