#include "app/ui/ConsoleLog.hpp"

#include <iostream>

namespace parlino {

void consoleLine(const QString& line)
{
    std::cout << line.toStdString() << std::endl;
}

} // namespace parlino
