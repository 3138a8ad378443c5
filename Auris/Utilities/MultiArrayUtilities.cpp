#include "Auris/Utilities/MultiArrayUtilities.hpp"

#include <algorithm>

namespace auris {

ml::MultiArray makeMultiArray(const std::vector<int>& shape, ml::MultiArrayDataType dataType, double initialValue)
{
    ml::MultiArray array(shape, dataType);
    if (initialValue != 0) {
        array.fill(initialValue);
    }
    return array;
}

std::optional<ml::MultiArray> makeIOSurfaceMultiArray(const std::vector<int>& shape)
{
    if (shape.empty()) {
        return std::nullopt;
    }
    try {
        return ml::MultiArray(shape, ml::MultiArrayDataType::float16);
    } catch (const ml::MultiArrayError&) {
        return std::nullopt;
    }
}

void fillMultiArrayRange(ml::MultiArray& array, int start, int end, float value)
{
    if (array.shape().size() != 3 || array.shape()[0] != 1 || array.shape()[1] != 1) {
        throw ml::MultiArrayError("fillMultiArrayRange needs a [1, 1, N] array");
    }
    const int size = array.shape()[2];
    start = std::clamp(start, 0, size);
    end = std::clamp(end, start, size);
    if (start == end) {
        return;
    }
    const int stride = array.strides()[2];
    float* data = array.data<float>();
    if (stride == 1) {
        std::fill(data + start, data + end, value);
        return;
    }
    for (int i = start; i < end; ++i) {
        data[static_cast<std::size_t>(i) * static_cast<std::size_t>(stride)] = value;
    }
}

namespace {
std::optional<int> dimension(const ml::FeatureDescription* feature, int position)
{
    if (!feature || position < 0 || position >= static_cast<int>(feature->shape.size())) {
        return std::nullopt;
    }
    return feature->shape[static_cast<std::size_t>(position)];
}
} // namespace

std::optional<int> modelInputDimension(const std::shared_ptr<ml::Model>& model, const std::string& name, int position)
{
    return model ? dimension(model->modelDescription().input(name), position) : std::nullopt;
}

std::optional<int> modelOutputDimension(const std::shared_ptr<ml::Model>& model, const std::string& name, int position)
{
    return model ? dimension(model->modelDescription().output(name), position) : std::nullopt;
}

} // namespace auris
