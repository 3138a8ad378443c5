#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ml {

// IEEE 754 binary16, stored as its bit pattern; arithmetic happens in float.
class Float16 {
public:
    constexpr Float16() = default;
    Float16(float value) : bits_(fromFloat(value)) {}

    static constexpr Float16 fromBits(std::uint16_t bits)
    {
        Float16 half;
        half.bits_ = bits;
        return half;
    }

    constexpr std::uint16_t bits() const { return bits_; }
    operator float() const { return toFloat(bits_); }

    static std::uint16_t fromFloat(float value)
    {
        const std::uint32_t f = std::bit_cast<std::uint32_t>(value);
        const std::uint32_t sign = (f >> 16) & 0x8000u;
        const std::uint32_t absBits = f & 0x7fffffffu;

        if (absBits >= 0x7f800000u) {
            // Infinity stays infinity; NaN keeps a quiet payload bit so it never becomes infinity.
            const std::uint32_t mantissa = absBits & 0x007fffffu;
            return static_cast<std::uint16_t>(sign | 0x7c00u | (mantissa ? (0x0200u | (mantissa >> 13)) : 0u));
        }
        if (absBits >= 0x477ff000u) {
            // Rounds to a magnitude of 65520 or more: overflow to infinity.
            return static_cast<std::uint16_t>(sign | 0x7c00u);
        }
        if (absBits < 0x38800000u) {
            // Result is subnormal or zero: shift the mantissa with the implicit bit, round to nearest even.
            if (absBits < 0x33000000u) {
                return static_cast<std::uint16_t>(sign); // below half the smallest subnormal
            }
            const std::uint32_t exponent = absBits >> 23;
            const std::uint32_t mantissa = (absBits & 0x007fffffu) | 0x00800000u;
            const std::uint32_t shift = 126u - exponent; // 14..24
            std::uint32_t half = mantissa >> shift;
            const std::uint32_t remainder = mantissa & ((1u << shift) - 1u);
            const std::uint32_t halfway = 1u << (shift - 1u);
            if (remainder > halfway || (remainder == halfway && (half & 1u))) {
                ++half;
            }
            return static_cast<std::uint16_t>(sign | half);
        }
        // Normal: rebias the exponent, round the 13 dropped mantissa bits to nearest even.
        std::uint32_t half = ((absBits - 0x38000000u) >> 13);
        const std::uint32_t remainder = absBits & 0x1fffu;
        if (remainder > 0x1000u || (remainder == 0x1000u && (half & 1u))) {
            ++half; // a carry into the exponent is the correct rounding
        }
        return static_cast<std::uint16_t>(sign | half);
    }

    static float toFloat(std::uint16_t h)
    {
        const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
        const std::uint32_t exponent = (h >> 10) & 0x1fu;
        std::uint32_t mantissa = h & 0x03ffu;
        std::uint32_t f;
        if (exponent == 0x1fu) {
            f = sign | 0x7f800000u | (mantissa << 13);
        } else if (exponent != 0) {
            f = sign | ((exponent + 112u) << 23) | (mantissa << 13);
        } else if (mantissa == 0) {
            f = sign;
        } else {
            // Subnormal half: normalise into a float.
            std::uint32_t e = 113u;
            while ((mantissa & 0x0400u) == 0) {
                mantissa <<= 1;
                --e;
            }
            f = sign | (e << 23) | ((mantissa & 0x03ffu) << 13);
        }
        return std::bit_cast<float>(f);
    }

    friend constexpr bool operator==(Float16 a, Float16 b) { return a.bits_ == b.bits_; }

private:
    std::uint16_t bits_ = 0;
};

static_assert(sizeof(Float16) == 2);

} // namespace ml
