#pragma once

#include "platform/cloud/Record.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::cloud::server {

// Doubles as the server reads and writes them exactly: the shortest text that reads back as the same
// value, with "NaN", "Infinity" and "-Infinity". Parsing throws CloudError internalError on other text.
std::string doubleText(double value);
double parseDouble(std::string_view text);

// Dates as the server stores them: nanoseconds since the epoch.
std::int64_t dateNanoseconds(Record::Date date);
Record::Date dateFromNanoseconds(std::int64_t nanoseconds);

// One stored field row: its kind ('s', 'd', 't') and its value columns, each nullopt for NULL.
struct StoredField {
    std::string_view kind;
    std::optional<std::string_view> stringValue;
    std::optional<std::string_view> doubleValue;
    std::optional<std::int64_t> dateValue;
};

// The value a row holds, or nullopt when it holds none its kind can be read as (a NULL column, an
// unknown kind, unreadable number text): such a field is left out of its record, which then fails
// its reader's checks like a record without that field, instead of failing the whole fetch.
std::optional<Record::FieldValue> storedValue(const StoredField& field);

} // namespace platform::cloud::server
