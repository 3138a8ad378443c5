#include "platform/ml/Float16.hpp"
#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/Gemm.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <vector>

using namespace ml;

namespace {

std::vector<KernelSet> runnableSets()
{
    std::vector<KernelSet> sets;
    for (KernelSet set : {KernelSet::portable, KernelSet::avx2, KernelSet::avx512}) {
        if (supportsKernelSet(set)) {
            sets.push_back(set);
        }
    }
    return sets;
}

std::vector<float> randomValues(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> values(count);
    for (float& v : values) {
        v = uniform(generator);
    }
    return values;
}

// B as a test holds it: logically [n x k] (element (j, kk)), stored transposed ([n][ld]) or
// straight ([k][ld]), float32 or float16; `values` are the logical elements after any rounding.
struct Operand {
    std::vector<float> values;
    std::vector<float> floats;
    std::vector<std::uint16_t> halves;
    GemmOperand operand;

    Operand(int n, int k, bool transposed, bool half, int padding, unsigned seed)
    {
        values = randomValues(static_cast<std::size_t>(n) * static_cast<std::size_t>(k), seed);
        const int ld = (transposed ? k : n) + padding;
        const std::size_t stored = static_cast<std::size_t>(transposed ? n : k) * static_cast<std::size_t>(ld);
        floats.assign(stored, std::numeric_limits<float>::quiet_NaN());
        halves.assign(stored, Float16::fromFloat(std::numeric_limits<float>::quiet_NaN()));
        for (int j = 0; j < n; ++j) {
            for (int kk = 0; kk < k; ++kk) {
                float& value = values[static_cast<std::size_t>(j) * static_cast<std::size_t>(k) + static_cast<std::size_t>(kk)];
                const std::size_t at = transposed ? static_cast<std::size_t>(j) * ld + kk : static_cast<std::size_t>(kk) * ld + j;
                if (half) {
                    halves[at] = Float16::fromFloat(value);
                    value = Float16::toFloat(halves[at]);
                } else {
                    floats[at] = value;
                }
            }
        }
        operand = {half ? static_cast<const void*>(halves.data()) : floats.data(), half, transposed, ld};
    }
};

// C = alpha * A * B^T + beta * C0 in double, A rows `lda` apart.
std::vector<double> reference(int m, int n, int k, float alpha, const std::vector<float>& a, int lda,
    const std::vector<float>& b, float beta, const std::vector<float>& c0, int ldc)
{
    std::vector<double> c(c0.begin(), c0.end());
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < n; ++j) {
            double sum = 0;
            for (int kk = 0; kk < k; ++kk) {
                sum += static_cast<double>(a[static_cast<std::size_t>(i) * lda + kk]) * b[static_cast<std::size_t>(j) * k + kk];
            }
            double& out = c[static_cast<std::size_t>(i) * ldc + j];
            out = alpha * sum + (beta == 0.0f ? 0.0 : beta * out);
        }
    }
    return c;
}

void expectNear(const std::vector<float>& actual, const std::vector<double>& expected, int k, const std::string& what)
{
    ASSERT_EQ(actual.size(), expected.size());
    const double tolerance = 2e-6 * (k + 1);
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (!(std::abs(actual[i] - expected[i]) <= tolerance * std::max(1.0, std::abs(expected[i])))) {
            ADD_FAILURE() << what << ": element " << i << " is " << actual[i] << ", expected " << expected[i];
            return;
        }
    }
}

} // namespace

