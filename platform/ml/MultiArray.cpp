#include "platform/ml/MultiArray.hpp"

#include "platform/ml/AlignedMemory.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ml {

namespace {

constexpr std::size_t storageAlignment = 64;

std::size_t checkedCount(const std::vector<int>& shape)
{
    std::size_t count = 1;
    for (int dimension : shape) {
        if (dimension < 0) {
            throw MultiArrayError("multi-array shape has a negative dimension");
        }
        if (dimension != 0 && count > std::numeric_limits<std::size_t>::max() / static_cast<std::size_t>(dimension)) {
            throw MultiArrayError("multi-array shape is too large");
        }
        count *= static_cast<std::size_t>(dimension);
    }
    return count;
}

std::shared_ptr<void> allocateZeroed(std::size_t bytes)
{
    const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + storageAlignment - 1) / storageAlignment * storageAlignment;
    void* memory = nullptr;
    try {
        memory = AlignedMemory::allocateZeroed(rounded, storageAlignment);
    } catch (const std::bad_alloc&) {
        throw MultiArrayError("multi-array allocation failed");
    }
    return std::shared_ptr<void>(memory, [rounded](void* p) { AlignedMemory::release(p, rounded); });
}

} // namespace

std::vector<int> packedStrides(const std::vector<int>& shape)
{
    std::vector<int> strides(shape.size(), 1);
    int stride = 1;
    for (std::size_t i = shape.size(); i-- > 0;) {
        strides[i] = stride;
        if (i == 0) {
            break;
        }
        // A zero-sized array holds nothing, yet its other dimensions still set the strides.
        const int dimension = std::max(shape[i], 1);
        if (stride > std::numeric_limits<int>::max() / dimension) {
            throw MultiArrayError("multi-array shape is too large");
        }
        stride *= dimension;
    }
    return strides;
}

MultiArray::MultiArray(std::vector<int> shape, MultiArrayDataType dataType)
    : MultiArray(shape, dataType, packedStrides(shape))
{
}

MultiArray::MultiArray(std::vector<int> shape, MultiArrayDataType dataType, std::vector<int> strides)
    : shape_(std::move(shape))
    , strides_(std::move(strides))
    , dataType_(dataType)
{
    if (strides_.size() != shape_.size()) {
        throw MultiArrayError("multi-array strides do not match its shape");
    }
    count_ = checkedCount(shape_);
    std::size_t span = count_ == 0 ? 0 : 1;
    for (std::size_t i = 0; i < shape_.size() && count_ != 0; ++i) {
        if (strides_[i] < 0) {
            throw MultiArrayError("multi-array strides must not be negative");
        }
        span += static_cast<std::size_t>(shape_[i] - 1) * static_cast<std::size_t>(strides_[i]);
    }
    storage_ = allocateZeroed(span * elementSize(dataType_));
    data_ = storage_.get();
}

MultiArray::MultiArray(std::shared_ptr<void> keepAlive, void* data, std::vector<int> shape, MultiArrayDataType dataType,
    std::vector<int> strides)
    : storage_(std::move(keepAlive))
    , data_(data)
    , shape_(std::move(shape))
    , strides_(std::move(strides))
    , dataType_(dataType)
{
    if (strides_.size() != shape_.size()) {
        throw MultiArrayError("multi-array strides do not match its shape");
    }
    count_ = checkedCount(shape_);
}

bool MultiArray::isPacked() const
{
    return strides_ == packedStrides(shape_);
}

std::size_t MultiArray::offsetOf(std::span<const int> index) const
{
    if (index.size() != shape_.size()) {
        throw MultiArrayError("multi-array index has " + std::to_string(index.size()) + " axes, the array has "
            + std::to_string(shape_.size()));
    }
    std::size_t offset = 0;
    for (std::size_t axis = 0; axis < index.size(); ++axis) {
        if (index[axis] < 0 || index[axis] >= shape_[axis]) {
            throw MultiArrayError("multi-array index " + std::to_string(index[axis]) + " is outside axis "
                + std::to_string(axis) + " of size " + std::to_string(shape_[axis]));
        }
        offset += static_cast<std::size_t>(index[axis]) * static_cast<std::size_t>(strides_[axis]);
    }
    return offset;
}

std::size_t MultiArray::offsetOfLinear(std::size_t linearIndex) const
{
    if (linearIndex >= count_) {
        throw MultiArrayError("multi-array position " + std::to_string(linearIndex) + " is outside its "
            + std::to_string(count_) + " elements");
    }
    std::size_t offset = 0;
    for (std::size_t axis = shape_.size(); axis-- > 0;) {
        const auto size = static_cast<std::size_t>(shape_[axis]);
        offset += (linearIndex % size) * static_cast<std::size_t>(strides_[axis]);
        linearIndex /= size;
    }
    return offset;
}

