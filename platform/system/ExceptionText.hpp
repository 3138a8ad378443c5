#pragma once

#include <exception>
#include <string>

namespace platform {

// The message a failure carries: what() of a std::exception, "unknown error" for anything else
// and for no failure at all.
std::string exceptionText(const std::exception_ptr& error);

} // namespace platform
