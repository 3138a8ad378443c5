#include "Tokenizers/BPETokenizer.hpp"

#include "Tokenizers/Tokenizer.hpp"
#include "platform/text/Graphemes.hpp"
#include "platform/text/UnicodeText.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

namespace tokenizers {

using nlohmann::json;

namespace {

constexpr char32_t byteLevelAlphabetEnd = 0x144;

std::optional<int> integerOf(const json& value)
{
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        return u <= static_cast<std::uint64_t>(INT_MAX) ? std::optional<int>(static_cast<int>(u)) : std::nullopt;
    }
    if (value.is_number_integer()) {
        const auto i = value.get<std::int64_t>();
        return i >= INT_MIN && i <= INT_MAX ? std::optional<int>(static_cast<int>(i)) : std::nullopt;
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && d >= INT_MIN && d <= INT_MAX) {
            return static_cast<int>(d);
        }
    }
    return std::nullopt;
}

TokenizerError mergesError()
{
    return TokenizerError::configuration("BPETokenizer requires merges");
}

// Splits a merges line at every blank, keeping empty parts; the pair is the first two parts.
std::optional<std::pair<std::string, std::string>> pairOfLine(const std::string& line)
{
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t second = line.find(' ', blank + 1);
    const std::size_t secondEnd = second == std::string::npos ? line.size() : second;
    return std::make_pair(line.substr(0, blank), line.substr(blank + 1, secondEnd - blank - 1));
}

std::uint64_t pairKey(int a, int b)
{
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) | static_cast<std::uint32_t>(b);
}

} // namespace

std::size_t BytePairHash::operator()(const BytePair& pair) const
{
    const std::size_t first = std::hash<std::string> {}(pair.a);
    return first ^ (std::hash<std::string> {}(pair.b) + 0x9e3779b97f4a7c15ULL + (first << 6) + (first >> 2));
}

// Open-addressing table from a pair of symbol ids to its rank and the id of the merged symbol.
class BPETokenizer::MergeTable {
public:
    struct Merge {
        int rank;
        int merged;
    };

    explicit MergeTable(std::size_t expected)
    {
        std::size_t capacity = 16;
        while (capacity < expected * 2) {
            capacity *= 2;
        }
        keys_.assign(capacity, emptyKey);
        values_.resize(capacity);
        mask_ = capacity - 1;
    }

    // A pair listed again keeps the later rank.
    void insert(int a, int b, Merge merge)
    {
        const std::uint64_t key = pairKey(a, b);
        std::size_t slot = slotOf(key);
        while (keys_[slot] != emptyKey && keys_[slot] != key) {
            slot = (slot + 1) & mask_;
        }
        keys_[slot] = key;
        values_[slot] = merge;
    }

    const Merge* find(int a, int b) const
    {
        if (a < 0 || b < 0) {
            return nullptr;
        }
        const std::uint64_t key = pairKey(a, b);
        for (std::size_t slot = slotOf(key);; slot = (slot + 1) & mask_) {
            if (keys_[slot] == key) {
                return &values_[slot];
            }
            if (keys_[slot] == emptyKey) {
                return nullptr;
            }
        }
    }

private:
    static constexpr std::uint64_t emptyKey = ~std::uint64_t {0};

    std::size_t slotOf(std::uint64_t key) const
    {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdULL;
        key ^= key >> 33;
        return static_cast<std::size_t>(key) & mask_;
    }

    std::vector<std::uint64_t> keys_;
    std::vector<Merge> values_;
    std::size_t mask_ = 0;
};

std::optional<std::string> tokenSettingContent(const hub::Config& tokenizerConfig, const std::string& key)
{
    const auto setting = tokenizerConfig[key];
    if (!setting) {
        return std::nullopt;
    }
    if (!setting->isLeaf()) {
        if (auto content = (*setting)["content"]) {
            return content->stringValue();
        }
        return std::nullopt;
    }
    return setting->stringValue();
}

