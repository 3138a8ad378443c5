#pragma once

#include "Generation/Generation.hpp"
#include "Models/LanguageModelProtocol.hpp"

namespace models {

// A language model that generates text with its own tokenizer.
class TextGenerationModel : public generation::Generation, public LanguageModelProtocol {
public:
    virtual generation::GenerationConfig defaultGenerationConfig() const = 0;

    // Generates with the model's tokenizer (whose failure is thrown) and the model itself as the
    // next-token model.
    virtual std::string generate(const generation::GenerationConfig& config, const std::string& prompt,
        const generation::PredictionStringCallback& callback = {}) const;
    using generation::Generation::generate;
};

} // namespace models
