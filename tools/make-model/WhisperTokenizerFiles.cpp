#include "tools/make-model/WhisperTokenizerFiles.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace ml {

namespace {

using nlohmann::json;

// Whisper's language tokens in id order; large-v3 added the last one.
constexpr std::array<std::string_view, 100> languageCodes {"en", "zh", "de", "es", "ru", "ko", "fr", "ja", "pt", "tr",
    "pl", "ca", "nl", "ar", "sv", "it", "id", "hi", "fi", "vi", "he", "uk", "el", "ms", "cs", "ro", "da", "hu", "ta",
    "no", "th", "ur", "hr", "bg", "lt", "la", "mi", "ml", "cy", "sk", "te", "fa", "lv", "bn", "sr", "az", "sl", "kn",
    "et", "mk", "br", "eu", "is", "hy", "ne", "mn", "bs", "kk", "sq", "sw", "gl", "mr", "pa", "si", "km", "sn", "yo",
    "so", "af", "oc", "ka", "be", "tg", "sd", "gu", "am", "yi", "lo", "uz", "fo", "ht", "ps", "tk", "nn", "mt", "sa",
    "lb", "my", "bo", "tl", "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su", "yue"};

constexpr int largeV3VocabularySize = 51866;
constexpr int maximumVocabularySize = 1 << 22;
constexpr int byteTokenCount = 256;
// <|endoftext|>, <|startoftranscript|>, then after the languages the six task and control tokens.
constexpr int fixedControlCount = 2 + 6 + WhisperTokenizerFiles::timestampCount;

bool printable(int byte)
{
    return (byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xAC) || (byte >= 0xAE && byte <= 0xFF);
}

std::string utf8(int code)
{
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
    return text;
}

// The byte-level alphabet: printable bytes stand for themselves, the others move past 255 in order.
std::array<std::string, 256> byteCharacters()
{
    std::array<std::string, 256> characters;
    int moved = 0;
    for (int byte = 0; byte < 256; ++byte) {
        characters[static_cast<std::size_t>(byte)] = printable(byte) ? utf8(byte) : utf8(256 + moved++);
    }
    return characters;
}

class VocabularyBuilder {
public:
    explicit VocabularyBuilder(int textEnd) : textEnd_(textEnd)
    {
        const auto characters = byteCharacters();
        for (int pass = 0; pass < 2; ++pass) {
            for (int byte = 0; byte < 256; ++byte) {
                if (printable(byte) == (pass == 0)) {
                    vocab_[characters[static_cast<std::size_t>(byte)]] = next_++;
                }
            }
        }
    }

    bool full() const { return next_ >= textEnd_; }
    bool contains(const std::string& token) const { return vocab_.contains(token); }

    // False when the pair makes a token the vocabulary already has.
    bool add(const std::string& left, const std::string& right)
    {
        std::string token = left + right;
        if (vocab_.contains(token)) {
            return false;
        }
        vocab_[token] = next_++;
        merges_.push_back(left + " " + right);
        return true;
    }

    json vocab() { return std::move(vocab_); }
    json merges() { return std::move(merges_); }

private:
    int textEnd_;
    int next_ = 0;
    json vocab_ = json::object();
    json merges_ = json::array();
};

void addGivenMerges(VocabularyBuilder& builder, const std::vector<std::string>& merges)
{
    for (const auto& line : merges) {
        const std::size_t blank = line.find(' ');
        const bool wellFormed = blank != std::string::npos && blank > 0 && blank + 1 < line.size()
            && line.find(' ', blank + 1) == std::string::npos;
        if (!wellFormed) {
            throw std::invalid_argument("the merge \"" + line + "\" is not two tokens separated by one blank");
        }
        const std::string left = line.substr(0, blank);
        const std::string right = line.substr(blank + 1);
        if (!builder.contains(left) || !builder.contains(right)) {
            throw std::invalid_argument("the merge \"" + line + "\" joins a token that does not exist yet");
        }
        if (!builder.add(left, right)) {
            throw std::invalid_argument("the merge \"" + line + "\" makes a token that already exists");
        }
    }
}

// Pseudo-words of consonant-vowel syllables, a word-initial "Ġ" form beside each, shorter words
// first. Within a length the words are visited with a stride so that a partly used length is spread
// over all syllables rather than all starting with "ba".
void addGeneratedMerges(VocabularyBuilder& builder)
{
    static constexpr std::string_view consonants = "bdfghklmnprstvz";
    static constexpr std::string_view vowels = "aeiou";
    static constexpr std::uint64_t stride = 7919; // a prime that shares no factor with 75
    const std::string blank = byteCharacters()[' '];
    std::vector<std::string> syllables;
    for (char consonant : consonants) {
        for (char vowel : vowels) {
            syllables.push_back(std::string {consonant, vowel});
        }
    }
    const std::uint64_t syllableCount = syllables.size();

    std::uint64_t wordCount = 1;
    for (int length = 1; !builder.full(); ++length) {
        wordCount *= syllableCount;
        for (std::uint64_t k = 0; k < wordCount && !builder.full(); ++k) {
            std::uint64_t index = (k * stride) % wordCount;
            std::vector<std::size_t> parts(static_cast<std::size_t>(length));
            for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
                *part = static_cast<std::size_t>(index % syllableCount);
                index /= syllableCount;
            }
            std::string prefix;
            for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
                prefix += syllables[parts[i]];
            }
            const std::string& last = syllables[parts.back()];
            if (length == 1) {
                builder.add(last.substr(0, 1), last.substr(1));
            } else {
                builder.add(prefix, last);
            }
            if (!builder.full()) {
                builder.add(blank + prefix, last);
            }
        }
    }
}

