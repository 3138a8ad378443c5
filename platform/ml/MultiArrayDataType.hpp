#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace ml {

enum class MultiArrayDataType { float16, float32, float64, int32 };

constexpr std::size_t elementSize(MultiArrayDataType type)
{
    switch (type) {
    case MultiArrayDataType::float16: return 2;
    case MultiArrayDataType::float32: return 4;
    case MultiArrayDataType::float64: return 8;
    case MultiArrayDataType::int32: return 4;
    }
    return 0;
}

constexpr std::string_view dataTypeName(MultiArrayDataType type)
{
    switch (type) {
    case MultiArrayDataType::float16: return "float16";
    case MultiArrayDataType::float32: return "float32";
    case MultiArrayDataType::float64: return "float64";
    case MultiArrayDataType::int32: return "int32";
    }
    return "unknown";
}

constexpr std::optional<MultiArrayDataType> dataTypeFromName(std::string_view name)
{
    if (name == "float16") return MultiArrayDataType::float16;
    if (name == "float32") return MultiArrayDataType::float32;
    if (name == "float64") return MultiArrayDataType::float64;
    if (name == "int32") return MultiArrayDataType::int32;
    return std::nullopt;
}

} // namespace ml
