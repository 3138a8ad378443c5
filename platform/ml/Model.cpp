#include "platform/ml/Model.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

namespace ml {

namespace {

std::string shapeText(const std::vector<int>& shape)
{
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(shape[i]);
    }
    return text + "]";
}

} // namespace

Model::~Model() = default;

std::shared_ptr<Model> Model::load(const std::filesystem::path& folder, const ModelConfiguration& configuration)
{
    const ModelFolder contents = ModelFolder::open(folder);
    std::shared_ptr<Model> model(new Model());
    model->path_ = folder;
    model->description_ = contents.description();
    model->configuration_ = configuration;
    model->program_ = ProgramRegistry::shared().make(
        contents.program(), ProgramContext {contents, threadCount(configuration.computeUnits), configuration.computeGate});
    return model;
}

DictionaryFeatureProvider Model::prediction(const FeatureProvider& input) const
{
    check(input);
    return program_->predict(input);
}

std::vector<DictionaryFeatureProvider> Model::predictions(std::span<const FeatureProvider* const> inputs) const
{
    for (const FeatureProvider* input : inputs) {
        check(*input);
    }
    return program_->predictBatch(inputs);
}

// Checks each input of a series before its step runs.
class Model::CheckedSeries final : public StepSeries {
public:
    CheckedSeries(const Model& model, StepSeries& series)
        : model_(model)
        , series_(series)
    {
    }
    const FeatureProvider* start() override { return checked(series_.start()); }
    const FeatureProvider* advance(DictionaryFeatureProvider outputs) override
    {
        return checked(series_.advance(std::move(outputs)));
    }

private:
    const FeatureProvider* checked(const FeatureProvider* input) const
    {
        if (input) {
            model_.check(*input);
        }
        return input;
    }
    const Model& model_;
    StepSeries& series_;
};

void Model::runSteps(StepSeries& series) const
{
    CheckedSeries checked(*this, series);
    program_->runSteps(checked);
}

std::size_t Model::batchCapacity() const { return program_->batchCapacity(); }

void Model::check(const FeatureProvider& input) const
{
    for (const auto& feature : description_.inputs) {
        auto value = input.featureValue(feature.name);
        if (!value) {
            if (feature.isOptional) {
                continue;
            }
            throw ModelError(path_.filename().string() + ": input \"" + feature.name + "\" is missing");
        }
        if (value->dataType() != feature.dataType) {
            throw ModelError(path_.filename().string() + ": input \"" + feature.name + "\" must be "
                + std::string(dataTypeName(feature.dataType)) + ", got " + std::string(dataTypeName(value->dataType())));
        }
        if (!feature.accepts(value->shape())) {
            throw ModelError(path_.filename().string() + ": input \"" + feature.name + "\" has shape "
                + shapeText(value->shape()) + ", the model takes " + shapeText(feature.shape));
        }
    }
}

} // namespace ml
