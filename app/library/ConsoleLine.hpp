#pragma once

#include "platform/system/Console.hpp"
#include "platform/system/ExceptionText.hpp"

#include <QString>

#include <exception>
#include <string>
#include <string_view>

namespace parlino {

// Text as it may go to a terminal: control characters (C0, DEL and C1), which could move the
// cursor or change the terminal's state, are written as escapes ("\x1b", "\u009b").
inline std::string escapeControls(std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte < 0x20 || byte == 0x7f) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else if (byte == 0xc2 && index + 1 < text.size() && static_cast<unsigned char>(text[index + 1]) >= 0x80
                   && static_cast<unsigned char>(text[index + 1]) <= 0x9f) {
            const auto code = static_cast<unsigned char>(text[++index]);
            out += "\\u00";
            out += hex[code >> 4];
            out += hex[code & 15];
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

// One console line, as the library's events write them.
inline void printLine(const QString& line)
{
    platform::Console::print(escapeControls(line.toStdString()));
}

// The description of a failure, for its console line.
inline QString describe(const std::exception& error)
{
    return QString::fromStdString(error.what());
}

inline QString describe(const std::exception_ptr& error)
{
    return QString::fromStdString(platform::exceptionText(error));
}

} // namespace parlino
