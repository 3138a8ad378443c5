#pragma once

#include "Tokenizers/PostProcessor.hpp"

#include <cstdint>
#include <utility>

namespace tokenizers {

class TemplateProcessing : public PostProcessor {
public:
    explicit TemplateProcessing(const hub::Config& config);
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
        const std::optional<std::vector<std::string>>& tokensPair) const override;

private:
    std::vector<hub::Config> single_;
    std::vector<hub::Config> pair_;
};

class ByteLevelPostProcessor : public PostProcessor {
public:
    explicit ByteLevelPostProcessor(const hub::Config&) {}
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
        const std::optional<std::vector<std::string>>&) const override
    {
        return tokens;
    }
};

class RobertaProcessing : public PostProcessor {
public:
    explicit RobertaProcessing(const hub::Config& config);
    std::vector<std::string> postProcess(const std::vector<std::string>& tokens,
        const std::optional<std::vector<std::string>>& tokensPair) const override;

private:
    std::string trimmed(const std::string& token) const;

    std::pair<std::uint64_t, std::string> sep_;
    std::pair<std::uint64_t, std::string> cls_;
    bool trimOffset_;
    bool addPrefixSpace_;
};

} // namespace tokenizers
