#include "Auris/Utilities/Signposts.hpp"

namespace auris {

namespace {
constexpr const char* stageSubsystem = "com.aurislabs.auris";
}

platform::Signposter& audioEncodingSignposter()
{
    static platform::Signposter signposter(stageSubsystem, "AudioEncoding");
    return signposter;
}

platform::Signposter& featureExtractorSignposter()
{
    static platform::Signposter signposter(stageSubsystem, "FeatureExtractor");
    return signposter;
}

platform::Signposter& transcribeTaskSignposter()
{
    static platform::Signposter signposter(stageSubsystem, "TranscribeTask");
    return signposter;
}

platform::Signposter::IntervalState beginSignpostInterval(const std::string& name, platform::Signposter& signposter)
{
    return signposter.beginInterval(name);
}

void endSignpostInterval(
    const std::string& name, platform::Signposter& signposter, const platform::Signposter::IntervalState& state)
{
    signposter.endInterval(name, state);
}

} // namespace auris
