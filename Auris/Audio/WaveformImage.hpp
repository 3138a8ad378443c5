#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace auris {

// A debug view of sample memory: the bytes of 32-bit float samples taken as a bitmap, one sample
// per pixel, row after row. 8 bits per component, 32 bits per pixel, in device RGB without a decode
// array or interpolation. Each pixel is a premultiplied-alpha ARGB word in little-endian byte order,
// so its bytes in memory are blue, green, red and alpha.
struct WaveformImage {
    static constexpr int bitsPerComponent = 8;
    static constexpr int bitsPerPixel = 32;
    static constexpr int bytesPerPixel = bitsPerPixel / 8;

    struct Size {
        int width = 0;
        int height = 0;
    };

    int width = 0;
    int height = 0;
    // width x 4: rows have no padding.
    int bytesPerRow = 0;
    // height rows of bytesPerRow bytes.
    std::vector<std::uint8_t> bytes;

    // The ARGB word of the pixel in column x of row y.
    std::uint32_t pixel(int x, int y) const
    {
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(bytesPerRow)
            + static_cast<std::size_t>(x) * bytesPerPixel;
        return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8
            | static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    }
};

} // namespace auris
