#include "Auris/Models/DecodingInputs.hpp"

#include <string>

namespace auris {

void DecodingInputs::reset(int prefilledCacheSize, int maxTokenContext)
{
    if (maxTokenContext < 0) {
        throw ml::MultiArrayError("reset: maxTokenContext must not be negative");
    }
    const auto context = static_cast<std::size_t>(maxTokenContext);
    if (decoderKeyPaddingMask.count() < context || kvCacheUpdateMask.count() < context) {
        throw ml::MultiArrayError("reset: the masks hold fewer than " + std::to_string(maxTokenContext) + " positions");
    }
    if (cacheLength.count() < 1) {
        throw ml::MultiArrayError("reset: cacheLength is empty");
    }
    const long long lastPrefilled = static_cast<long long>(prefilledCacheSize) - 1;
    cacheLength.setLinear(0, static_cast<double>(lastPrefilled));
    for (std::size_t i = 0; i < decoderKeyPaddingMask.count(); ++i) {
        decoderKeyPaddingMask.setLinear(i, static_cast<long long>(i) <= lastPrefilled ? 0.0 : -10000.0);
    }
    for (std::size_t i = 0; i < kvCacheUpdateMask.count(); ++i) {
        kvCacheUpdateMask.setLinear(i, static_cast<long long>(i) == lastPrefilled ? 1.0 : 0.0);
    }
}

} // namespace auris
