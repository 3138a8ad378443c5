#pragma once

#include "platform/cloud/Record.hpp"

#include <cstdint>
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

} // namespace platform::cloud::server
