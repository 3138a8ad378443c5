#pragma once

#include <string>

namespace platform::cloud {

// A custom zone of the private database. Zones are per container and account; saving one that
// exists keeps it (and its change history) as it is. Every call naming a zone that does not exist
// fails with zoneNotFound (26); an owner other than currentUserDefaultName with invalidArguments (12).
class RecordZone {
public:
    // The owner name that stands for the connection's own account, the only owner a private database has.
    static constexpr char currentUserDefaultName[] = "__defaultOwner__";

    struct ID {
        std::string zoneName;
        std::string ownerName = currentUserDefaultName;

        bool operator==(const ID&) const = default;
    };

    explicit RecordZone(ID zoneID)
        : zoneID_(std::move(zoneID))
    {
    }
    explicit RecordZone(std::string zoneName)
        : zoneID_ { std::move(zoneName) }
    {
    }

    const ID& zoneID() const { return zoneID_; }

private:
    ID zoneID_;
};

} // namespace platform::cloud
