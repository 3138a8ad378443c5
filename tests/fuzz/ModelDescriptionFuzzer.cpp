// A model folder's description, "model.json", beside a small fixed weight blob: parsed and
// validated by the folder reader, then handed to its program as loading does.

#include "FuzzSupport.hpp"
#include "platform/ml/Model.hpp"
#include "platform/ml/ModelFolder.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto folder = [] {
        const auto path = fuzzsupport::scratchFolder() / "Model.mlmodelc";
        std::filesystem::create_directories(path / "weights");
        // Ramp bytes, so that views into the blob read varied values.
        std::string blob(1 << 16, '\0');
        for (std::size_t i = 0; i < blob.size(); ++i) {
            blob[i] = static_cast<char>((i * 7) & 0x3f);
        }
        fuzzsupport::writeFile(path / ml::ModelFolder::weightFileName, blob);
        return path;
    }();
    fuzzsupport::writeFile(folder / ml::ModelFolder::descriptionFileName,
        std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        ml::ModelFolder::declaredWeightBytes(folder);
    } catch (const std::exception&) {
    }
    try {
        const auto opened = ml::ModelFolder::open(folder);
        for (const auto& name : opened.tensorNames()) {
            const auto& tensor = opened.tensor(name);
            if (tensor.count() > 0) {
                tensor[tensor.count() - 1];
            }
        }
        ml::Model::load(folder, {.computeUnits = ml::ComputeUnits::cpuOnly});
    } catch (const std::exception&) {
    }
    return 0;
}
