#pragma once

#include "platform/system/Signposter.hpp"

#include <string>

namespace auris {

// Stage signposters of the expensive pipeline stages, each created once.
platform::Signposter& audioEncodingSignposter();     // "EncodeAudio"
platform::Signposter& featureExtractorSignposter();  // "ExtractAudioFeatures"
platform::Signposter& transcribeTaskSignposter();    // "TranscribeAudio", "Decode"

platform::Signposter::IntervalState beginSignpostInterval(const std::string& name, platform::Signposter& signposter);
void endSignpostInterval(
    const std::string& name, platform::Signposter& signposter, const platform::Signposter::IntervalState& state);

// Ends its interval on every way out of a scope, failures included.
class SignpostInterval {
public:
    SignpostInterval(std::string name, platform::Signposter& signposter)
        : name_(std::move(name))
        , signposter_(signposter)
        , state_(beginSignpostInterval(name_, signposter_))
    {
    }
    ~SignpostInterval() { end(); }
    SignpostInterval(const SignpostInterval&) = delete;
    SignpostInterval& operator=(const SignpostInterval&) = delete;

    void end()
    {
        if (!state_.isEnded()) {
            endSignpostInterval(name_, signposter_, state_);
        }
    }

private:
    std::string name_;
    platform::Signposter& signposter_;
    platform::Signposter::IntervalState state_;
};

} // namespace auris
