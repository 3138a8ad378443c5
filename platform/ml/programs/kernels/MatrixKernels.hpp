#pragma once

#include "platform/ml/programs/kernels/Gemm.hpp"

#include <cstddef>
#include <cstdint>

namespace ml {

class BufferPool;
class ThreadPool;

// A row-major weight matrix as stored in a model folder: float32 or float16 elements, one row per
// output of a linear layer.
struct WeightMatrix {
    const void* data = nullptr;
    bool isHalf = false;
    int rows = 0;
    int columns = 0;

    const float* floatRow(int row) const
    {
        return static_cast<const float*>(data) + static_cast<std::size_t>(row) * static_cast<std::size_t>(columns);
    }
    const std::uint16_t* halfRow(int row) const
    {
        return static_cast<const std::uint16_t*>(data) + static_cast<std::size_t>(row) * static_cast<std::size_t>(columns);
    }
};

// Products through gemm() with this processor's kernel set (see Gemm.hpp); the matrices are
// float32 only, packed anew on every call.

// C[m x n] = alpha * A[m x k] * B[n x k]^T + beta * C, row-major with leading dimensions, on the
// calling thread.
void multiplyTransposed(int m, int n, int k, float alpha, const float* a, int lda, const float* b, int ldb, float beta,
    float* c, int ldc);

// C[m x n] = alpha * A[m x k] * B[k x n] + beta * C, row-major, on the calling thread.
void multiply(int m, int n, int k, float alpha, const float* a, int lda, const float* b, int ldb, float beta, float* c,
    int ldc);

// C = alpha * A * op(B) + beta * C with op(B) = B^T for a [n x k] B when `transposedB`, else a
// [k x n] B; spread over the pool in tiles. B's packing comes from `buffers` when given.
void parallelMultiply(ThreadPool& pool, bool transposedB, int m, int n, int k, float alpha, const float* a, int lda,
    const float* b, int ldb, float beta, float* c, int ldc, const TileEpilogue& epilogue = {}, BufferPool* buffers = nullptr);

} // namespace ml
