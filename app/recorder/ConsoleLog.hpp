#pragma once

#include <functional>
#include <string>

namespace parlino {

// Where the recorder's console lines go: standard output, one line each, unless a test listens.
// Called from the main thread and from worker threads alike.
using ConsoleLog = std::function<void(const std::string& line)>;

ConsoleLog standardOutputLog();

} // namespace parlino