TEST(Gemm, EverySetMatchesThePlainProductOverOddSizesLayoutsAndTails)
{
    ThreadPool pool(4);
    // Sizes around the micro-kernels' blocks (14 and 6 rows, 32 and 16 columns, 256 deep).
    const int ms[] = {1, 5, 14, 15, 29};
    const int ns[] = {1, 7, 16, 33, 70};
    const int ks[] = {0, 1, 9, 300};
    unsigned seed = 1;
    for (KernelSet set : runnableSets()) {
        for (int m : ms) {
            for (int n : ns) {
                for (int k : ks) {
                    // Variants 4 and 5 keep float16 panels.
                    for (int variant = 0; variant < 6; ++variant) {
                        const bool transposed = variant % 2 == 0;
                        const bool half = variant >= 2;
                        const bool kept = variant >= 4;
                        const Operand b(n, k, transposed, half, variant, ++seed);
                        const int lda = k + 3;
                        const int ldc = n + 2;
                        const auto a = randomValues(static_cast<std::size_t>(m) * lda, ++seed);
                        const auto c0 = randomValues(static_cast<std::size_t>(m) * ldc, ++seed);
                        const float alpha = variant == 1 ? 0.5f : 1.0f;
                        const float beta = variant == 0 ? 0.0f : variant == 3 ? 0.25f : 1.0f;
                        const std::string what = std::string(kernelSetName(set)) + " m " + std::to_string(m) + " n "
                            + std::to_string(n) + " k " + std::to_string(k) + " variant " + std::to_string(variant);
                        const PackedOperand packed = kept
                            ? PackedOperand::keepingPrecision(set, {b.operand}, {n}, k, variant == 4 ? &pool : nullptr)
                            : PackedOperand(set, b.operand, n, k, variant % 3 == 0 ? &pool : nullptr);
                        EXPECT_EQ(packed.kernelSet(), set);
                        EXPECT_EQ(packed.halfPanels(), kept && set != KernelSet::portable);
                        std::vector<float> c = c0;
                        if (beta == 0.0f) {
                            // Never read: garbage there must not show through.
                            for (int i = 0; i < m; ++i) {
                                std::fill_n(c.begin() + static_cast<long>(i) * ldc, n, std::numeric_limits<float>::quiet_NaN());
                            }
                        }
                        gemm(variant < 2 || variant == 4 ? &pool : nullptr, m, n, k, alpha, a.data(), lda, packed, beta, c.data(), ldc);
                        expectNear(c, reference(m, n, k, alpha, a, lda, b.values, beta, c0, ldc), k, what);
                        if (testing::Test::HasFailure()) {
                            return;
                        }
                    }
                }
            }
        }
    }
}

TEST(Gemm, OverlappingAndCacheCrowdingRowsAndStackedParts)
{
    ThreadPool pool(3);
    unsigned seed = 100;
    for (KernelSet set : runnableSets()) {
        const std::string name = kernelSetName(set);
        // Convolution windows: rows two frames of 5 channels apart, 15 deep, so rows overlap.
        {
            const int m = 23, n = 40, k = 15, lda = 10;
            const auto a = randomValues(static_cast<std::size_t>(m - 1) * lda + k, ++seed);
            const Operand b(n, k, true, true, 0, ++seed);
            std::vector<float> c(static_cast<std::size_t>(m) * n, 0.0f);
            gemm(&pool, m, n, k, 1.0f, a.data(), lda, PackedOperand(set, b.operand, n, k, &pool), 0.0f, c.data(), n);
            expectNear(c, reference(m, n, k, 1.0f, a, lda, b.values, 0.0f, c, n), k, name + " overlapping rows");
        }
        // Rows 1024 floats apart fall into one set of the first-level cache and are copied apart.
        {
            const int m = 31, n = 35, k = 270, lda = 1024;
            const auto a = randomValues(static_cast<std::size_t>(m) * lda, ++seed);
            const Operand b(n, k, false, false, 1, ++seed);
            std::vector<float> c(static_cast<std::size_t>(m) * n, 0.0f);
            gemm(&pool, m, n, k, 1.0f, a.data(), lda, PackedOperand(set, b.operand, n, k), 0.0f, c.data(), n);
            expectNear(c, reference(m, n, k, 1.0f, a, lda, b.values, 0.0f, c, n), k, name + " crowding stride");
        }
        // Three parts side by side, none a whole number of panels wide.
        for (bool transposed : {true, false}) {
            const int k = 19;
            const int widths[] = {5, 21, 12};
            std::vector<Operand> parts;
            std::vector<GemmOperand> operands;
            std::vector<float> stacked;
            for (int width : widths) {
                parts.emplace_back(width, k, transposed, !transposed, 2, ++seed);
            }
            for (const auto& part : parts) {
                operands.push_back(part.operand);
                stacked.insert(stacked.end(), part.values.begin(), part.values.end());
            }
            const int m = 17, n = 38;
            const auto a = randomValues(static_cast<std::size_t>(m) * k, ++seed);
            std::vector<float> c(static_cast<std::size_t>(m) * n, 0.0f);
            auto buffers = BufferPool::create();
            const PackedOperand packed(set, operands, {5, 21, 12}, k, &pool, buffers.get());
            EXPECT_EQ(packed.n(), n);
            gemm(&pool, m, n, k, 1.0f, a.data(), k, packed, 0.0f, c.data(), n);
            expectNear(c, reference(m, n, k, 1.0f, a, k, stacked, 0.0f, c, n), k,
                name + (transposed ? " stacked rows" : " stacked columns"));
        }
    }
}

