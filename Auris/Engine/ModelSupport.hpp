#pragma once

#include "Auris/Core/ModelTypes.hpp"

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

} // namespace auris
