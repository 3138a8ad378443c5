#pragma once

#include "Auris/Features/AudioEncoder.hpp"
#include "Auris/Features/FeatureExtractor.hpp"
#include "Auris/Text/TextDecoder.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"
#include "platform/ml/compiler/WhisperShape.hpp"

#include "support/TemporaryDirectory.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace testsupport {

// A Whisper model set run by the real programs: seeded random weights, the engine's real window
// (30 s, 3000 mel frames, 1500 encoder positions) but a tiny width and depth, with a Whisper-style
// byte-level tokenizer whose control tokens follow its text tokens, so that every id the model can
// produce is a token. Written once per test process into a temporary folder.
class SyntheticWhisper {
public:
    static const SyntheticWhisper& shared();

    const ml::WhisperShape& shape() const { return shape_; }
    const std::filesystem::path& modelFolder() const { return modelFolder_; }
    const std::shared_ptr<const auris::WhisperTokenizer>& tokenizer() const { return tokenizer_; }

    // Fresh engine objects over the shared folders, on the CPU; the decoder is multilingual, knows
    // the tokenizer and hands its progress over on the decoding thread.
    struct Pipeline {
        std::shared_ptr<auris::FeatureExtractor> featureExtractor;
        std::shared_ptr<auris::AudioEncoder> audioEncoder;
        std::shared_ptr<auris::TextDecoder> textDecoder;
    };
    Pipeline load() const;

    SyntheticWhisper(const SyntheticWhisper&) = delete;
    SyntheticWhisper& operator=(const SyntheticWhisper&) = delete;

private:
    SyntheticWhisper();

    TemporaryDirectory directory_;
    ml::WhisperShape shape_;
    std::filesystem::path modelFolder_;
    std::shared_ptr<const auris::WhisperTokenizer> tokenizer_;
};

// `seconds` of 16 kHz audio that changes every half second among tones of several pitches and
// loudness, seeded noise and silence: the same samples on every run.
std::vector<float> generatedSoundscape(double seconds, std::uint32_t seed = 7);

} // namespace testsupport
