#pragma once

#include "platform/ml/ComputeGate.hpp"
#include "platform/ml/FeatureProvider.hpp"
#include "platform/ml/StepSeries.hpp"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace ml {

class ModelFolder;

// What a model computes. A program is built once per loaded model from its folder (validating
// weights and parameters there) and then answers predictions, possibly from several threads.
class Program {
public:
    virtual ~Program() = default;
    // Inputs have already been checked against the model description.
    virtual DictionaryFeatureProvider predict(const FeatureProvider& inputs) const = 0;
    // Several independent predictions at once, one result per input in order; a program that can
    // share work between them overrides this.
    virtual std::vector<DictionaryFeatureProvider> predictBatch(std::span<const FeatureProvider* const> inputs) const
    {
        std::vector<DictionaryFeatureProvider> results;
        for (const FeatureProvider* input : inputs) {
            results.push_back(predict(*input));
        }
        return results;
    }
    // See Model::runSteps; a program that can share the work of several series overrides this.
    virtual void runSteps(StepSeries& series) const
    {
        for (const FeatureProvider* input = series.start(); input;) {
            input = series.advance(predict(*input));
        }
    }
    // See Model::batchCapacity.
    virtual std::size_t batchCapacity() const { return 1; }
};

struct ProgramContext {
    const ModelFolder& folder;
    int threadCount = 1;
    // Held while a prediction computes, when given.
    std::shared_ptr<ComputeGate> gate;
};

using ProgramFactory = std::function<std::unique_ptr<Program>(const ProgramContext&)>;

// Programs by the name a model folder gives; the built-in ones are present from the start.
class ProgramRegistry {
public:
    static ProgramRegistry& shared();

    void add(const std::string& name, ProgramFactory factory);
    // Throws ModelError when no program of that name exists.
    std::unique_ptr<Program> make(const std::string& name, const ProgramContext& context) const;
    bool contains(const std::string& name) const;

private:
    ProgramRegistry();
    mutable std::mutex mutex_;
    std::map<std::string, ProgramFactory> factories_;
};

// Adds the programs this build ships; called once by the registry.
void registerBuiltinPrograms(ProgramRegistry& registry);

} // namespace ml
