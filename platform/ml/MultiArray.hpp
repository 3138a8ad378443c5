#pragma once

#include "platform/ml/Float16.hpp"
#include "platform/ml/MultiArrayDataType.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace ml {

class MultiArrayError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

template<typename T>
constexpr bool isElementType = std::is_same_v<T, Float16> || std::is_same_v<T, float> || std::is_same_v<T, double>
    || std::is_same_v<T, std::int32_t>;

template<typename T>
constexpr MultiArrayDataType dataTypeOf()
{
    static_assert(isElementType<T>);
    if constexpr (std::is_same_v<T, Float16>) return MultiArrayDataType::float16;
    else if constexpr (std::is_same_v<T, float>) return MultiArrayDataType::float32;
    else if constexpr (std::is_same_v<T, double>) return MultiArrayDataType::float64;
    else return MultiArrayDataType::int32;
}

// A typed, strided, n-dimensional array. Copies of the handle share storage, as model inputs and
// outputs do; `copy()` makes an independent packed array.
class MultiArray {
public:
    MultiArray() = default;

    // Packed row-major storage, zero-filled, 64-byte aligned.
    MultiArray(std::vector<int> shape, MultiArrayDataType dataType);

    // Explicit strides (in elements); storage is allocated to cover the largest addressed element.
    MultiArray(std::vector<int> shape, MultiArrayDataType dataType, std::vector<int> strides);

    // A view over storage owned elsewhere (for example mapped weights); `keepAlive` owns it.
    MultiArray(std::shared_ptr<void> keepAlive, void* data, std::vector<int> shape, MultiArrayDataType dataType,
        std::vector<int> strides);

    template<typename T>
    static MultiArray fromValues(std::vector<int> shape, std::span<const T> values)
    {
        MultiArray array(std::move(shape), dataTypeOf<T>());
        if (values.size() != array.count()) {
            throw MultiArrayError("value count does not match the shape");
        }
        std::copy(values.begin(), values.end(), array.data<T>());
        return array;
    }

    bool isEmpty() const { return data_ == nullptr; }
    const std::vector<int>& shape() const { return shape_; }
    const std::vector<int>& strides() const { return strides_; }
    MultiArrayDataType dataType() const { return dataType_; }
    std::size_t count() const { return count_; }
    bool isPacked() const;

    // Raw storage; for strided arrays elements are at offsetOf(index).
    void* dataPointer() const { return data_; }

    template<typename T>
    T* data() const
    {
        if (dataTypeOf<T>() != dataType_) {
            throw MultiArrayError(std::string("multi-array holds ") + std::string(dataTypeName(dataType_))
                + ", not " + std::string(dataTypeName(dataTypeOf<T>())));
        }
        return static_cast<T*>(data_);
    }

    // Storage offset, in elements, of a full index (bounds-checked).
    std::size_t offsetOf(std::span<const int> index) const;
    std::size_t offsetOf(std::initializer_list<int> index) const
    {
        return offsetOf(std::span<const int>(index.begin(), index.size()));
    }
    // Storage offset of the element at a row-major linear position (bounds-checked).
    std::size_t offsetOfLinear(std::size_t linearIndex) const;

    // Element access in float for any element type (integers convert).
    double value(std::span<const int> index) const { return valueAtOffset(offsetOf(index)); }
    double value(std::initializer_list<int> index) const { return valueAtOffset(offsetOf(index)); }
    void setValue(std::span<const int> index, double v) { setValueAtOffset(offsetOf(index), v); }
    void setValue(std::initializer_list<int> index, double v) { setValueAtOffset(offsetOf(index), v); }

    // Row-major logical position, independent of strides.
    double operator[](std::size_t linearIndex) const { return valueAtOffset(offsetOfLinear(linearIndex)); }
    void setLinear(std::size_t linearIndex, double v) { setValueAtOffset(offsetOfLinear(linearIndex), v); }

    double valueAtOffset(std::size_t offset) const;
    void setValueAtOffset(std::size_t offset, double v);

    void fill(double v);
    MultiArray copy() const;
    // All elements in row-major order as floats.
    std::vector<float> toFloats() const;
    // The elements in row-major order as floats, read in place when the storage already is packed
    // float32, otherwise converted into `scratch`. Valid while this array and `scratch` live.
    const float* floatsInPlace(std::vector<float>& scratch) const;

    // Same storage seen with another shape; only for packed arrays with the same element count.
    MultiArray reshaped(std::vector<int> shape) const;

private:
    std::shared_ptr<void> storage_;
    void* data_ = nullptr;
    std::vector<int> shape_;
    std::vector<int> strides_;
    MultiArrayDataType dataType_ = MultiArrayDataType::float32;
    std::size_t count_ = 0;
};

// Row-major strides of a packed array; throws MultiArrayError when one lies past int's range.
std::vector<int> packedStrides(const std::vector<int>& shape);

} // namespace ml