BPETokenizer::BPETokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData, const AddedTokens& addedTokens)
{
    const auto model = tokenizerData["model"];
    const auto mergesConfig = model ? (*model)["merges"] : std::nullopt;
    const json* mergesList = mergesConfig ? mergesConfig->value() : nullptr;
    if (!mergesList || !mergesList->is_array()) {
        throw mergesError();
    }
    // Both written forms exist: "a b" lines and ["a", "b"] pairs. A line without a blank has no pair
    // but keeps its position.
    std::vector<std::optional<std::pair<std::string, std::string>>> pairs;
    pairs.reserve(mergesList->size());
    for (const json& element : *mergesList) {
        if (element.is_string()) {
            pairs.push_back(pairOfLine(element.get_ref<const std::string&>()));
        } else if (element.is_array() && element.size() == 2 && element[0].is_string() && element[1].is_string()) {
            pairs.emplace_back(std::make_pair(element[0].get<std::string>(), element[1].get<std::string>()));
        } else {
            throw mergesError();
        }
    }

    const auto vocabConfig = model ? (*model)["vocab"] : std::nullopt;
    const json* vocab = vocabConfig ? vocabConfig->object() : nullptr;
    if (!vocab) {
        throw TokenizerError::missingVocab();
    }
    tokensToIds_.reserve(vocab->size() + addedTokens.size());
    for (const auto& [token, value] : vocab->items()) {
        const auto id = integerOf(value);
        if (!id) {
            throw TokenizerError::missingVocab();
        }
        tokensToIds_[token] = *id;
    }

    merges_ = std::make_unique<MergeTable>(pairs.size());
    symbolIds_.reserve(pairs.size() * 2);
    for (std::size_t rank = 0; rank < pairs.size(); ++rank) {
        if (!pairs[rank]) {
            continue;
        }
        const auto& [a, b] = *pairs[rank];
        const int left = internSymbol(a);
        const int right = internSymbol(b);
        const int merged = internSymbol(a + b);
        merges_->insert(left, right, {static_cast<int>(rank), merged});
    }
    characterSymbols_.assign(byteLevelAlphabetEnd, -1);
    for (char32_t character = 0; character < byteLevelAlphabetEnd; ++character) {
        std::string text;
        platform::appendUtf8(text, character);
        characterSymbols_[character] = symbolId(text);
    }

    for (const auto& [content, id] : addedTokens) {
        tokensToIds_[content] = id;
    }
    // Where tokens share an id, the added token wins, then the vocabulary's last in file order.
    for (const auto& [token, value] : vocab->items()) {
        const int id = tokensToIds_.find(token)->second;
        if (!addedTokens.contains(token)) {
            idsToTokens_[id] = token;
        }
    }
    for (const auto& [content, id] : addedTokens) {
        idsToTokens_[id] = content;
    }

    auto idOf = [this](const std::optional<std::string>& token) -> std::optional<int> {
        if (!token) {
            return std::nullopt;
        }
        const auto it = tokensToIds_.find(*token);
        return it == tokensToIds_.end() ? std::nullopt : std::optional<int>(it->second);
    };
    unknownToken_ = tokenSettingContent(tokenizerConfig, "unkToken");
    unknownTokenId_ = idOf(unknownToken_);
    eosToken_ = tokenizerConfig["eosToken"] ? tokenizerConfig["eosToken"]->stringValue() : std::nullopt;
    eosTokenId_ = idOf(eosToken_);
    bosToken_ = tokenizerConfig["bosToken"] ? tokenizerConfig["bosToken"]->stringValue() : std::nullopt;
    bosTokenId_ = idOf(bosToken_);
}

BPETokenizer::~BPETokenizer() = default;

int BPETokenizer::internSymbol(const std::string& text)
{
    const auto [it, inserted] = symbolIds_.try_emplace(text, static_cast<int>(symbolIds_.size()));
    return it->second;
}

