#pragma once

#include "Auris/Core/ModelTypes.hpp"
#include "platform/ml/ComputeUnits.hpp"
#include "platform/ml/Model.hpp"

#include <filesystem>
#include <memory>
#include <mutex>

namespace auris {

// A wrapper around one compiled model. Reads and writes of `model` are exclusive, so a prediction
// may read it while another thread unloads; the reader keeps its own reference.
class WhisperMLModel {
public:
    virtual ~WhisperMLModel() = default;

    virtual std::shared_ptr<ml::Model> model() const;
    virtual void setModel(std::shared_ptr<ml::Model> model);

    // Loads the compiled model folder with the given compute units. With `prewarmMode` the loaded
    // model is dropped at once and `model` becomes empty: the load only served to specialise it.
    // A load error is thrown unchanged and leaves `model` as it was.
    virtual void loadModel(const std::filesystem::path& modelPath, ml::ComputeUnits computeUnits, bool prewarmMode);
    virtual void unloadModel();

    ModelState modelState() const { return model() ? ModelState::loaded : ModelState::unloaded; }

    // Models loaded from then on compute one at a time with every other model of the gate.
    void setComputeGate(std::shared_ptr<ml::ComputeGate> gate);

private:
    mutable std::mutex modelMutex_;
    std::shared_ptr<ml::Model> model_;
    std::shared_ptr<ml::ComputeGate> computeGate_;
};

} // namespace auris
