#pragma once

#include "platform/system/Console.hpp"

#include <QString>

#include <exception>

namespace parlino {

// One console line, as the library's events write them.
inline void printLine(const QString& line)
{
    platform::Console::print(line.toStdString());
}

// The description of a failure, for its console line.
inline QString describe(const std::exception& error)
{
    return QString::fromStdString(error.what());
}

inline QString describe(const std::exception_ptr& error)
{
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const std::exception& failure) {
        return describe(failure);
    } catch (...) {
    }
    return QStringLiteral("unknown error");
}

} // namespace parlino
