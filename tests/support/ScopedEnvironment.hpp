#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

// Sets (or, given no value, removes) an environment variable for one scope, then restores it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const char* value)
        : name_(std::move(name))
    {
        if (const char* old = std::getenv(name_.c_str())) {
            old_ = old;
        }
        value ? ::setenv(name_.c_str(), value, 1) : ::unsetenv(name_.c_str());
    }
    ScopedEnvironment(std::string name, const std::string& value)
        : ScopedEnvironment(std::move(name), value.c_str())
    {
    }
    ~ScopedEnvironment() { old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str()); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace testsupport
