#pragma once

#include "platform/ml/MultiArray.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace auris {

// A packed copy of an array's elements with its shape, converted to one element type.
template<typename T>
    requires(std::is_same_v<T, ml::Float16> || std::is_same_v<T, float> || std::is_same_v<T, std::int32_t>)
struct ShapedArray {
    std::vector<int> shape;
    std::vector<T> scalars;

    ShapedArray() = default;

    ShapedArray(std::vector<int> shape, std::vector<T> scalars)
        : shape(std::move(shape))
        , scalars(std::move(scalars))
    {
        if (elementCount(this->shape) != this->scalars.size()) {
            throw ml::MultiArrayError("shaped array: value count does not match the shape");
        }
    }

    explicit ShapedArray(const ml::MultiArray& array)
        : shape(array.shape())
    {
        scalars.reserve(array.count());
        if constexpr (std::is_same_v<T, std::int32_t>) {
            if (array.dataType() != ml::MultiArrayDataType::int32) {
                throw ml::MultiArrayError("shaped array: an int32 shaped array needs an int32 multi-array");
            }
            for (std::size_t i = 0; i < array.count(); ++i) {
                scalars.push_back(static_cast<std::int32_t>(array[i]));
            }
        } else {
            for (float value : array.toFloats()) {
                scalars.push_back(T(value));
            }
        }
    }

    // A new packed array of the same shape and element type.
    ml::MultiArray multiArray() const
    {
        return ml::MultiArray::fromValues<T>(shape, std::span<const T>(scalars.data(), scalars.size()));
    }

    static std::size_t elementCount(const std::vector<int>& shape)
    {
        std::size_t count = 1;
        for (int size : shape) {
            if (size < 0) {
                throw ml::MultiArrayError("shaped array: negative dimension");
            }
            count *= static_cast<std::size_t>(size);
        }
        return count;
    }
};

} // namespace auris
