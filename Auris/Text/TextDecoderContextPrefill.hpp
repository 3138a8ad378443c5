#pragma once

#include "Auris/Models/WhisperMLModel.hpp"

namespace auris {

// The cache-prefill model ("TextDecoderContextPrefill.mlmodelc"): task and language in, the
// prompt's key and value cache positions out.
class TextDecoderContextPrefill : public WhisperMLModel {
public:
    static constexpr const char* modelFileName = "TextDecoderContextPrefill.mlmodelc";
};

} // namespace auris
