#pragma once

#include <string>

namespace platform::cloud {

// Every record of one type in a zone (the original platform's query with the true predicate).
struct Query {
    std::string recordType;
};

} // namespace platform::cloud
