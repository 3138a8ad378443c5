#include "Tokenizers/BPETokenizer.hpp"

#include "Tokenizers/ByteEncoder.hpp"
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

// Open-addressing table from a pair of symbol ids to its rank; the merged symbol is looked up by
// rank. A slot packs both ids and the rank into 64 bits when they fit (they do for vocabularies of
// any real size), halving the memory that lookups walk; otherwise slots hold them side by side.
class BPETokenizer::MergeTable {
public:
    struct Merge {
        int rank;
        int merged;
    };

    MergeTable(std::size_t expected, std::size_t symbolCount)
        : compact_(symbolCount < (std::size_t {1} << idBits) && expected < (std::size_t {1} << rankBits))
    {
        std::size_t capacity = 16;
        while (capacity < expected * 2) {
            capacity *= 2;
        }
        mask_ = capacity - 1;
        if (compact_) {
            compactSlots_.assign(capacity, emptyKey);
        } else {
            wideSlots_.assign(capacity, WideSlot {emptyKey, 0});
        }
        mergedOfRank_.assign(expected, -1);
    }

    // A pair listed again keeps the later rank.
    void insert(int a, int b, Merge merge)
    {
        mergedOfRank_[static_cast<std::size_t>(merge.rank)] = merge.merged;
        const std::uint64_t pair = pairKey(a, b);
        if (compact_) {
            const std::uint64_t packed = (packedPair(a, b) << rankBits) | static_cast<std::uint64_t>(merge.rank);
            for (std::size_t slot = slotOf(pair);; slot = (slot + 1) & mask_) {
                if (compactSlots_[slot] == emptyKey || (compactSlots_[slot] >> rankBits) == packedPair(a, b)) {
                    compactSlots_[slot] = packed;
                    return;
                }
            }
        }
        for (std::size_t slot = slotOf(pair);; slot = (slot + 1) & mask_) {
            if (wideSlots_[slot].key == emptyKey || wideSlots_[slot].key == pair) {
                wideSlots_[slot] = {pair, merge.rank};
                return;
            }
        }
    }

    std::optional<Merge> find(int a, int b) const
    {
        if (a < 0 || b < 0) {
            return std::nullopt;
        }
        const std::uint64_t pair = pairKey(a, b);
        if (compact_) {
            const std::uint64_t wanted = packedPair(a, b);
            for (std::size_t slot = slotOf(pair);; slot = (slot + 1) & mask_) {
                const std::uint64_t value = compactSlots_[slot];
                if (value == emptyKey) {
                    return std::nullopt;
                }
                if ((value >> rankBits) == wanted) {
                    const int rank = static_cast<int>(value & ((std::uint64_t {1} << rankBits) - 1));
                    return Merge {rank, mergedOfRank_[static_cast<std::size_t>(rank)]};
                }
            }
        }
        for (std::size_t slot = slotOf(pair);; slot = (slot + 1) & mask_) {
            if (wideSlots_[slot].key == pair) {
                const int rank = wideSlots_[slot].rank;
                return Merge {rank, mergedOfRank_[static_cast<std::size_t>(rank)]};
            }
            if (wideSlots_[slot].key == emptyKey) {
                return std::nullopt;
            }
        }
    }

private:
    static constexpr std::uint64_t emptyKey = ~std::uint64_t {0};
    static constexpr int idBits = 20;
    static constexpr int rankBits = 24;

    struct WideSlot {
        std::uint64_t key;
        int rank;
    };

    static std::uint64_t packedPair(int a, int b)
    {
        return (static_cast<std::uint64_t>(a) << idBits) | static_cast<std::uint64_t>(b);
    }

    std::size_t slotOf(std::uint64_t key) const
    {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdULL;
        key ^= key >> 33;
        return static_cast<std::size_t>(key) & mask_;
    }

