#pragma once

#include "platform/cloud/Record.hpp"
#include "platform/cloud/RecordZone.hpp"

#include <string>

namespace platform::cloud::server {

// Checks at the edge what the store could not hold or would misread; each throws CloudError
// (badContainer for the container, invalidArguments for the rest).
void validateContainer(const std::string& containerIdentifier);
void validateZoneID(const RecordZone::ID& zoneID);
void validateRecordID(const Record::ID& recordID);
void validateRecord(const Record& record);

} // namespace platform::cloud::server
