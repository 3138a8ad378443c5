#pragma once

#include "Auris/Features/AudioEncoder.hpp"
#include "Auris/Features/FeatureExtractor.hpp"
#include "Auris/Text/DecoderFixtures.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

#include "support/TemporaryDirectory.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A tiny stand-in for the speech models, loaded through the real runtime: the "mel" stage measures
// the loudness of each second of the window, the "encoder" passes it on, and a test's decoder
// turns the loud stretches into scripted tokens.
namespace loudness {

constexpr int seconds = 30;
constexpr float voiced = 0.02f;
constexpr int embedDim = 2;
constexpr int vocabulary = ids::timeBegin + 1501;

inline int timestampToken(int second) { return ids::timeBegin + second * 50; }

// A stretch of loud seconds [start, end) and the loudness of its loudest second.
struct Stretch {
    int start;
    int end;
    float loudest;
};

// The loud stretches of the window the encoder output describes.
std::vector<Stretch> stretches(const ml::FeatureProvider& decoderInputs);
// The word a stretch speaks: quiet "a", louder "b", loudest "c".
int wordFor(const Stretch& stretch);
// The decoder's answer at this step: `tokens` follow the three-token prompt, then the end token.
ml::DictionaryFeatureProvider scriptedStep(const ml::FeatureProvider& decoderInputs, const std::vector<int>& tokens);

// Writes a model folder served by `ProgramType` under the registry name `program`.
template<typename ProgramType>
std::filesystem::path writeModel(const TemporaryDirectory& dir, const std::string& folderName,
    const std::string& program, ml::ModelDescription description)
{
    ml::ProgramRegistry::shared().add(program, [](const ml::ProgramContext&) { return std::make_unique<ProgramType>(); });
    const auto folder = dir / folderName;
    ml::ModelFolderWriter(program, nlohmann::json::object(), std::move(description)).write(folder);
    return folder;
}

// Loads the loudness "mel" and pass-on "encoder" into the given wrappers.
void loadFrontEnd(const TemporaryDirectory& dir, auris::FeatureExtractor& featureExtractor, auris::AudioEncoder& audioEncoder);
// The decoder's model description for a key-value cache of `sequenceLength` positions.
ml::ModelDescription decoderDescription(int sequenceLength);

} // namespace loudness

} // namespace testsupport
