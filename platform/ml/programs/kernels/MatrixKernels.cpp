#include "platform/ml/programs/kernels/MatrixKernels.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>

namespace ml {

void multiplyTransposed(int m, int n, int k, float alpha, const float* a, int lda, const float* b, int ldb, float beta,
    float* c, int ldc)
{
    if (m <= 0 || n <= 0) {
        return;
    }
    const PackedOperand packed(activeKernelSet(), GemmOperand {b, false, true, ldb}, n, k);
    gemm(nullptr, m, n, k, alpha, a, lda, packed, beta, c, ldc);
}

void multiply(int m, int n, int k, float alpha, const float* a, int lda, const float* b, int ldb, float beta, float* c,
    int ldc)
{
    if (m <= 0 || n <= 0) {
        return;
    }
    const PackedOperand packed(activeKernelSet(), GemmOperand {b, false, false, ldb}, n, k);
    gemm(nullptr, m, n, k, alpha, a, lda, packed, beta, c, ldc);
}

void parallelMultiply(ThreadPool& pool, bool transposedB, int m, int n, int k, float alpha, const float* a, int lda,
    const float* b, int ldb, float beta, float* c, int ldc, const TileEpilogue& epilogue, BufferPool* buffers)
{
    if (m <= 0 || n <= 0) {
        return;
    }
    const PackedOperand packed(activeKernelSet(), GemmOperand {b, false, transposedB, ldb}, n, k, &pool, buffers);
    gemm(&pool, m, n, k, alpha, a, lda, packed, beta, c, ldc, epilogue);
}

} // namespace ml
