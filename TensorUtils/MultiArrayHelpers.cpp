#include "TensorUtils/MultiArrayHelpers.hpp"

#include <stdexcept>

namespace tensorutils {

namespace {

std::vector<int> shapeFor(std::size_t count, int dims)
{
    if (dims < 1) {
        throw std::invalid_argument("a multi-array needs at least one dimension");
    }
    if (count > static_cast<std::size_t>(INT32_MAX)) {
        throw std::invalid_argument("too many values for a multi-array");
    }
    std::vector<int> shape(static_cast<std::size_t>(dims), 1);
    shape.back() = static_cast<int>(count);
    return shape;
}

template<typename T, typename Out>
std::vector<Out> elementsOf(const ml::MultiArray& array)
{
    const T* data = array.data<T>();
    std::vector<Out> values(array.count());
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<Out>(data[array.offsetOfLinear(i)]);
    }
    return values;
}

} // namespace

ml::MultiArray multiArrayFrom(const std::vector<int>& values, int dims)
{
    std::vector<std::int32_t> stored(values.begin(), values.end());
    return ml::MultiArray::fromValues<std::int32_t>(shapeFor(values.size(), dims), stored);
}

ml::MultiArray multiArrayFrom(const std::vector<double>& values, int dims)
{
    return ml::MultiArray::fromValues<double>(shapeFor(values.size(), dims), values);
}

std::vector<int> toIntArray(const ml::MultiArray& array)
{
    return elementsOf<std::int32_t, int>(array);
}

std::vector<double> toDoubleArray(const ml::MultiArray& array)
{
    return elementsOf<double, double>(array);
}

std::optional<std::vector<float>> floats(const ml::MultiArray& array)
{
    if (array.isEmpty() || array.dataType() != ml::MultiArrayDataType::float32) {
        return std::nullopt;
    }
    return elementsOf<float, float>(array);
}

ml::MultiArray testTensor(const std::vector<int>& shape)
{
    ml::MultiArray array(shape, ml::MultiArrayDataType::float64);
    double* data = array.data<double>();
    for (std::size_t i = 0; i < array.count(); ++i) {
        data[i] = static_cast<double>(i);
    }
    return array;
}

ml::MultiArray slice(const ml::MultiArray& array, int sliceDim, const std::map<int, int>& selectDims)
{
    const auto& shape = array.shape();
    const int rank = static_cast<int>(shape.size());
    if (sliceDim < 0 || sliceDim >= rank) {
        throw std::invalid_argument("slice dimension outside the array's rank");
    }
    std::vector<int> coordinate(shape.size(), 0);
    for (int d = 0; d < rank; ++d) {
        if (d == sliceDim) {
            continue;
        }
        const auto it = selectDims.find(d);
        if (it == selectDims.end()) {
            throw std::invalid_argument("no selected index for dimension " + std::to_string(d));
        }
        coordinate[static_cast<std::size_t>(d)] = it->second;
    }
    std::vector<int> resultShape(shape.size(), 1);
    resultShape[static_cast<std::size_t>(sliceDim)] = shape[static_cast<std::size_t>(sliceDim)];
    ml::MultiArray result(resultShape, ml::MultiArrayDataType::float64);
    double* out = result.data<double>();
    for (int i = 0; i < shape[static_cast<std::size_t>(sliceDim)]; ++i) {
        coordinate[static_cast<std::size_t>(sliceDim)] = i;
        out[i] = array.value(coordinate); // bounds-checked
    }
    return result;
}

ml::MultiArray slice(const ml::MultiArray& array, const std::vector<Indexing>& indexing)
{
    std::optional<int> sliceDim;
    std::map<int, int> selectDims;
    for (std::size_t d = 0; d < indexing.size(); ++d) {
        if (indexing[d].kind == Indexing::Kind::select) {
            selectDims[static_cast<int>(d)] = indexing[d].index;
        } else if (!sliceDim) {
            sliceDim = static_cast<int>(d);
        }
    }
    if (!sliceDim) {
        throw std::invalid_argument("slicing needs one dimension kept whole");
    }
    return slice(array, *sliceDim, selectDims);
}

} // namespace tensorutils
