#pragma once

#include "platform/cloud/Record.hpp"
#include "platform/cloud/ServerChangeToken.hpp"

#include <vector>

namespace platform::cloud {

// One answer of a zone-change fetch. Every record saved after the token comes in `modifications`,
// oldest change first; there are no per-record failures: anything that fails (an asset that cannot be
// written to the cache, say) fails the whole answer, so no record is passed over by the new token.
// Fetch again since `changeToken` while `moreComing` is true.
struct RecordZoneChanges {
    std::vector<Record> modifications;
    ServerChangeToken changeToken;
    bool moreComing = false;
};

} // namespace platform::cloud
