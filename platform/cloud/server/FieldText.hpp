#pragma once

#include <string>
#include <string_view>

namespace platform::cloud::server {

// Doubles as the server reads and writes them exactly: the shortest text that reads back as the same
// value, with "NaN", "Infinity" and "-Infinity". Parsing throws CloudError internalError on other text.
std::string doubleText(double value);
double parseDouble(std::string_view text);

} // namespace platform::cloud::server
