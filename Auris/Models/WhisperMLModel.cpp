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

void WhisperMLModel::loadModel(const std::filesystem::path& modelPath, ml::ComputeUnits computeUnits, bool prewarmMode)
{
    auto loaded = ml::Model::load(modelPath, ml::ModelConfiguration {computeUnits});
    setModel(prewarmMode ? nullptr : std::move(loaded));
}

void WhisperMLModel::unloadModel() { setModel(nullptr); }

} // namespace auris
