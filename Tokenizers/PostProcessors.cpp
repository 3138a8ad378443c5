#include "Tokenizers/PostProcessors.hpp"

#include "Tokenizers/Tokenizer.hpp"
#include "platform/text/CharacterProperties.hpp"
#include "platform/text/Graphemes.hpp"
#include "platform/text/UnicodeText.hpp"

namespace tokenizers {

namespace {

std::optional<std::string> stringOf(const hub::Config& config, const std::string& key)
{
    const auto value = config[key];
    return value ? value->stringValue() : std::nullopt;
}

bool booleanOr(const hub::Config& config, const std::string& key, bool fallback)
{
    const auto value = config[key];
    return value && value->boolValue() ? *value->boolValue() : fallback;
}

// An in-memory token pair, or the file forms [token, id] and [id, token].
std::optional<std::pair<std::uint64_t, std::string>> tokenPairOf(const hub::Config& config, const std::string& key)
{
    const auto value = config[key];
    if (!value) {
        return std::nullopt;
    }
    if (auto token = value->tokenValue()) {
        return token;
    }
    const nlohmann::json* list = value->value();
    if (!list || !list->is_array() || list->size() != 2) {
        return std::nullopt;
    }
    for (int textIndex : {0, 1}) {
        const auto& text = (*list)[static_cast<std::size_t>(textIndex)];
        const auto& id = (*list)[static_cast<std::size_t>(1 - textIndex)];
        if (text.is_string() && id.is_number_integer() && (id.is_number_unsigned() || id.get<std::int64_t>() >= 0)) {
            return std::make_pair(id.get<std::uint64_t>(), text.get<std::string>());
        }
    }
    return std::nullopt;
}

char32_t firstScalar(std::string_view character)
{
    std::size_t offset = 0;
    return platform::nextScalar(character, offset);
}

} // namespace

std::unique_ptr<PostProcessor> makePostProcessor(const std::optional<hub::Config>& config)
{
    if (!config) {
        return nullptr;
    }
    const auto type = stringOf(*config, "type");
    if (!type) {
        return nullptr;
    }
    if (*type == "TemplateProcessing") return std::make_unique<TemplateProcessing>(*config);
    if (*type == "ByteLevel") return std::make_unique<ByteLevelPostProcessor>(*config);
    if (*type == "RobertaProcessing") return std::make_unique<RobertaProcessing>(*config);
    throw TokenizerError::configuration("Unsupported PostProcessor type: " + *type);
}

TemplateProcessing::TemplateProcessing(const hub::Config& config)
{
    const auto single = config["single"];
    const auto singleItems = single ? single->arrayValue() : std::nullopt;
    if (!singleItems) {
        throw TokenizerError::configuration("Missing `single` processor configuration");
    }
    const auto pair = config["pair"];
    const auto pairItems = pair ? pair->arrayValue() : std::nullopt;
    if (!pairItems) {
        throw TokenizerError::configuration("Missing `pair` processor configuration");
    }
    single_ = *singleItems;
    pair_ = *pairItems;
}

std::vector<std::string> TemplateProcessing::postProcess(const std::vector<std::string>& tokens,
    const std::optional<std::vector<std::string>>& tokensPair) const
{
    const auto& items = tokensPair ? pair_ : single_;
    std::vector<std::string> out;
    for (const hub::Config& item : items) {
        if (const auto special = item["SpecialToken"]) {
            // An item without a string id adds nothing.
            if (auto id = stringOf(*special, "id")) {
                out.push_back(std::move(*id));
            }
        } else if (const auto sequence = item["Sequence"]) {
            const auto id = stringOf(*sequence, "id");
            if (id == "A") {
                out.insert(out.end(), tokens.begin(), tokens.end());
            } else if (id == "B" && tokensPair) {
                out.insert(out.end(), tokensPair->begin(), tokensPair->end());
            }
        }
    }
    return out;
}

RobertaProcessing::RobertaProcessing(const hub::Config& config)
{
    auto sep = tokenPairOf(config, "sep");
    if (!sep) {
        throw TokenizerError::configuration("Missing `sep` processor configuration");
    }
    auto cls = tokenPairOf(config, "cls");
    if (!cls) {
        throw TokenizerError::configuration("Missing `cls` processor configuration");
    }
    sep_ = std::move(*sep);
    cls_ = std::move(*cls);
    trimOffset_ = booleanOr(config, "trimOffset", true);
    addPrefixSpace_ = booleanOr(config, "addPrefixSpace", true);
}

std::string RobertaProcessing::trimmed(const std::string& token) const
{
    if (!addPrefixSpace_) {
        // Trim horizontal blanks from both ends, scalar by scalar; line breaks stay.
        const auto scalars = platform::unicodeScalars(token);
        std::size_t first = 0;
        std::size_t last = scalars.size();
        while (first < last && platform::isBlank(scalars[first])) {
            ++first;
        }
        while (last > first && platform::isBlank(scalars[last - 1])) {
            --last;
        }
        return platform::utf8FromScalars(std::span<const char32_t>(scalars).subspan(first, last - first));
    }
    // Keep one blank of a run at either end.
    const auto characters = platform::graphemeClusters(token);
    const std::size_t n = characters.size();
    std::size_t lead = 0;
    while (lead < n && platform::isWhitespace(firstScalar(characters[lead]))) {
        ++lead;
    }
    std::size_t trail = 0;
    while (trail < n && platform::isWhitespace(firstScalar(characters[n - 1 - trail]))) {
        ++trail;
    }
    const std::size_t start = lead > 0 ? lead - 1 : 0;
    const std::size_t cut = trail > 0 ? trail - 1 : 0;
    if (start + cut >= n) {
        return ""; // an all-blank token of two or more characters
    }
    std::string out;
    for (std::size_t i = start; i < n - cut; ++i) {
        out += characters[i];
    }
    return out;
}

std::vector<std::string> RobertaProcessing::postProcess(const std::vector<std::string>& tokens,
    const std::optional<std::vector<std::string>>& tokensPair) const
{
    auto rewrite = [this](const std::vector<std::string>& list) {
        if (!trimOffset_) {
            return list;
        }
        std::vector<std::string> out;
        out.reserve(list.size());
        for (const auto& token : list) {
            out.push_back(trimmed(token));
        }
        return out;
    };
    std::vector<std::string> out {cls_.second};
    const auto first = rewrite(tokens);
    out.insert(out.end(), first.begin(), first.end());
    out.push_back(sep_.second);
    if (tokensPair && !tokensPair->empty()) {
        const auto second = rewrite(*tokensPair);
        out.push_back(sep_.second);
        out.insert(out.end(), second.begin(), second.end());
        out.push_back(sep_.second);
    }
    return out;
}

} // namespace tokenizers
