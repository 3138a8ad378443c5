#include "Auris/Models/WhisperMLModel.hpp"

namespace auris {

std::shared_ptr<ml::Model> WhisperMLModel::model() const
{
    std::lock_guard lock(modelMutex_);
    return model_;
}

void WhisperMLModel::setModel(std::shared_ptr<ml::Model> model)
{
    std::lock_guard lock(modelMutex_);
    model_ = std::move(model);
}

void WhisperMLModel::setComputeGate(std::shared_ptr<ml::ComputeGate> gate)
{
    std::lock_guard lock(modelMutex_);
    computeGate_ = std::move(gate);
}

void WhisperMLModel::loadModel(const std::filesystem::path& modelPath, ml::ComputeUnits computeUnits, bool prewarmMode)
{
    std::shared_ptr<ml::ComputeGate> gate;
    {
        std::lock_guard lock(modelMutex_);
        gate = computeGate_;
    }
    auto loaded = ml::Model::load(modelPath, ml::ModelConfiguration {.computeUnits = computeUnits, .computeGate = std::move(gate)});
    setModel(prewarmMode ? nullptr : std::move(loaded));
}

void WhisperMLModel::unloadModel() { setModel(nullptr); }

} // namespace auris
