#pragma once

#include "platform/ml/MultiArray.hpp"

#include <vector>

namespace auris {

// The decoder's input buffers for one window. Copies share the arrays: the decoder writes them in place.
struct DecodingInputs {
    std::vector<int> initialPrompt;
    ml::MultiArray inputIds;
    ml::MultiArray cacheLength;
    ml::MultiArray keyCache;
    ml::MultiArray valueCache;
    ml::MultiArray alignmentWeights;
    ml::MultiArray kvCacheUpdateMask;
    ml::MultiArray decoderKeyPaddingMask;
    ml::MultiArray prefillKeyCache;
    ml::MultiArray prefillValueCache;

    // Restores the cache length and both masks for a new window: positions before
    // `prefilledCacheSize` are visible, the next write goes to position prefilledCacheSize - 1.
    // Every position of each mask is rewritten, and none past its end; a negative
    // `maxTokenContext`, or masks shorter than it, give ml::MultiArrayError and leave the masks as they were.
    void reset(int prefilledCacheSize, int maxTokenContext);
};

} // namespace auris