TEST(Gemm, EpiloguesSeeEveryTileOnceAndRowsWhenTheirLastTileIsDone)
{
    ThreadPool pool(4);
    for (KernelSet set : runnableSets()) {
        const int m = 300, n = 700, k = 40;
        const auto a = randomValues(static_cast<std::size_t>(m) * k, 7);
        const Operand b(n, k, true, false, 0, 8);
        const PackedOperand packed(set, b.operand, n, k, &pool);
        std::vector<float> c(static_cast<std::size_t>(m) * n, 0.0f);
        std::vector<int> tileVisits(c.size(), 0);
        std::vector<int> rowVisits(static_cast<std::size_t>(m), 0);
        std::mutex mutex;
        bool rowsComplete = true;
        gemm(
            &pool, m, n, k, 1.0f, a.data(), k, packed, 0.0f, c.data(), n,
            [&](const GemmTile& tile) {
                std::lock_guard lock(mutex);
                for (int i = tile.rowBegin; i < tile.rowEnd; ++i) {
                    for (int j = tile.columnBegin; j < tile.columnEnd; ++j) {
                        ++tileVisits[static_cast<std::size_t>(i) * n + j];
                        c[static_cast<std::size_t>(i) * n + j] += 1.0f; // an epilogue's change, visible to the rows
                    }
                }
            },
            [&](int begin, int end) {
                std::lock_guard lock(mutex);
                for (int i = begin; i < end; ++i) {
                    ++rowVisits[static_cast<std::size_t>(i)];
                    for (int j = 0; j < n; ++j) {
                        rowsComplete = rowsComplete && tileVisits[static_cast<std::size_t>(i) * n + j] == 1;
                    }
                }
            });
        EXPECT_TRUE(std::all_of(tileVisits.begin(), tileVisits.end(), [](int v) { return v == 1; })) << kernelSetName(set);
        EXPECT_TRUE(std::all_of(rowVisits.begin(), rowVisits.end(), [](int v) { return v == 1; })) << kernelSetName(set);
        EXPECT_TRUE(rowsComplete) << kernelSetName(set);
        auto expected = reference(m, n, k, 1.0f, a, k, b.values, 0.0f, c, n);
        for (double& value : expected) {
            value += 1.0;
        }
        expectNear(c, expected, k, kernelSetName(set));
    }
}

TEST(Gemm, KernelSetsByName)
{
    for (KernelSet set : {KernelSet::portable, KernelSet::avx2, KernelSet::avx512}) {
        EXPECT_EQ(kernelSetNamed(kernelSetName(set)), set);
    }
    EXPECT_EQ(kernelSetNamed("sse"), std::nullopt);
    EXPECT_TRUE(supportsKernelSet(KernelSet::portable));
    EXPECT_TRUE(supportsKernelSet(activeKernelSet()));
    EXPECT_EQ(hasVectorUnits(), supportsKernelSet(KernelSet::avx2));
}
