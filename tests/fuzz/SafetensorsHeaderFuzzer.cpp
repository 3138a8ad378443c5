// A ".safetensors" checkpoint: the header is checked on opening, each float tensor is read, and
// the converter infers a model's shape from the tensor names and shapes as it does before writing.

#include "FuzzSupport.hpp"
#include "platform/ml/compiler/CheckpointConverter.hpp"
#include "platform/ml/compiler/SafetensorsFile.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = fuzzsupport::scratchFolder() / "checkpoint";
    std::filesystem::create_directories(folder);
    const auto file = folder / "model.safetensors";
    fuzzsupport::writeFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        const ml::SafetensorsFile opened(file);
        for (const auto& [name, entry] : opened.entries()) {
            if (ml::SafetensorsFile::isFloatType(entry.dtype)) {
                opened.floats(name);
            }
        }
    } catch (const std::exception&) {
    }
    try {
        const ml::CheckpointConverter converter(file, {});
        converter.shape().validate();
    } catch (const std::exception&) {
    }
    return 0;
}