int BPETokenizer::symbolId(std::string_view text) const
{
    const auto it = symbolIds_.find(text);
    return it == symbolIds_.end() ? -1 : it->second;
}

void BPETokenizer::splitIntoSymbols(std::string_view piece, std::vector<Symbol>& word) const
{
    word.clear();
    // Below U+0300 (and without CR LF) every scalar is a character of its own: the byte-level case.
    bool simple = true;
    char previous = 0;
    for (char c : piece) {
        if (static_cast<unsigned char>(c) >= 0xCC || (previous == '\r' && c == '\n')) {
            simple = false;
            break;
        }
        previous = c;
    }
    if (simple && platform::isValidUtf8(piece)) {
        std::size_t offset = 0;
        while (offset < piece.size()) {
            const std::size_t start = offset;
            const char32_t scalar = platform::nextScalar(piece, offset);
            const int id = scalar < byteLevelAlphabetEnd ? characterSymbols_[scalar] : symbolId(piece.substr(start, offset - start));
            word.push_back({id, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(offset)});
        }
        return;
    }
    for (std::string_view cluster : platform::graphemeClusters(piece)) {
        const auto start = static_cast<std::uint32_t>(cluster.data() - piece.data());
        word.push_back({symbolId(cluster), start, start + static_cast<std::uint32_t>(cluster.size())});
    }
}

// Repeatedly merges every occurrence of the lowest-ranked adjacent pair, left to right without
// overlap, until no adjacent pair has a rank. Pairs that a round creates wait for the next round,
// so a round never sees its own results; a heap keeps long pieces from going quadratic.
void BPETokenizer::mergeSymbols(std::vector<Symbol>& word) const
{
    const int count = static_cast<int>(word.size());
    if (count < 2) {
        return;
    }
    struct Candidate {
        int rank;
        int position;
        int left;
        int right;
        int merged;
    };
    auto later = [](const Candidate& x, const Candidate& y) {
        return x.rank != y.rank ? x.rank > y.rank : x.position > y.position;
    };
    thread_local std::vector<int> next;
    thread_local std::vector<int> previous;
    thread_local std::vector<Candidate> heap;
    thread_local std::vector<int> mergedPositions;
    next.resize(static_cast<std::size_t>(count));
    previous.resize(static_cast<std::size_t>(count));
    heap.clear();
    for (int k = 0; k < count; ++k) {
        next[static_cast<std::size_t>(k)] = k + 1 < count ? k + 1 : -1;
        previous[static_cast<std::size_t>(k)] = k - 1;
    }
    auto consider = [&](int position) {
        const int right = next[static_cast<std::size_t>(position)];
        if (right < 0) {
            return;
        }
        const int a = word[static_cast<std::size_t>(position)].id;
        const int b = word[static_cast<std::size_t>(right)].id;
        if (const auto* merge = merges_->find(a, b)) {
            heap.push_back({merge->rank, position, a, b, merge->merged});
            std::push_heap(heap.begin(), heap.end(), later);
        }
    };
    for (int k = 0; k + 1 < count; ++k) {
        consider(k);
    }
    while (!heap.empty()) {
        const int best = heap.front().rank;
        mergedPositions.clear();
        while (!heap.empty() && heap.front().rank == best) {
            std::pop_heap(heap.begin(), heap.end(), later);
            const Candidate candidate = heap.back();
            heap.pop_back();
            Symbol& left = word[static_cast<std::size_t>(candidate.position)];
            const int right = next[static_cast<std::size_t>(candidate.position)];
            if (left.id != candidate.left || right < 0 || word[static_cast<std::size_t>(right)].id != candidate.right) {
                continue; // stale: one side was merged since
            }
            left.id = candidate.merged;
            left.end = word[static_cast<std::size_t>(right)].end;
            word[static_cast<std::size_t>(right)].id = -2; // consumed
            const int after = next[static_cast<std::size_t>(right)];
            next[static_cast<std::size_t>(candidate.position)] = after;
            if (after >= 0) {
                previous[static_cast<std::size_t>(after)] = candidate.position;
            }
            mergedPositions.push_back(candidate.position);
        }
        for (int position : mergedPositions) {
            if (previous[static_cast<std::size_t>(position)] >= 0) {
                consider(previous[static_cast<std::size_t>(position)]);
            }
            consider(position);
        }
    }
    std::size_t kept = 0;
    for (int k = 0; k >= 0; k = next[static_cast<std::size_t>(k)]) {
        word[kept++] = word[static_cast<std::size_t>(k)];
    }
    word.resize(kept);
}

