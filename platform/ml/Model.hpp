#pragma once

#include "platform/ml/ComputeGate.hpp"
#include "platform/ml/ComputeUnits.hpp"
#include "platform/ml/FeatureProvider.hpp"
#include "platform/ml/ModelDescription.hpp"
#include "platform/ml/StepSeries.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ml {

class Program;

struct ModelConfiguration {
    ComputeUnits computeUnits = ComputeUnits::all;
    // A name for the model chosen by whoever loads it.
    std::optional<std::string> modelDisplayName;
    // Models loaded with the same gate compute their predictions one at a time.
    std::shared_ptr<ComputeGate> computeGate;
};

// A loaded compiled model: its description and the program that computes it.
class Model {
public:
    // Validates the folder and builds its program; throws ModelError with a message naming the file.
    static std::shared_ptr<Model> load(const std::filesystem::path& folder, const ModelConfiguration& configuration = {});

    ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    const ModelDescription& modelDescription() const { return description_; }
    const ModelConfiguration& configuration() const { return configuration_; }
    const std::filesystem::path& path() const { return path_; }

    // Checks every declared input (presence, element type, shape) and returns the outputs.
    // Thread-safe: several predictions may run at once.
    DictionaryFeatureProvider prediction(const FeatureProvider& input) const;
    // Independent predictions computed together where the program can share their work (each
    // result equals its prediction alone), one result per input in order.
    std::vector<DictionaryFeatureProvider> predictions(std::span<const FeatureProvider* const> inputs) const;
    // Runs the series' steps, each input checked as prediction() checks it, and returns when the
    // series ends; rethrows what ended it. Where the program can, each step runs together with
    // those of the series other threads run at the time, and the series' advance() calls run on
    // the program's threads.
    void runSteps(StepSeries& series) const;
    // The most predictions that run together; `predictions` runs more in several groups.
    std::size_t batchCapacity() const;

private:
    class CheckedSeries;
    Model() = default;
    void check(const FeatureProvider& input) const;
    std::filesystem::path path_;
    ModelDescription description_;
    ModelConfiguration configuration_;
    std::unique_ptr<Program> program_;
};

} // namespace ml
