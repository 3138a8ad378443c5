#pragma once

#include "Auris/Utilities/Signposts.hpp"
#include "platform/system/Signposter.hpp"

#include <string>
#include <vector>

namespace testsupport {

// Records one signposter's events for a test.
class SignpostRecording {
public:
    explicit SignpostRecording(platform::Signposter& signposter = auris::transcribeTaskSignposter())
        : signposter_(signposter)
    {
        signposter_.setEnabled(true);
        signposter_.clear();
    }
    ~SignpostRecording() { signposter_.setEnabled(false); }
    SignpostRecording(const SignpostRecording&) = delete;
    SignpostRecording& operator=(const SignpostRecording&) = delete;

    std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const auto& event : signposter_.events()) {
            names.push_back((event.kind == platform::Signposter::Event::Kind::begin ? "begin " : "end ") + event.name);
        }
        return names;
    }
    long open() const { return signposter_.openIntervalCount(); }

private:
    platform::Signposter& signposter_;
};

} // namespace testsupport
