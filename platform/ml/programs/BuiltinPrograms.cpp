#include "platform/ml/Program.hpp"
#include "platform/ml/programs/ScaleProgram.hpp"

namespace ml {

void registerBuiltinPrograms(ProgramRegistry& registry)
{
    registry.add(ScaleProgram::name, [](const ProgramContext& c) { return std::make_unique<ScaleProgram>(c); });
}

} // namespace ml
