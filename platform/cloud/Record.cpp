#include "platform/cloud/Record.hpp"

namespace platform::cloud {

Record::Record(std::string recordType, ID recordID)
    : recordType_(std::move(recordType))
    , recordID_(std::move(recordID))
{
}

void Record::set(const std::string& key, FieldValue value)
{
    fields_.insert_or_assign(key, std::move(value));
}

void Record::remove(const std::string& key)
{
    fields_.erase(key);
}

bool Record::contains(const std::string& key) const
{
    return fields_.contains(key);
}

const Record::FieldValue* Record::value(const std::string& key) const
{
    const auto found = fields_.find(key);
    return found == fields_.end() ? nullptr : &found->second;
}

std::vector<std::string> Record::allKeys() const
{
    std::vector<std::string> keys;
    keys.reserve(fields_.size());
    for (const auto& [key, value] : fields_) {
        keys.push_back(key);
    }
    return keys;
}

} // namespace platform::cloud