json addedToken(const std::string& content, int id)
{
    return {{"id", id}, {"content", content}, {"single_word", false}, {"lstrip", false}, {"rstrip", false},
        {"normalized", false}, {"special", true}};
}

json byteLevel(bool addPrefixSpace, bool trimOffsets)
{
    return {{"type", "ByteLevel"}, {"add_prefix_space", addPrefixSpace}, {"trim_offsets", trimOffsets}, {"use_regex", true}};
}

void writeJson(const std::filesystem::path& path, const json& value)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << value.dump();
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

} // namespace

int WhisperTokenizerFiles::languageCount() const
{
    return vocabularySize >= largeV3VocabularySize ? 100 : 99;
}

int WhisperTokenizerFiles::endOfTextId() const
{
    return vocabularySize - fixedControlCount - languageCount();
}

void WhisperTokenizerFiles::validate() const
{
    const long long needed = byteTokenCount + static_cast<long long>(merges.size()) + fixedControlCount + languageCount();
    if (vocabularySize < needed || vocabularySize > maximumVocabularySize) {
        throw std::invalid_argument("the vocabulary size must be " + std::to_string(needed) + " to "
            + std::to_string(maximumVocabularySize) + " to hold the byte tokens, the merges and the control tokens");
    }
    if (listedLanguages && (*listedLanguages < 0 || *listedLanguages > languageCount())) {
        throw std::invalid_argument("the listed languages must be 0 to " + std::to_string(languageCount()));
    }
}

json WhisperTokenizerFiles::tokenizerData() const
{
    validate();
    const int endOfText = endOfTextId();
    VocabularyBuilder builder(endOfText);
    addGivenMerges(builder, merges);
    if (fillVocabulary) {
        addGeneratedMerges(builder);
    }

    json added = json::array();
    int id = endOfText;
    added.push_back(addedToken("<|endoftext|>", id++));
    added.push_back(addedToken("<|startoftranscript|>", id++));
    const int listed = listedLanguages.value_or(languageCount());
    for (int language = 0; language < languageCount(); ++language, ++id) {
        if (language < listed) {
            added.push_back(addedToken("<|" + std::string(languageCodes[static_cast<std::size_t>(language)]) + "|>", id));
        }
    }
    const char* noSpeech = languageCount() == 100 ? "<|nospeech|>" : "<|nocaptions|>";
    for (const char* control : {"<|translate|>", "<|transcribe|>", "<|startoflm|>", "<|startofprev|>", noSpeech, "<|notimestamps|>"}) {
        added.push_back(addedToken(control, id++));
    }
    for (int step = 0; step < timestampCount; ++step) {
        char text[16];
        std::snprintf(text, sizeof text, "<|%d.%02d|>", step / 50, (step % 50) * 2);
        added.push_back(addedToken(text, id++));
    }

    return json {{"version", "1.0"}, {"added_tokens", std::move(added)}, {"normalizer", nullptr},
        {"pre_tokenizer", byteLevel(false, true)}, {"post_processor", byteLevel(true, false)},
        {"decoder", byteLevel(true, true)},
        {"model", {{"type", "BPE"}, {"vocab", builder.vocab()}, {"merges", builder.merges()}, {"dropout", nullptr},
                      {"unk_token", nullptr}}}};
}

json WhisperTokenizerFiles::tokenizerConfig() const
{
    const json endOfText = {{"__type", "AddedToken"}, {"content", "<|endoftext|>"}, {"lstrip", false},
        {"normalized", true}, {"rstrip", false}, {"single_word", false}};
    return json {{"tokenizer_class", tokenizerClass}, {"bos_token", endOfText}, {"eos_token", endOfText},
        {"unk_token", endOfText}, {"pad_token", endOfText}, {"clean_up_tokenization_spaces", true},
        {"model_max_length", 1024}, {"add_prefix_space", false}};
}

json WhisperTokenizerFiles::modelConfig() const
{
    return json {{"model_type", "whisper"}, {"vocab_size", vocabularySize}};
}

void WhisperTokenizerFiles::write(const std::filesystem::path& folder) const
{
    const json data = tokenizerData();
    std::filesystem::create_directories(folder);
    writeJson(folder / "tokenizer.json", data);
    writeJson(folder / "tokenizer_config.json", tokenizerConfig());
    writeJson(folder / "config.json", modelConfig());
}

} // namespace ml
