#include "platform/ml/programs/kernels/MelFilterBank.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ml {

namespace {

// Slaney's scale: linear below 1 kHz, logarithmic above.
constexpr double linearStep = 200.0 / 3.0;
constexpr double logStartHz = 1000.0;
constexpr double logStartMel = logStartHz / linearStep;
const double logStep = std::log(6.4) / 27.0;

double hertzToMel(double hz)
{
    return hz < logStartHz ? hz / linearStep : logStartMel + std::log(hz / logStartHz) / logStep;
}

double melToHertz(double mel)
{
    return mel < logStartMel ? mel * linearStep : logStartHz * std::exp(logStep * (mel - logStartMel));
}

} // namespace

std::vector<float> MelFilterBank::filters(int melCount)
{
    const int edges = melCount + 2;
    const double maxMel = hertzToMel(sampleRate / 2.0);
    std::vector<double> edgeHz(static_cast<std::size_t>(edges));
    for (int i = 0; i < edges; ++i) {
        edgeHz[static_cast<std::size_t>(i)] = melToHertz(maxMel * i / (edges - 1));
    }
    std::vector<float> weights(static_cast<std::size_t>(melCount) * binCount, 0.0f);
    for (int m = 0; m < melCount; ++m) {
        const double lower = edgeHz[static_cast<std::size_t>(m)];
        const double centre = edgeHz[static_cast<std::size_t>(m) + 1];
        const double upper = edgeHz[static_cast<std::size_t>(m) + 2];
        const double area = 2.0 / (upper - lower);
        for (int k = 0; k < binCount; ++k) {
            const double hz = static_cast<double>(k) * sampleRate / fftSize;
            const double rising = (hz - lower) / (centre - lower);
            const double falling = (upper - hz) / (upper - centre);
            const double w = std::max(0.0, std::min(rising, falling));
            weights[static_cast<std::size_t>(m) * binCount + static_cast<std::size_t>(k)] = static_cast<float>(w * area);
        }
    }
    return weights;
}

std::vector<float> MelFilterBank::windowedFourierBasis()
{
    std::vector<float> basis(static_cast<std::size_t>(fftSize) * 2 * binCount);
    for (int n = 0; n < fftSize; ++n) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / fftSize);
        for (int k = 0; k < binCount; ++k) {
            // Reduce k n modulo N first so the angle stays exact for large products.
            const double angle = 2.0 * std::numbers::pi * static_cast<double>((k * n) % fftSize) / fftSize;
            float* cell = &basis[(static_cast<std::size_t>(n) * binCount + static_cast<std::size_t>(k)) * 2];
            cell[0] = static_cast<float>(window * std::cos(angle));
            cell[1] = static_cast<float>(-window * std::sin(angle));
        }
    }
    return basis;
}

} // namespace ml
