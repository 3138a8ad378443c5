#pragma once

#include "platform/cloud/Asset.hpp"
#include "platform/cloud/RecordZone.hpp"

#include <chrono>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace platform::cloud {

// A record of the private database: a type, an identifier (name and zone) and typed fields.
// Dates keep nanoseconds; doubles keep every value, NaN and infinities included, so readers must
// check what they accept.
//
// Saving validates (invalidArguments, 12): record type and field keys are 1-255 characters of
// letters, digits and '_' starting with a letter; record and zone names are 1-255 bytes of UTF-8
// without control characters; string values are UTF-8 without NUL.
class Record {
public:
    using Date = std::chrono::system_clock::time_point;
    using FieldValue = std::variant<std::string, double, Date, Asset>;

    struct ID {
        std::string recordName;
        RecordZone::ID zoneID;

        bool operator==(const ID&) const = default;
    };

    Record(std::string recordType, ID recordID);

    const std::string& recordType() const { return recordType_; }
    const ID& recordID() const { return recordID_; }

    void set(const std::string& key, FieldValue value);
    void remove(const std::string& key);
    bool contains(const std::string& key) const;

    // Nullptr when the field is absent.
    const FieldValue* value(const std::string& key) const;
    // Nullptr when the field is absent or holds another type; contains() tells the two apart.
    template <typename T>
    const T* get(const std::string& key) const
    {
        const auto* found = value(key);
        return found ? std::get_if<T>(found) : nullptr;
    }

    std::vector<std::string> allKeys() const;
    const std::map<std::string, FieldValue>& fields() const { return fields_; }

private:
    std::string recordType_;
    ID recordID_;
    std::map<std::string, FieldValue> fields_;
};

} // namespace platform::cloud
