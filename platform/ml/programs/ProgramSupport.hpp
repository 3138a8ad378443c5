#pragma once

#include "platform/ml/ModelDescription.hpp"
#include "platform/ml/MultiArray.hpp"
#include "platform/ml/programs/kernels/MatrixKernels.hpp"

#include <initializer_list>
#include <string>
#include <vector>

namespace ml {

class ModelFolder;

// Checks of a model folder against what a program computes, and the moves of feature values
// between multi-arrays and float rows. Every failure is a ModelError naming the folder.
namespace programSupport {

constexpr int anySize = -1;

// The declared input or output with that name, one of the element types and that shape (anySize
// matches every size of its axis).
const FeatureDescription& requireInput(const ModelFolder& folder, const std::string& name,
    std::initializer_list<MultiArrayDataType> types, const std::vector<int>& shape);
const FeatureDescription& requireOutput(const ModelFolder& folder, const std::string& name,
    std::initializer_list<MultiArrayDataType> types, const std::vector<int>& shape);

// An integer parameter within [minimum, maximum].
int boundedParameter(const ModelFolder& folder, const std::string& name, int minimum, int maximum);

[[noreturn]] void failFolder(const ModelFolder& folder, const std::string& what);

// A float16 or float32 weight tensor of exactly that shape, seen as rows x (product of the rest).
WeightMatrix weightMatrix(const MultiArray& tensor);
// A float16 or float32 tensor of that shape copied to float32 (biases, norms, embeddings rows).
std::vector<float> floatTensor(const ModelFolder& folder, const std::string& name, const std::vector<int>& shape);

// All elements of a float16 or float32 array in row-major order, whatever its strides.
void readFloats(const MultiArray& array, float* destination);
// Fills a packed float16 or float32 array from row-major floats.
void writeFloats(MultiArray& array, const float* source);

// The first element of an input as an integer; ModelError when it is not a finite value in range.
std::int32_t readInteger(const MultiArray& array, const std::string& name, const std::string& model);

} // namespace programSupport

} // namespace ml
