#pragma once

#include <vector>

namespace ml {

// The constants and tables of the Whisper log-mel front end.
struct MelFilterBank {
    static constexpr int sampleRate = 16000;
    static constexpr int fftSize = 400;
    static constexpr int hopLength = 160;
    static constexpr int binCount = fftSize / 2 + 1;

    // Triangular filters on the Slaney mel scale from 0 Hz to the Nyquist frequency, each scaled to
    // unit area ("slaney" normalisation): [melCount][binCount], row-major.
    static std::vector<float> filters(int melCount);

    // Periodic Hann window folded into the real DFT: [fftSize][2 * binCount], column 2k holding
    // w[n] cos(2 pi k n / N) and column 2k + 1 holding -w[n] sin(2 pi k n / N).
    static std::vector<float> windowedFourierBasis();
};

} // namespace ml
