#pragma once

namespace platform::cloud {

// The raw values are those of the original platform, which callers log as numbers.
//   available              connected, and the account may read and write its store
//   noAccount              no PARLINO_CLOUD_URL, or one libpq cannot parse
//   restricted             connected, but the role may not create or use the store (42501)
//   couldNotDetermine      connected, but the store was written by a newer client
//   temporarilyUnavailable connected to a read-only standby
enum class AccountStatus : int {
    couldNotDetermine = 0,
    available = 1,
    restricted = 2,
    noAccount = 3,
    temporarilyUnavailable = 4,
};

} // namespace platform::cloud