    bool compact_;
    std::vector<std::uint64_t> compactSlots_;
    std::vector<WideSlot> wideSlots_;
    std::vector<int> mergedOfRank_;
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
        const auto id = hub::Config::intOf(value);
        if (!id) {
            throw TokenizerError::missingVocab();
        }
        tokensToIds_[token] = *id;
    }

    struct Interned {
        int left;
        int right;
        int merged;
    };
    std::vector<Interned> interned(pairs.size(), Interned {-1, -1, -1});
    symbolIds_.reserve(pairs.size() * 2);
    for (std::size_t rank = 0; rank < pairs.size(); ++rank) {
        if (pairs[rank]) {
            const auto& [a, b] = *pairs[rank];
            interned[rank] = {internSymbol(a), internSymbol(b), internSymbol(a + b)};
        }
    }
    merges_ = std::make_unique<MergeTable>(pairs.size(), symbolIds_.size());
    for (std::size_t rank = 0; rank < interned.size(); ++rank) {
        if (interned[rank].left >= 0) {
            merges_->insert(interned[rank].left, interned[rank].right, {static_cast<int>(rank), interned[rank].merged});
        }
    }
    characterSymbols_.assign(byteLevelAlphabetEnd, -1);
    for (char32_t character = 0; character < byteLevelAlphabetEnd; ++character) {
        std::string text;
        platform::appendUtf8(text, character);
        characterSymbols_[character] = symbolId(text);
    }

    for (std::size_t byte = 0; byte < 256; ++byte) {
        byteSymbols_[byte] = symbolId(byteEncoder()[byte]);
    }

    for (const auto& [content, id] : addedTokens) {
        tokensToIds_[content] = id;
    }
    // Where tokens share an id, the added token wins, then the vocabulary's last in key order.
    for (const auto& [token, value] : vocab->items()) {
        const int id = tokensToIds_.find(token)->second;
        if (!addedTokens.contains(token)) {
            idsToTokens_[id] = token;
        }
    }
    for (const auto& [content, id] : addedTokens) {
        idsToTokens_[id] = content;
    }

    symbolVocabularyIds_.assign(symbolIds_.size(), notInVocabulary);
    for (const auto& [text, id] : symbolIds_) {
        if (text.find(' ') != std::string::npos) {
            symbolVocabularyIds_[static_cast<std::size_t>(id)] = holdsBlank;
        } else if (const auto it = tokensToIds_.find(text); it != tokensToIds_.end()) {
            symbolVocabularyIds_[static_cast<std::size_t>(id)] = it->second;
        }
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
    for (std::size_t byte = 0; byte < 256; ++byte) {
        byteTokenIds_[byte] = convertTokenToId(byteFallbackTokens(std::string(1, static_cast<char>(byte))).front());
    }
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
// overlap, until no adjacent pair has a rank. Pairs that a round creates wait for the next round.
void BPETokenizer::mergeSymbols(std::vector<Symbol>& word) const
{
    if (word.size() < 2) {
        return;
    }
    if (word.size() <= shortWord) {
        mergeShortWord(word);
    } else {
        mergeLongWord(word);
    }
}

// Rounds over a small array of pair ranks; only pairs touching a merged symbol are looked up again.
void BPETokenizer::mergeShortWord(std::vector<Symbol>& word) const
{
    struct Pair {
        int rank;
        int merged;
    };
    auto lookup = [this](const Symbol& a, const Symbol& b) -> Pair {
        const auto merge = merges_->find(a.id, b.id);
        return merge ? Pair {merge->rank, merge->merged} : Pair {INT_MAX, -1};
    };
    std::array<Pair, shortWord> pairs;
    std::array<Pair, shortWord> nextPairs;
    std::array<Symbol, shortWord> rebuilt;
    std::array<int, shortWord> oldIndex; // -1 for a symbol made in this round
    std::size_t count = word.size();
    for (std::size_t k = 0; k + 1 < count; ++k) {
        pairs[k] = lookup(word[k], word[k + 1]);
    }
    while (count > 1) {
        int best = INT_MAX;
        for (std::size_t k = 0; k + 1 < count; ++k) {
            best = std::min(best, pairs[k].rank);
        }
        if (best == INT_MAX) {
            break;
        }
        // Ranks identify pairs, so every position holding the best rank is an occurrence.
        std::size_t written = 0;
        for (std::size_t i = 0; i < count; ++written) {
            if (i + 1 < count && pairs[i].rank == best) {
                rebuilt[written] = {pairs[i].merged, word[i].begin, word[i + 1].end};
                oldIndex[written] = -1;
                i += 2;
            } else {
                rebuilt[written] = word[i];
                oldIndex[written] = static_cast<int>(i);
                i += 1;
            }
        }
        for (std::size_t k = 0; k + 1 < written; ++k) {
            nextPairs[k] = oldIndex[k] >= 0 && oldIndex[k + 1] >= 0 ? pairs[static_cast<std::size_t>(oldIndex[k])]
                                                                   : lookup(rebuilt[k], rebuilt[k + 1]);
        }
        std::copy_n(rebuilt.begin(), written, word.begin());
        std::copy_n(nextPairs.begin(), written > 0 ? written - 1 : 0, pairs.begin());
        count = written;
    }
    word.resize(count);
}

// The same rounds with a heap of candidate pairs, so that long pieces do not go quadratic.
void BPETokenizer::mergeLongWord(std::vector<Symbol>& word) const
{
    const int count = static_cast<int>(word.size());
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
    std::vector<int> next(static_cast<std::size_t>(count));
    std::vector<int> previous(static_cast<std::size_t>(count));
    std::vector<Candidate> heap;
    std::vector<int> mergedPositions;
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
        if (const auto merge = merges_->find(a, b)) {
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

const std::vector<BPETokenizer::Symbol>& BPETokenizer::mergedSymbols(std::string_view piece) const
{
    if (piece.size() >= UINT32_MAX) {
        throw std::length_error("piece too long for byte-pair encoding");
    }
    thread_local std::vector<Symbol> word;
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

// The tokens of one merged symbol: the symbol's parts between blanks (the merged symbols are joined
// and split at blanks), each kept when the vocabulary has it and given as byte tokens otherwise.
template<typename Emit, typename EmitBytes>
void BPETokenizer::forEachToken(std::string_view symbolText, const Emit& emit, const EmitBytes& emitBytes) const
{
    std::size_t from = 0;
    while (from <= symbolText.size()) {
        std::size_t blank = symbolText.find(' ', from);
        if (blank == std::string_view::npos) {
            blank = symbolText.size();
        }
        const std::string_view part = symbolText.substr(from, blank - from);
        if (!part.empty()) {
            if (const auto it = tokensToIds_.find(part); it != tokensToIds_.end()) {
                emit(part, it->second);
            } else {
                emitBytes(part);
            }
        }
        from = blank + 1;
    }
}

std::vector<std::string> BPETokenizer::tokenize(const std::string& text) const
{
    std::vector<std::string> tokens;
    for (const Symbol& symbol : mergedSymbols(text)) {
        forEachToken(
            std::string_view(text.data() + symbol.begin, symbol.end - symbol.begin),
            [&](std::string_view part, int) { tokens.emplace_back(part); },
            [&](std::string_view part) {
                auto bytes = byteFallbackTokens(part);
                tokens.insert(tokens.end(), std::make_move_iterator(bytes.begin()), std::make_move_iterator(bytes.end()));
            });
    }
    return tokens;
}

void BPETokenizer::appendTokenIds(const std::string& text, std::vector<int>& ids) const
{
    auto emitBytes = [&](std::string_view part) {
        for (char c : part) {
            if (const auto& id = byteTokenIds_[static_cast<unsigned char>(c)]) {
                ids.push_back(*id);
            }
        }
    };
    for (const Symbol& symbol : mergedSymbols(text)) {
        const int known = symbol.id >= 0 ? symbolVocabularyIds_[static_cast<std::size_t>(symbol.id)] : notInVocabulary;
        if (known >= 0) {
            ids.push_back(known);
            continue;
        }
        forEachToken(std::string_view(text.data() + symbol.begin, symbol.end - symbol.begin),
            [&](std::string_view, int id) { ids.push_back(id); }, emitBytes);
    }
}

void BPETokenizer::appendByteLevelTokenIds(std::string_view bytes, std::vector<int>& ids) const
{
    if (bytes.size() >= UINT32_MAX) {
        throw std::length_error("piece too long for byte-pair encoding");
    }
    thread_local std::vector<Symbol> word;
    word.clear();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        word.push_back({byteSymbols_[static_cast<unsigned char>(bytes[i])], static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i + 1)});
    }
    mergeSymbols(word);
    const ByteEncoder& encoder = byteEncoder();
    for (const Symbol& symbol : word) {
        const int known = symbol.id >= 0 ? symbolVocabularyIds_[static_cast<std::size_t>(symbol.id)] : notInVocabulary;
        if (known >= 0) {
            ids.push_back(known);
            continue;
        }
        std::string spelled;
        for (std::uint32_t i = symbol.begin; i < symbol.end; ++i) {
            spelled += encoder[static_cast<unsigned char>(bytes[i])];
        }
        forEachToken(
            spelled, [&](std::string_view, int id) { ids.push_back(id); },
            [&](std::string_view part) {
                for (char c : part) {
                    if (const auto& id = byteTokenIds_[static_cast<unsigned char>(c)]) {
                        ids.push_back(*id);
                    }
                }
            });
    }
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
    const auto merge = merges_->find(symbolId(pair.a), symbolId(pair.b));
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
