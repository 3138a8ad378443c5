#pragma once

#include "platform/ml/MultiArray.hpp"

#include <map>
#include <optional>
#include <vector>

namespace tensorutils {

// One entry per dimension for slicing: a fixed index, or the dimension that is kept whole.
struct Indexing {
    enum class Kind { select, slice };
    Kind kind = Kind::slice;
    int index = 0;

    static Indexing select(int index) { return {Kind::select, index}; }
    static Indexing slice() { return {Kind::slice, 0}; }
    friend bool operator==(const Indexing&, const Indexing&) = default;
};

// A multi-array of `dims` dimensions, all 1 except the last, which holds the values: int32 from
// integers, float64 from doubles. `dims` must be at least 1 (std::invalid_argument otherwise).
ml::MultiArray multiArrayFrom(const std::vector<int>& values, int dims = 1);
ml::MultiArray multiArrayFrom(const std::vector<double>& values, int dims = 1);

// The elements in row-major order; the array must hold int32 (or float64) values.
std::vector<int> toIntArray(const ml::MultiArray& array);
std::vector<double> toDoubleArray(const ml::MultiArray& array);
// float32 arrays only; none for any other element type.
std::optional<std::vector<float>> floats(const ml::MultiArray& array);

// A float64 array whose element i (row-major) is i.
ml::MultiArray testTensor(const std::vector<int>& shape);

// Keeps `sliceDim` whole and picks `selectDims[d]` along every other dimension d; the result has the
// input's rank with size 1 everywhere but `sliceDim`, as float64.
ml::MultiArray slice(const ml::MultiArray& array, int sliceDim, const std::map<int, int>& selectDims);
ml::MultiArray slice(const ml::MultiArray& array, const std::vector<Indexing>& indexing);

} // namespace tensorutils
