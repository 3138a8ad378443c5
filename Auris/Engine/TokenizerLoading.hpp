#pragma once

#include "Auris/Core/ModelTypes.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"
#include "Hub/HubApi.hpp"

#include <filesystem>
#include <memory>
#include <optional>

namespace auris {

// The tokenizer of a model size, always a WhisperTokenizerWrapper: built from the local copy of its
// repository ("models", then the repository id, under the tokenizer folder) when that copy has a
// "tokenizer.json" and builds, otherwise fetched from the hub into that same place, so that later
// loads work offline. Local failures are logged at debug level; only the hub's failure is thrown.
// No tokenizer folder: the hub client's default download base.
std::shared_ptr<const WhisperTokenizer> loadTokenizer(ModelVariant variant,
    const std::optional<std::filesystem::path>& tokenizerFolder = std::nullopt, bool useBackgroundSession = false);

// The same through a given hub client (its download base, endpoint and token).
std::shared_ptr<const WhisperTokenizer> loadTokenizer(ModelVariant variant, const hub::HubApi& hubApi);

} // namespace auris
