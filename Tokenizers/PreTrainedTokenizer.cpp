#include "Tokenizers/PreTrainedTokenizer.hpp"

#include "Tokenizers/BPETokenizerClasses.hpp"
#include "Tokenizers/BertTokenizer.hpp"
#include "Tokenizers/PostProcessors.hpp"
#include "Tokenizers/PreTokenizers.hpp"
#include "Tokenizers/T5Tokenizer.hpp"
#include "platform/text/Regex.hpp"
#include "platform/text/UnicodeText.hpp"

namespace tokenizers {

const std::map<std::string, PreTrainedTokenizerModelFactory, std::less<>>& tokenizerClassTable()
{
    static const std::map<std::string, PreTrainedTokenizerModelFactory, std::less<>> table {
        {"BertTokenizer", &makePreTrainedTokenizerModel<BertTokenizer>},
        {"CodeGenTokenizer", &makePreTrainedTokenizerModel<CodeGenTokenizer>},
        {"CodeLlamaTokenizer", &makePreTrainedTokenizerModel<CodeLlamaTokenizer>},
        {"FalconTokenizer", &makePreTrainedTokenizerModel<FalconTokenizer>},
        {"GemmaTokenizer", &makePreTrainedTokenizerModel<GemmaTokenizer>},
        {"GPT2Tokenizer", &makePreTrainedTokenizerModel<GPT2Tokenizer>},
        {"LlamaTokenizer", &makePreTrainedTokenizerModel<LlamaTokenizer>},
        {"T5Tokenizer", &makePreTrainedTokenizerModel<T5Tokenizer>},
        {"WhisperTokenizer", &makePreTrainedTokenizerModel<WhisperTokenizer>},
        {"CohereTokenizer", &makePreTrainedTokenizerModel<CohereTokenizer>},
        {"PreTrainedTokenizer", &makePreTrainedTokenizerModel<BPETokenizer>},
    };
    return table;
}

PreTrainedTokenizer::PreTrainedTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData)
{
    AddedTokens added;
    const auto entries = tokenizerData["addedTokens"] ? tokenizerData["addedTokens"]->arrayValue() : std::nullopt;
    for (const hub::Config& entry : entries.value_or(std::vector<hub::Config> {})) {
        const auto id = entry["id"] ? entry["id"]->intValue() : std::nullopt;
        if (!id) {
            continue;
        }
        const auto content = entry["content"] ? entry["content"]->stringValue() : std::nullopt;
        if (!content) {
            continue;
        }
        added[*content] = *id;
        const auto special = entry["special"] ? entry["special"]->boolValue() : std::nullopt;
        if (special.value_or(false)) {
            specialTokens_[*content] = *id;
        }
    }
    for (const auto& [content, id] : added) {
        addedTokens_.insert(content);
    }

    preTokenizer_ = makePreTokenizer(tokenizerData["preTokenizer"]);
    normalizer_ = makeNormalizer(tokenizerData["normalizer"]);
    postProcessor_ = makePostProcessor(tokenizerData["postProcessor"]);
    // Added tokens decode as themselves, never through the byte alphabet.
    decoder_ = makeDecoder(tokenizerData["decoder"], AddedTokenSet(addedTokens_.begin(), addedTokens_.end()));

    const auto cleanUp = tokenizerConfig["cleanUpTokenizationSpaces"];
    cleanUpTokenizationSpaces_ = cleanUp && cleanUp->boolValue() ? *cleanUp->boolValue() : true;

    const auto classValue = tokenizerConfig["tokenizerClass"];
    const auto className = classValue ? classValue->stringValue() : std::nullopt;
    if (!className) {
        throw TokenizerError::missingTokenizerClassInConfig();
    }
    const std::string name = platform::replacingOccurrences(*className, "Fast", "");
    const auto& table = tokenizerClassTable();
    const auto row = table.find(name);
    if (row == table.end()) {
        throw TokenizerError::unsupportedTokenizer(name);
    }
    model_ = row->second(tokenizerConfig, tokenizerData, added);
}

PreTrainedTokenizer::~PreTrainedTokenizer() = default;

