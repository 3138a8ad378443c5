#pragma once

#include <QString>

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace parlino {

// The text without white space and line breaks at either end.
std::string trimmedText(std::string_view text);
QString trimmedText(const QString& text);
// The first `count` user-perceived characters, never cutting one.
QString characterPrefix(const QString& text, std::size_t count);
std::size_t characterCount(const QString& text);
// `value` with `decimals` digits after the point, e.g. "1.25".
std::string fixedText(double value, int decimals);
// The error's type without its namespaces, e.g. "WhisperError".
std::string errorTypeName(const std::exception& error);

} // namespace parlino
