#include "platform/ml/ModelDescription.hpp"

#include <algorithm>

namespace ml {

bool FeatureDescription::accepts(const std::vector<int>& candidate) const
{
    if (candidate == shape) {
        return true;
    }
    if (!shapeConstraint) {
        return false;
    }
    switch (shapeConstraint->type) {
    case ShapeConstraint::Type::unspecified:
        return candidate.size() == shape.size();
    case ShapeConstraint::Type::enumerated:
        return std::find(shapeConstraint->enumeratedShapes.begin(), shapeConstraint->enumeratedShapes.end(), candidate)
            != shapeConstraint->enumeratedShapes.end();
    case ShapeConstraint::Type::range: {
        const auto& ranges = shapeConstraint->sizeRangeForDimension;
        if (candidate.size() != ranges.size()) {
            return false;
        }
        for (std::size_t i = 0; i < candidate.size(); ++i) {
            if (candidate[i] < ranges[i].first || (ranges[i].second >= 0 && candidate[i] > ranges[i].second)) {
                return false;
            }
        }
        return true;
    }
    }
    return false;
}

namespace {
const FeatureDescription* findFeature(const std::vector<FeatureDescription>& features, const std::string& name)
{
    auto it = std::find_if(features.begin(), features.end(), [&](const auto& f) { return f.name == name; });
    return it == features.end() ? nullptr : &*it;
}
} // namespace

const FeatureDescription* ModelDescription::input(const std::string& name) const
{
    return findFeature(inputs, name);
}

const FeatureDescription* ModelDescription::output(const std::string& name) const
{
    return findFeature(outputs, name);
}

} // namespace ml
