#include "Models/TextGenerationModel.hpp"

namespace models {

std::string TextGenerationModel::generate(const generation::GenerationConfig& config, const std::string& prompt,
    const generation::PredictionStringCallback& callback) const
{
    const auto tokenizer = this->tokenizer();
    const generation::NextTokenModel next = [this](const std::vector<int>& tokens, const generation::GenerationConfig& settings) {
        return (*this)(tokens, settings);
    };
    return generate(config, prompt, next, *tokenizer, callback);
}

} // namespace models