std::vector<BPETokenizer::Symbol> BPETokenizer::mergedSymbols(std::string_view piece) const
{
    if (piece.size() >= UINT32_MAX) {
        throw std::length_error("piece too long for byte-pair encoding");
    }
    std::vector<Symbol> word;
    splitIntoSymbols(piece, word);
    mergeSymbols(word);
    return word;
}

std::string BPETokenizer::bpeMerge(const std::string& token) const
{
    std::string joined;
    for (const Symbol& symbol : mergedSymbols(token)) {
        if (!joined.empty()) {
            joined += ' ';
        }
        joined.append(token, symbol.begin, symbol.end - symbol.begin);
    }
    return joined;
}

std::vector<std::string> BPETokenizer::tokenize(const std::string& text) const
{
    std::vector<std::string> tokens;
    for (const Symbol& symbol : mergedSymbols(text)) {
        std::string_view symbolText(text.data() + symbol.begin, symbol.end - symbol.begin);
        // The merged symbols are joined and split at blanks, so a blank inside a symbol separates.
        std::size_t from = 0;
        while (from <= symbolText.size()) {
            std::size_t blank = symbolText.find(' ', from);
            if (blank == std::string_view::npos) {
                blank = symbolText.size();
            }
            const std::string_view part = symbolText.substr(from, blank - from);
            if (!part.empty()) {
                if (tokensToIds_.find(part) != tokensToIds_.end()) {
                    tokens.emplace_back(part);
                } else {
                    auto bytes = byteFallbackTokens(part);
                    tokens.insert(tokens.end(), std::make_move_iterator(bytes.begin()), std::make_move_iterator(bytes.end()));
                }
            }
            from = blank + 1;
        }
    }
    return tokens;
}

std::vector<std::string> BPETokenizer::byteFallbackTokens(std::string_view symbol)
{
    // Cutting the symbol with the GPT-2 expression first would change nothing: its matches cover
    // every character, so the bytes come out in order either way.
    std::vector<std::string> tokens;
    tokens.reserve(symbol.size());
    for (char c : symbol) {
        char text[8];
        std::snprintf(text, sizeof text, "<0x%02X>", static_cast<unsigned char>(c));
        tokens.emplace_back(text);
    }
    return tokens;
}

std::optional<int> BPETokenizer::bpeRank(const BytePair& pair) const
{
    const auto* merge = merges_->find(symbolId(pair.a), symbolId(pair.b));
    return merge ? std::optional<int>(merge->rank) : std::nullopt;
}

std::optional<int> BPETokenizer::convertTokenToId(const std::string& token) const
{
    const auto it = tokensToIds_.find(token);
    return it == tokensToIds_.end() ? unknownTokenId_ : std::optional<int>(it->second);
}

std::optional<int> BPETokenizer::knownTokenId(const std::string& token) const
{
    const auto it = tokensToIds_.find(token);
    return it == tokensToIds_.end() ? std::nullopt : std::optional<int>(it->second);
}

std::optional<std::string> BPETokenizer::convertIdToToken(int id) const
{
    const auto it = idsToTokens_.find(id);
    return it == idsToTokens_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

} // namespace tokenizers
