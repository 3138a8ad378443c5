#pragma once

#include "Auris/Audio/AudioProcessing.hpp"
#include "Auris/Core/ModelTypes.hpp"
#include "Auris/Features/AudioEncoding.hpp"
#include "Auris/Features/FeatureExtracting.hpp"
#include "Auris/Filters/LogitsFiltering.hpp"
#include "Auris/Segments/SegmentSeeking.hpp"
#include "Auris/Text/TextDecoding.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Hub/Progress.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace auris {

// Loads the tokenizer of a model size from a tokenizer folder (absent: the hub client's default
// download base), with or without a background download session.
using TokenizerLoader = std::function<std::shared_ptr<const WhisperTokenizer>(
    ModelVariant variant, const std::optional<std::filesystem::path>& tokenizerFolder, bool useBackgroundSession)>;

// How to create an `Auris` engine. Build with designated initialisers; absent values take the
// engine's defaults.
struct AurisConfig {
    // Model folder name (or an ending of one) in the repository; absent: the recommended default.
    std::optional<std::string> model;
    // Download base of the model download; absent: the hub client's default.
    std::optional<std::filesystem::path> downloadBase;
    // Hub repository id; absent: "aurislabs/auris-coreml".
    std::optional<std::string> modelRepo;
    // A local model folder; when given nothing is downloaded.
    std::optional<std::string> modelFolder;
    // Download base under which tokenizers are kept.
    std::optional<std::filesystem::path> tokenizerFolder;
    std::optional<ModelComputeOptions> computeOptions;

    // Components; absent ones are created new.
    std::shared_ptr<AudioProcessing> audioProcessor;
    std::shared_ptr<FeatureExtracting> featureExtractor;
    std::shared_ptr<AudioEncoding> audioEncoder;
    std::shared_ptr<TextDecoding> textDecoder;
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters;
    std::shared_ptr<SegmentSeeking> segmentSeeker;

    // Whether the engine logs at all, and from which level.
    bool verbose = true;
    Logging::LogLevel logLevel = Logging::LogLevel::info;
    // Prewarm during creation when true.
    std::optional<bool> prewarm;
    // Load during creation when true; absent: load only when `modelFolder` is given.
    std::optional<bool> load;
    // Download the model folder when no `modelFolder` is given.
    bool download = true;
    bool useBackgroundDownloadSession = false;
    // A stop request cancels the model download; creation then fails with modelsUnavailable.
    std::stop_token stopToken;
    // Told the model download's progress as it goes, on the downloading thread.
    std::function<void(const hub::Progress&)> downloadProgress;

    // Where model loading gets its tokenizer; absent: the engine's tokenizer loading.
    TokenizerLoader tokenizerLoader;
};

} // namespace auris
