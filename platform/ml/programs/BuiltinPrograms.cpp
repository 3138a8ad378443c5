#include "platform/ml/Program.hpp"
#include "platform/ml/programs/ScaleProgram.hpp"
#include "platform/ml/programs/WhisperAudioEncoderProgram.hpp"
#include "platform/ml/programs/WhisperMelSpectrogramProgram.hpp"
#include "platform/ml/programs/WhisperTextDecoderProgram.hpp"

namespace ml {

void registerBuiltinPrograms(ProgramRegistry& registry)
{
    registry.add(ScaleProgram::name, [](const ProgramContext& c) { return std::make_unique<ScaleProgram>(c); });
    registry.add(WhisperMelSpectrogramProgram::name,
        [](const ProgramContext& c) { return std::make_unique<WhisperMelSpectrogramProgram>(c); });
    registry.add(WhisperAudioEncoderProgram::name,
        [](const ProgramContext& c) { return std::make_unique<WhisperAudioEncoderProgram>(c); });
    registry.add(WhisperTextDecoderProgram::name,
        [](const ProgramContext& c) { return std::make_unique<WhisperTextDecoderProgram>(c); });
}

} // namespace ml
