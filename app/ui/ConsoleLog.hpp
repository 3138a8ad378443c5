#pragma once

#include <QString>

namespace parlino {

// One console line of the application on standard output.
void consoleLine(const QString& line);

} // namespace parlino
