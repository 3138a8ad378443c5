#include "app/dictation/DictationLog.hpp"

#include "platform/system/Console.hpp"
#include "platform/system/SystemLog.hpp"

namespace parlino {

LogSink systemLogSink()
{
    return [](const QString& line) {
        platform::SystemLog::write("Parlino", "Dictation", platform::SystemLog::Type::defaultType, line.toStdString());
    };
}

LogSink consoleSink()
{
    return [](const QString& line) { platform::Console::print(line.toStdString()); };
}

} // namespace parlino