std::vector<std::string> PreTrainedTokenizer::preTokenize(const std::string& text) const
{
    if (!preTokenizer_) {
        return {text};
    }
    return preTokenizer_->preTokenize(text);
}

std::vector<std::string> PreTrainedTokenizer::tokenize(const std::string& text) const
{
    std::string normalized = platform::decodeUtf8Lossy(text);
    if (normalizer_) {
        normalized = normalizer_->normalize(normalized);
    }
    std::vector<std::string> tokens;
    for (const std::string& piece : preTokenize(normalized)) {
        auto pieceTokens = model_->tokenize(piece);
        tokens.insert(tokens.end(), std::make_move_iterator(pieceTokens.begin()), std::make_move_iterator(pieceTokens.end()));
    }
    return tokens;
}

std::vector<int> PreTrainedTokenizer::encode(const std::string& text) const
{
    if (!postProcessor_ || dynamic_cast<const ByteLevelPostProcessor*>(postProcessor_.get())) {
        // The token strings would come back unchanged: go from pieces to ids directly.
        std::string normalized = platform::decodeUtf8Lossy(text);
        if (normalizer_) {
            normalized = normalizer_->normalize(normalized);
        }
        std::vector<int> ids;
        ids.reserve(normalized.size() / 3);
        const auto* byteLevel = dynamic_cast<const ByteLevelPreTokenizer*>(preTokenizer_.get());
        const auto* bytePair = dynamic_cast<const BPETokenizer*>(model_.get());
        if (byteLevel && bytePair) {
            // Byte-level pieces go to the byte-pair model as raw bytes, never spelled out.
            std::string storage;
            const auto pieces = byteLevel->rawPieces(normalized, storage);
            for (const auto& range : pieces.ranges) {
                bytePair->appendByteLevelTokenIds(pieces.source.substr(range.begin, range.end - range.begin), ids);
            }
            return ids;
        }
        for (const std::string& piece : preTokenize(normalized)) {
            model_->appendTokenIds(piece, ids);
        }
        return ids;
    }
    std::vector<std::string> tokens = tokenize(text);
    if (postProcessor_) {
        tokens = postProcessor_->postProcess(tokens, std::nullopt);
    }
    std::vector<int> ids;
    ids.reserve(tokens.size());
    for (const auto& token : tokens) {
        // A token the model cannot name (no unknown token to stand in) is left out.
        if (const auto id = model_->convertTokenToId(token)) {
            ids.push_back(*id);
        }
    }
    return ids;
}

std::string PreTrainedTokenizer::decode(const std::vector<int>& tokens) const
{
    std::vector<std::string> strings;
    strings.reserve(tokens.size());
    for (int id : tokens) {
        // An id outside the vocabulary has no text and is left out.
        if (auto token = model_->convertIdToToken(id)) {
            strings.push_back(std::move(*token));
        }
    }
    if (decoder_) {
        strings = decoder_->decode(strings);
    }
    std::string text;
    for (const auto& piece : strings) {
        text += piece;
    }
    return cleanUp(text);
}

std::string PreTrainedTokenizer::cleanUp(const std::string& text) const
{
    if (!cleanUpTokenizationSpaces_) {
        return text;
    }
    static const std::pair<const char*, const char*> passes[] = {
        {" .", "."},
        {" ?", "?"},
        {" !", "!"},
        {" ,", ","},
        {" ' ", "'"},
        {" n't", "n't"},
        {" 'm", "'m"},
        {" 's", "'s"},
        {" 've", "'ve"},
        {" 're", "'re"},
    };
    std::string result = text;
    for (const auto& [occurrence, replacement] : passes) {
        result = platform::replacingOccurrences(result, occurrence, replacement);
    }
    return result;
}

std::optional<int> PreTrainedTokenizer::convertTokenToId(const std::string& token) const
{
    return model_->convertTokenToId(token);
}

std::optional<int> PreTrainedTokenizer::knownTokenId(const std::string& token) const
{
    return model_->knownTokenId(token);
}

std::optional<std::string> PreTrainedTokenizer::convertIdToToken(int id) const
{
    return model_->convertIdToToken(id);
}

} // namespace tokenizers
