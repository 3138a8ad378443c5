#pragma once

#include "platform/ml/programs/kernels/MatrixKernels.hpp"

#include <cstddef>

namespace ml {

// A weight matrix laid out for products with a few vectors at once: its rows in panels of
// panelRows, each panel column after column (the panel's elements of column k side by side), the
// last panel filled up with zero rows. A product then runs as many outputs as a vector register
// holds per weight load, with no sums across a register, and reads each panel once for every
// vector.
struct PanelMatrix {
    static constexpr int panelRows = 16;

    const void* data = nullptr;
    bool isHalf = false;
    int rows = 0;
    int columns = 0;

    static std::size_t bytes(int rows, int columns, bool isHalf)
    {
        const std::size_t panels = (static_cast<std::size_t>(rows) + panelRows - 1) / panelRows;
        return panels * panelRows * static_cast<std::size_t>(columns) * (isHalf ? 2 : 4);
    }
    // Element (row, column), as float.
    float at(int row, int column) const;
};

// Rows [firstRow, firstRow + rows) of `source` as a PanelMatrix at `destination`, which holds
// PanelMatrix::bytes(rows, ...) bytes; the elements keep their type.
PanelMatrix packPanels(const WeightMatrix& source, int firstRow, int rows, void* destination);

// A float32 matrix whose element (r, c) lies at source[r * rowStride + c * columnStride], packed as
// a PanelMatrix of float16 elements (`asHalf`) or float32 at `destination`. Panels
// [firstPanel, endPanel) only, so that several threads can share the work.
PanelMatrix packPanels(const float* source, std::size_t rowStride, std::size_t columnStride, int rows, int columns, bool asHalf,
    void* destination, int firstPanel, int endPanel);

// Inputs and outputs of one product for several vectors: outputs[i][r] = dot(row r of w, inputs[i]).
struct VectorBatch {
    const float* const* inputs = nullptr;
    float* const* outputs = nullptr;
    std::size_t count = 0;
};

// outputs[i][r] = sum over k of w[r][k] * inputs[i][k] (+ bias[r] when given) for rows
// [rowBegin, rowEnd) of every vector of the batch. Each
// output is two running sums, over the even and over the odd columns in order, added at the end:
// the same arithmetic whatever the batch holds and whichever kernel set runs it, so a vector's
// outputs never depend on the others.
void panelProducts(const PanelMatrix& w, const VectorBatch& batch, const float* bias, int rowBegin, int rowEnd);

} // namespace ml
