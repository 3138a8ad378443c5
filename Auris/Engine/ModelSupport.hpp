#pragma once

#include "Auris/Core/ModelTypes.hpp"

#include <optional>
#include <string>
#include <vector>

namespace auris {

struct ModelSupport {
    std::string defaultModel;
    std::vector<std::string> disabled;
};

// The recommended model and the model folders not to offer on a device (the uname machine name).
ModelSupport modelSupport(const std::string& deviceName);
// The same, with the processor brand text given instead of read from the machine.
ModelSupport modelSupport(const std::string& deviceName, const std::string& processorBrand);

// The model size a loaded folder holds, judged by its vocabulary and encoder widths.
ModelVariant detectModelVariant(int logitsDim, int encoderDim);

// "openai/whisper-" followed by the variant's description.
std::string tokenizerRepositoryName(ModelVariant variant);

// The hub repository of the original checkpoint that a model name stands for: a size ("tiny",
// "large-v3"), a model folder name ("openai_whisper-base.en") or the repository id itself, for every
// size of the model-support lists, the large-v3 turbo ("large-v3_turbo", "large-v3-turbo") and the
// distilled large-v3 ("distil-whisper_distil-large-v3"). Absent for names with no checkpoint of
// their own, such as the size-suffixed quantised folders.
std::optional<std::string> checkpointRepositoryName(const std::string& modelName);
// The model folder a checkpoint is compiled into: its repository id with "_" for "/"
// ("openai/whisper-tiny" gives "openai_whisper-tiny").
std::string compiledModelFolderName(const std::string& checkpointRepository);

} // namespace auris
