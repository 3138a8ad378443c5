#include "app/recorder/RecorderText.hpp"

#include "platform/text/CharacterProperties.hpp"
#include "platform/text/Graphemes.hpp"
#include "platform/text/UnicodeText.hpp"

#include <cxxabi.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <typeinfo>

namespace parlino {

std::string trimmedText(std::string_view text)
{
    const auto scalars = platform::unicodeScalars(text);
    std::size_t begin = 0;
    std::size_t end = scalars.size();
    while (begin < end && platform::isWhitespace(scalars[begin])) {
        ++begin;
    }
    while (end > begin && platform::isWhitespace(scalars[end - 1])) {
        --end;
    }
    return platform::utf8FromScalars(std::span(scalars).subspan(begin, end - begin));
}

QString trimmedText(const QString& text)
{
    return QString::fromStdString(trimmedText(text.toStdString()));
}

QString characterPrefix(const QString& text, std::size_t count)
{
    const std::string utf8 = text.toStdString();
    const auto characters = platform::graphemeClusters(utf8);
    if (characters.size() <= count) {
        return text;
    }
    const auto end = static_cast<std::size_t>(characters[count].data() - utf8.data());
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(end));
}

std::size_t characterCount(const QString& text)
{
    return platform::graphemeCount(text.toStdString());
}

std::string fixedText(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string errorTypeName(const std::exception& error)
{
    const char* mangled = typeid(error).name();
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
        &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    if (const auto colon = name.rfind("::"); colon != std::string::npos) {
        name.erase(0, colon + 2);
    }
    return name;
}

} // namespace parlino
