#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace auris {

// A monotonic path through a token-by-frame matrix, in rising order. Index -1 can open either list
// where the path runs along the matrix border.
struct AlignmentPath {
    std::vector<int> textIndices;
    std::vector<int> timeIndices;

    friend bool operator==(const AlignmentPath&, const AlignmentPath&) = default;
};

// The step that reached each cell of the warping table: 0 diagonal, 1 up (from the row above),
// 2 left (from the column before), -1 none.
class TraceMatrix {
public:
    static constexpr std::int8_t diagonal = 0;
    static constexpr std::int8_t up = 1;
    static constexpr std::int8_t left = 2;
    static constexpr std::int8_t none = -1;

    TraceMatrix() = default;
    TraceMatrix(std::size_t rows, std::size_t columns, std::int8_t value = none)
        : rows_(rows)
        , columns_(columns)
        , values_(rows * columns, value)
    {
    }

    std::size_t rows() const { return rows_; }
    std::size_t columns() const { return columns_; }
    std::int8_t at(std::size_t row, std::size_t column) const { return values_[row * columns_ + column]; }
    void set(std::size_t row, std::size_t column, std::int8_t value) { values_[row * columns_ + column] = value; }

private:
    std::size_t rows_ = 0;
    std::size_t columns_ = 0;
    std::vector<std::int8_t> values_;
};

} // namespace auris
