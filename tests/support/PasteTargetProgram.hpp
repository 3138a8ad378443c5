#pragma once

#include <string>

namespace testsupport {

// tools/paste-target's path in the build tree; empty when it is not built.
std::string pasteTargetProgram();

} // namespace testsupport
