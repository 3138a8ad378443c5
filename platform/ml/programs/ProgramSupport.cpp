#include "platform/ml/programs/ProgramSupport.hpp"

#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <cmath>

namespace ml::programSupport {

namespace {

std::string shapeText(const std::vector<int>& shape)
{
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        text += (i ? ", " : "") + (shape[i] == anySize ? std::string("n") : std::to_string(shape[i]));
    }
    return text + "]";
}

std::string typesText(std::initializer_list<MultiArrayDataType> types)
{
    std::string text;
    for (auto type : types) {
        text += (text.empty() ? "" : " or ") + std::string(dataTypeName(type));
    }
    return text;
}

const FeatureDescription& requireFeature(const ModelFolder& folder, const FeatureDescription* feature, const char* kind,
    const std::string& name, std::initializer_list<MultiArrayDataType> types, const std::vector<int>& shape)
{
    const std::string what = std::string(kind) + " \"" + name + "\"";
    if (!feature) {
        failFolder(folder, "the program needs the " + what);
    }
    bool typeFits = false;
    for (auto type : types) {
        typeFits = typeFits || feature->dataType == type;
    }
    bool shapeFits = feature->shape.size() == shape.size();
    for (std::size_t i = 0; shapeFits && i < shape.size(); ++i) {
        shapeFits = shape[i] == anySize ? feature->shape[i] > 0 : feature->shape[i] == shape[i];
    }
    if (!typeFits || !shapeFits) {
        failFolder(folder, what + " must be " + typesText(types) + " shaped " + shapeText(shape) + ", it is declared "
                + std::string(dataTypeName(feature->dataType)) + " " + shapeText(feature->shape));
    }
    return *feature;
}

} // namespace

void failFolder(const ModelFolder& folder, const std::string& what)
{
    throw ModelError((folder.path() / ModelFolder::descriptionFileName).string() + ": " + what);
}

const FeatureDescription& requireInput(const ModelFolder& folder, const std::string& name,
    std::initializer_list<MultiArrayDataType> types, const std::vector<int>& shape)
{
    return requireFeature(folder, folder.description().input(name), "input", name, types, shape);
}

const FeatureDescription& requireOutput(const ModelFolder& folder, const std::string& name,
    std::initializer_list<MultiArrayDataType> types, const std::vector<int>& shape)
{
    return requireFeature(folder, folder.description().output(name), "output", name, types, shape);
}

int boundedParameter(const ModelFolder& folder, const std::string& name, int minimum, int maximum)
{
    const int value = folder.intParameter(name);
    if (value < minimum || value > maximum) {
        failFolder(folder, "parameter \"" + name + "\" is " + std::to_string(value) + ", outside " + std::to_string(minimum)
                + " to " + std::to_string(maximum));
    }
    return value;
}

WeightMatrix weightMatrix(const MultiArray& tensor)
{
    WeightMatrix matrix;
    matrix.data = tensor.dataPointer();
    matrix.isHalf = tensor.dataType() == MultiArrayDataType::float16;
    matrix.rows = tensor.shape().empty() ? 1 : tensor.shape()[0];
    matrix.columns = matrix.rows == 0 ? 0 : static_cast<int>(tensor.count() / static_cast<std::size_t>(matrix.rows));
    return matrix;
}

std::vector<float> floatTensor(const ModelFolder& folder, const std::string& name, const std::vector<int>& shape)
{
    const MultiArray& tensor = folder.tensor(name, shape);
    std::vector<float> values(tensor.count());
    readFloats(tensor, values.data());
    return values;
}

void readFloats(const MultiArray& array, float* destination)
{
    const bool half = array.dataType() == MultiArrayDataType::float16;
    if (array.isPacked()) {
        if (half) {
            halfToFloat(static_cast<const std::uint16_t*>(array.dataPointer()), destination, array.count());
        } else if (array.dataType() == MultiArrayDataType::float32) {
            const float* source = array.data<float>();
            std::copy(source, source + array.count(), destination);
        } else {
            for (std::size_t i = 0; i < array.count(); ++i) {
                destination[i] = static_cast<float>(array[i]);
            }
        }
        return;
    }
    // Walk the index like an odometer so that strided arrays cost no divisions per element.
    const auto& shape = array.shape();
    const auto& strides = array.strides();
    std::vector<int> index(shape.size(), 0);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < array.count(); ++i) {
        destination[i] = static_cast<float>(array.valueAtOffset(offset));
        for (std::size_t axis = shape.size(); axis-- > 0;) {
            if (++index[axis] < shape[axis]) {
                offset += static_cast<std::size_t>(strides[axis]);
                break;
            }
            offset -= static_cast<std::size_t>(strides[axis]) * static_cast<std::size_t>(shape[axis] - 1);
            index[axis] = 0;
        }
    }
}

void writeFloats(MultiArray& array, const float* source)
{
    if (array.dataType() == MultiArrayDataType::float16) {
        floatToHalf(source, static_cast<std::uint16_t*>(array.dataPointer()), array.count());
    } else {
        std::copy(source, source + array.count(), array.data<float>());
    }
}

std::int32_t readInteger(const MultiArray& array, const std::string& name, const std::string& model)
{
    const double value = array.valueAtOffset(0);
    if (!std::isfinite(value) || value < -2147483648.0 || value > 2147483647.0) {
        throw ModelError(model + ": input \"" + name + "\" holds no integer");
    }
    return static_cast<std::int32_t>(value);
}

} // namespace ml::programSupport