double MultiArray::valueAtOffset(std::size_t offset) const
{
    switch (dataType_) {
    case MultiArrayDataType::float16: return static_cast<float>(static_cast<const Float16*>(data_)[offset]);
    case MultiArrayDataType::float32: return static_cast<const float*>(data_)[offset];
    case MultiArrayDataType::float64: return static_cast<const double*>(data_)[offset];
    case MultiArrayDataType::int32: return static_cast<const std::int32_t*>(data_)[offset];
    }
    return 0;
}

void MultiArray::setValueAtOffset(std::size_t offset, double v)
{
    switch (dataType_) {
    case MultiArrayDataType::float16: static_cast<Float16*>(data_)[offset] = Float16(static_cast<float>(v)); break;
    case MultiArrayDataType::float32: static_cast<float*>(data_)[offset] = static_cast<float>(v); break;
    case MultiArrayDataType::float64: static_cast<double*>(data_)[offset] = v; break;
    case MultiArrayDataType::int32: {
        // Saturate instead of converting out-of-range values, which is undefined.
        double clamped = std::isnan(v) ? 0.0 : std::trunc(v);
        clamped = std::min<double>(std::max<double>(clamped, std::numeric_limits<std::int32_t>::min()),
            std::numeric_limits<std::int32_t>::max());
        static_cast<std::int32_t*>(data_)[offset] = static_cast<std::int32_t>(clamped);
        break;
    }
    }
}

void MultiArray::fill(double v)
{
    if (count_ == 0) {
        return;
    }
    if (isPacked()) {
        switch (dataType_) {
        case MultiArrayDataType::float16: std::fill_n(static_cast<Float16*>(data_), count_, Float16(static_cast<float>(v))); return;
        case MultiArrayDataType::float32: std::fill_n(static_cast<float*>(data_), count_, static_cast<float>(v)); return;
        case MultiArrayDataType::float64: std::fill_n(static_cast<double*>(data_), count_, v); return;
        case MultiArrayDataType::int32: break;
        }
    }
    for (std::size_t i = 0; i < count_; ++i) {
        setValueAtOffset(offsetOfLinear(i), v);
    }
}

MultiArray MultiArray::copy() const
{
    MultiArray result(shape_, dataType_);
    const std::size_t size = elementSize(dataType_);
    if (isPacked()) {
        if (count_ != 0) {
            std::memcpy(result.data_, data_, count_ * size);
        }
        return result;
    }
    auto* destination = static_cast<unsigned char*>(result.data_);
    const auto* source = static_cast<const unsigned char*>(data_);
    for (std::size_t i = 0; i < count_; ++i) {
        std::memcpy(destination + i * size, source + offsetOfLinear(i) * size, size);
    }
    return result;
}

const float* MultiArray::floatsInPlace(std::vector<float>& scratch) const
{
    if (dataType_ == MultiArrayDataType::float32 && isPacked()) {
        return static_cast<const float*>(data_);
    }
    scratch = toFloats();
    return scratch.data();
}

std::vector<float> MultiArray::toFloats() const
{
    std::vector<float> values(count_);
    if (count_ != 0 && isPacked()) {
        // Logits and caches are read every decoding step: convert straight from storage.
        switch (dataType_) {
        case MultiArrayDataType::float16: {
            const auto* source = static_cast<const Float16*>(data_);
            for (std::size_t i = 0; i < count_; ++i) {
                values[i] = Float16::toFloat(source[i].bits());
            }
            return values;
        }
        case MultiArrayDataType::float32:
            std::memcpy(values.data(), data_, count_ * sizeof(float));
            return values;
        case MultiArrayDataType::float64:
            std::copy_n(static_cast<const double*>(data_), count_, values.begin());
            return values;
        case MultiArrayDataType::int32:
            std::copy_n(static_cast<const std::int32_t*>(data_), count_, values.begin());
            return values;
        }
    }
    for (std::size_t i = 0; i < count_; ++i) {
        values[i] = static_cast<float>(valueAtOffset(offsetOfLinear(i)));
    }
    return values;
}

MultiArray MultiArray::reshaped(std::vector<int> shape) const
{
    if (!isPacked() || checkedCount(shape) != count_) {
        throw MultiArrayError("multi-array cannot be reshaped to that shape");
    }
    MultiArray view = *this;
    view.strides_ = packedStrides(shape);
    view.shape_ = std::move(shape);
    return view;
}

} // namespace ml
