#include "BpeTrainer.hpp"

#include "platform/text/UnicodeText.hpp"

#include <algorithm>
#include <queue>

namespace bench {

namespace {

std::uint64_t keyOf(int a, int b)
{
    return (static_cast<std::uint64_t>(a) << 32) | static_cast<std::uint32_t>(b);
}

} // namespace

std::vector<std::pair<std::string, std::string>> learnMerges(const std::unordered_map<std::string, long>& pieceCounts,
    std::size_t mergeCount)
{
    std::vector<std::string> symbols;
    std::unordered_map<std::string, int> symbolIds;
    auto intern = [&](const std::string& text) {
        const auto [it, inserted] = symbolIds.try_emplace(text, static_cast<int>(symbols.size()));
        if (inserted) {
            symbols.push_back(text);
        }
        return it->second;
    };

    // Sorted so that the result does not depend on the map's order.
    std::vector<std::pair<std::string, long>> pieces(pieceCounts.begin(), pieceCounts.end());
    std::sort(pieces.begin(), pieces.end());
    std::vector<std::vector<int>> words;
    std::vector<long> frequencies;
    for (const auto& [piece, count] : pieces) {
        std::vector<int> word;
        std::size_t offset = 0;
        while (offset < piece.size()) {
            const std::size_t start = offset;
            platform::nextScalar(piece, offset);
            word.push_back(intern(piece.substr(start, offset - start)));
        }
        words.push_back(std::move(word));
        frequencies.push_back(count);
    }

    std::unordered_map<std::uint64_t, long> pairCounts;
    std::unordered_map<std::uint64_t, std::vector<int>> wordsWithPair;
    std::priority_queue<std::pair<long, std::uint64_t>> heap;
    auto change = [&](int a, int b, long delta, int wordIndex) {
        const std::uint64_t key = keyOf(a, b);
        long& count = pairCounts[key];
        count += delta;
        if (delta > 0) {
            wordsWithPair[key].push_back(wordIndex);
        }
        heap.emplace(count, key);
    };
    for (std::size_t w = 0; w < words.size(); ++w) {
        for (std::size_t i = 0; i + 1 < words[w].size(); ++i) {
            change(words[w][i], words[w][i + 1], frequencies[w], static_cast<int>(w));
        }
    }

    std::vector<std::pair<std::string, std::string>> merges;
    std::vector<std::size_t> visited(words.size(), SIZE_MAX);
    while (merges.size() < mergeCount && !heap.empty()) {
        const auto [count, key] = heap.top();
        heap.pop();
        if (count <= 0 || pairCounts[key] != count) {
            continue; // stale entry
        }
        const int a = static_cast<int>(key >> 32);
        const int b = static_cast<int>(key & 0xFFFFFFFFu);
        const int merged = intern(symbols[static_cast<std::size_t>(a)] + symbols[static_cast<std::size_t>(b)]);
        merges.emplace_back(symbols[static_cast<std::size_t>(a)], symbols[static_cast<std::size_t>(b)]);

        const std::vector<int> candidates = std::move(wordsWithPair[key]);
        wordsWithPair.erase(key);
        for (int w : candidates) {
            if (visited[static_cast<std::size_t>(w)] == merges.size()) {
                continue;
            }
            visited[static_cast<std::size_t>(w)] = merges.size();
            std::vector<int>& word = words[static_cast<std::size_t>(w)];
            const long frequency = frequencies[static_cast<std::size_t>(w)];
            std::vector<int> rebuilt;
            rebuilt.reserve(word.size());
            for (std::size_t i = 0; i < word.size();) {
                if (i + 1 < word.size() && word[i] == a && word[i + 1] == b) {
                    const int left = rebuilt.empty() ? -1 : rebuilt.back();
                    const int right = i + 2 < word.size() ? word[i + 2] : -1;
                    change(a, b, -frequency, w);
                    if (left >= 0) {
                        change(left, a, -frequency, w);
                        change(left, merged, frequency, w);
                    }
                    if (right >= 0) {
                        change(b, right, -frequency, w);
                        change(merged, right, frequency, w);
                    }
                    rebuilt.push_back(merged);
                    i += 2;
                } else {
                    rebuilt.push_back(word[i++]);
                }
            }
            word = std::move(rebuilt);
        }
    }
    return merges;
}

} // namespace bench
