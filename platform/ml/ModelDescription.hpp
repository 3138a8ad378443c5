#pragma once

#include "platform/ml/MultiArrayDataType.hpp"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ml {

// Which shapes a flexible feature accepts besides its default `shape`.
struct ShapeConstraint {
    enum class Type { unspecified, enumerated, range };
    Type type = Type::unspecified;
    std::vector<std::vector<int>> enumeratedShapes;
    // Per dimension: lowest and highest size; a highest of -1 means unbounded.
    std::vector<std::pair<int, int>> sizeRangeForDimension;
};

struct FeatureDescription {
    std::string name;
    MultiArrayDataType dataType = MultiArrayDataType::float32;
    std::vector<int> shape;
    bool isOptional = false;
    // Absent: only `shape` itself is accepted.
    std::optional<ShapeConstraint> shapeConstraint;

    bool accepts(const std::vector<int>& candidate) const;
};

struct ModelDescription {
    std::vector<FeatureDescription> inputs;
    std::vector<FeatureDescription> outputs;
    std::map<std::string, std::string> metadata;

    const FeatureDescription* input(const std::string& name) const;
    const FeatureDescription* output(const std::string& name) const;
};

} // namespace ml
