#pragma once

#include <stdexcept>
#include <string>

namespace platform::cloud {

// A failed cloud operation. The code numbers are those of the original platform's cloud error codes,
// so callers can branch on them; the description (also what()) is fixed per code and never carries
// server text, so substring tests on it see only these words.
//
// Which server answer becomes which code:
//   no PARLINO_CLOUD_URL (or an unreadable one)      -> notAuthenticated (9)
//   cannot connect (socket missing, refused, auth)   -> networkUnavailable (3)
//   connection dropped mid-operation, server shut down (SQLSTATE class 08, 57P01, 57P02), commit outcome unknown
//                                                    -> networkFailure (4)
//   server starting up, read-only standby, out of resources (57P03, 25006, class 53), a statement
//   past its time limit (57014) or a request the client's watchdog ended
//                                                    -> serviceUnavailable (6)
//   insufficient privilege (42501)                   -> permissionFailure (10)
//   record or zone missing                           -> unknownItem (11) / zoneNotFound (26)
//   saving a record whose name exists                -> serverRecordChanged (14)
//   token from another incarnation of the zone       -> changeTokenExpired (21)
//   repeated serialization failures or deadlocks     -> zoneBusy (23)
//   the account's asset bytes would pass its quota   -> quotaExceeded (25)
//   schema written by a newer client                 -> incompatibleVersion (18)
//   anything else from the server                    -> internalError (1)
class CloudError : public std::runtime_error {
public:
    static constexpr char domain[] = "ParlinoCloudErrorDomain";

    enum class Code : int {
        internalError = 1,
        networkUnavailable = 3,
        networkFailure = 4,
        badContainer = 5,
        serviceUnavailable = 6,
        notAuthenticated = 9,
        permissionFailure = 10,
        unknownItem = 11,
        invalidArguments = 12,
        serverRecordChanged = 14,
        assetFileNotFound = 16,
        incompatibleVersion = 18,
        changeTokenExpired = 21,
        zoneBusy = 23,
        quotaExceeded = 25,
        zoneNotFound = 26,
        limitExceeded = 27,
        assetNotAvailable = 35,
    };

    // `sqlState` is the server's five-character condition code when one caused the error (for logs; never
    // part of the description).
    explicit CloudError(Code code, std::string sqlState = {});

    Code code() const { return code_; }
    int rawCode() const { return static_cast<int>(code_); }
    std::string localizedDescription() const { return what(); }
    const std::string& sqlState() const { return sqlState_; }

    static std::string describe(Code code);

private:
    Code code_;
    std::string sqlState_;
};

} // namespace platform::cloud
