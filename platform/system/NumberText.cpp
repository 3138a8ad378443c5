#include "platform/system/NumberText.hpp"

#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace platform {

namespace {

template<typename T>
std::string format(T value, double largeThreshold)
{
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    if (value == 0) {
        return std::signbit(value) ? "-0.0" : "0.0";
    }
    char buffer[64];
    const double magnitude = std::fabs(static_cast<double>(value));
    if (magnitude >= largeThreshold || magnitude < 1e-4) {
        // Shortest digits in scientific form, exponent with a sign and at least two digits.
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
        std::string text(buffer, result.ptr);
        const auto e = text.find('e');
        std::string mantissa = text.substr(0, e);
        int exponent = std::atoi(text.c_str() + e + 1);
        std::string exponentText = std::to_string(std::abs(exponent));
        if (exponentText.size() < 2) {
            exponentText.insert(0, "0");
        }
        return mantissa + "e" + (exponent < 0 ? "-" : "+") + exponentText;
    }
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

} // namespace

std::string numberText(double value)
{
    return format(value, 9007199254740992.0); // 2^53
}

std::string numberText(float value)
{
    return format(value, 16777216.0); // 2^24
}

std::string byteCountText(std::uint64_t bytes)
{
    if (bytes == 0) {
        return "Zero KB";
    }
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    constexpr std::string_view units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    const auto decimalsOf = [](std::size_t unit) { return unit == 0 ? 0 : unit == 1 ? 1 : 2; };
    double value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    // Rounding may carry a value up to the next unit (999.96 MB reads as 1 GB).
    while (unit + 1 < std::size(units)) {
        const double scale = std::pow(10.0, decimalsOf(unit));
        if (std::round(value * scale) / scale < 1000) {
            break;
        }
        value /= 1000;
        ++unit;
    }
    const int decimals = decimalsOf(unit);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text(buffer);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text + " " + std::string(units[unit]);
}

} // namespace platform
