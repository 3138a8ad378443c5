#pragma once

#include "platform/ml/Model.hpp"
#include "platform/ml/MultiArray.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace auris {

// A new array of that shape and type with every element set to `initialValue`.
ml::MultiArray makeMultiArray(const std::vector<int>& shape, ml::MultiArrayDataType dataType, double initialValue);

// A float16 array; absent for an empty shape. Its contents are zero; the caller fills it.
std::optional<ml::MultiArray> makeIOSurfaceMultiArray(const std::vector<int>& shape);

// Writes `value` into positions [start, end) of the last axis of a float32 [1, 1, N] array;
// out-of-range bounds are clamped to the axis.
void fillMultiArrayRange(ml::MultiArray& array, int start, int end, float value);

// Length of one axis of the array; 0 when it has fewer axes.
inline int axisLength(const ml::MultiArray& array, std::size_t axis)
{
    return axis < array.shape().size() ? array.shape()[axis] : 0;
}

// Declared size of one axis of a named input or output; absent without a model, feature or axis.
std::optional<int> modelInputDimension(const std::shared_ptr<ml::Model>& model, const std::string& name, int position);
std::optional<int> modelOutputDimension(const std::shared_ptr<ml::Model>& model, const std::string& name, int position);

} // namespace auris
