#pragma once

#include <optional>
#include <string_view>

namespace hub {

// The hub module's resources compiled into the program: tokenizer configurations for model types
// whose repositories lack one, named by the model type followed by "_tokenizer_config" (JSON).
std::optional<std::string_view> hubResource(std::string_view name, std::string_view extension);

} // namespace hub
