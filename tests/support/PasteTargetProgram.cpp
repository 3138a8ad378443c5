#include "support/PasteTargetProgram.hpp"

#include <cstdlib>
#include <filesystem>

namespace testsupport {

std::string pasteTargetProgram()
{
    const char* binary = std::getenv("PARLINO_BINARY_DIR");
    const auto path = std::filesystem::path(binary ? binary : PARLINO_BINARY_DIR) / "tools" / "paste-target" / "paste-target";
    return std::filesystem::exists(path) ? path.string() : std::string();
}

} // namespace testsupport
