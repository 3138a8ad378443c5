#pragma once

#include "platform/cloud/Record.hpp"
#include "platform/cloud/ServerChangeToken.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::cloud {

// An asset a fetch left out of its record because it is larger than the database's maxAssetBytes().
struct SkippedAsset {
    Record::ID recordID;
    std::string key;
    std::int64_t bytes = 0;
};

// One answer of a zone-change fetch. Every record saved after the token comes in `modifications`,
// oldest change first. A field the store holds no readable value for (NULL, say) is left out of its
// record, and an asset over the size limit is left out and named in `skippedAssets`; anything else
// that fails (an asset that cannot be written to the cache, say) fails the whole answer, so no record
// is passed over by the new token. Fetch again since `changeToken` while `moreComing` is true.
struct RecordZoneChanges {
    std::vector<Record> modifications;
    std::vector<SkippedAsset> skippedAssets;
    ServerChangeToken changeToken;
    bool moreComing = false;
};

} // namespace platform::cloud
