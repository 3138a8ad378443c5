#include "platform/cloud/server/Validation.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/text/UnicodeText.hpp"

#include <algorithm>

namespace platform::cloud::server {

namespace {

constexpr std::size_t maxNameBytes = 255;

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// Names of zones, records and containers: any UTF-8 text without control characters.
bool isValidName(const std::string& name)
{
    return !name.empty() && name.size() <= maxNameBytes && platform::isValidUtf8(name)
        && std::none_of(name.begin(), name.end(), [](char c) { return isControl(static_cast<unsigned char>(c)); });
}

// Record types and field keys: an identifier.
bool isValidIdentifier(const std::string& name)
{
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return !name.empty() && name.size() <= maxNameBytes && isLetter(name.front())
        && std::all_of(name.begin(), name.end(), [&](char c) { return isLetter(c) || (c >= '0' && c <= '9') || c == '_'; });
}

void require(bool condition)
{
    if (!condition) {
        throw CloudError(CloudError::Code::invalidArguments);
    }
}

} // namespace

void validateContainer(const std::string& containerIdentifier)
{
    if (!isValidName(containerIdentifier)) {
        throw CloudError(CloudError::Code::badContainer);
    }
}

void validateZoneID(const RecordZone::ID& zoneID)
{
    require(isValidName(zoneID.zoneName) && zoneID.ownerName == RecordZone::currentUserDefaultName);
}

void validateRecordID(const Record::ID& recordID)
{
    require(isValidName(recordID.recordName));
    validateZoneID(recordID.zoneID);
}

void validateRecord(const Record& record)
{
    validateRecordID(record.recordID());
    require(isValidIdentifier(record.recordType()));
    for (const auto& [key, value] : record.fields()) {
        require(isValidIdentifier(key));
        if (const auto* text = std::get_if<std::string>(&value)) {
            require(platform::isValidUtf8(*text) && text->find('\0') == std::string::npos);
        }
    }
}

} // namespace platform::cloud::server
