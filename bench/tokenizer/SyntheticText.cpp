#include "SyntheticText.hpp"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <random>
#include <string_view>
#include <vector>

namespace bench {

namespace {

constexpr std::string_view commonWords[] = {
    "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be", "by", "on", "not",
    "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had", "they", "you", "were",
    "their", "one", "all", "we", "can", "her", "has", "there", "been", "if", "more", "when", "will", "would",
    "who", "so", "no", "she", "other", "its", "may", "these", "what", "them", "than", "some", "him", "time",
    "into", "only", "do", "could", "new", "about", "two", "first", "then", "also", "after", "any", "like",
    "our", "over", "such", "most", "people", "years", "made", "way", "where", "many", "before", "through",
    "state", "each", "because", "should", "work", "world", "much", "between", "life", "under", "never",
    "day", "same", "another", "know", "while", "last", "might", "great", "old", "year", "off", "come",
    "since", "against", "go", "came", "right", "used", "take", "three", "himself", "few", "house", "use",
    "during", "without", "again", "place", "around", "however", "home", "small", "found", "thought", "went",
    "say", "part", "once", "general", "high", "upon", "school", "every", "does", "got", "united", "left",
    "number", "course", "war", "until", "always", "away", "something", "fact", "though", "water", "less",
    "public", "put", "think", "almost", "hand", "enough", "far", "took", "head", "yet", "government",
    "system", "better", "set", "told",
};

constexpr std::string_view syllables[] = {
    "ka", "ro", "mi", "ten", "sa", "lo", "ver", "an", "dre", "qui", "pol", "us", "ex", "tra", "gen", "is",
    "mor", "fal", "bi", "cor", "dun", "el", "fir", "gas", "hol", "im", "jun", "kel", "lum", "nar", "ob",
    "pen", "ras", "sil", "tor", "ul", "vin", "wes", "yar", "zo", "ch", "sh", "th", "ing", "tion", "ly", "er", "ous",
};

constexpr std::string_view rarities[] = {
    "caf\xC3\xA9", "na\xC3\xAFve", "r\xC3\xA9sum\xC3\xA9", "\xC3\xBC" "ber", "\xF0\x9F\x98\x80",
    "\xE2\x80\x94", "se\xC3\xB1or", "\xE2\x82\xAC" "5",
};

} // namespace

std::string syntheticText(std::size_t bytes, std::uint32_t seed)
{
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    auto word = [&]() -> std::string {
        if (chance(70)) {
            // Zipf-like preference for the first words of the list.
            const std::size_t a = random() % std::size(commonWords);
            const std::size_t b = random() % std::size(commonWords);
            return std::string(commonWords[std::min(a, b)]);
        }
        if (chance(2)) {
            return std::string(rarities[random() % std::size(rarities)]);
        }
        std::string invented;
        const int count = 2 + static_cast<int>(random() % 3);
        for (int i = 0; i < count; ++i) {
            invented += syllables[random() % std::size(syllables)];
        }
        return invented;
    };

    std::string text;
    text.reserve(bytes + 256);
    while (text.size() < bytes) {
        const int sentences = 2 + static_cast<int>(random() % 6);
        for (int s = 0; s < sentences; ++s) {
            const int words = 4 + static_cast<int>(random() % 18);
            for (int w = 0; w < words; ++w) {
                std::string next = word();
                if (w == 0) {
                    next[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(next[0])));
                } else {
                    text += ' ';
                }
                if (chance(3)) {
                    text += std::to_string(random() % 2025);
                    text += ' ';
                }
                text += chance(4) ? "\"" + next + "\"" : next;
                if (chance(4)) {
                    text += chance(50) ? "'s" : "n't";
                }
                if (w + 1 < words && chance(8)) {
                    text += chance(80) ? "," : ";";
                }
            }
            text += chance(85) ? "." : (chance(50) ? "?" : "!");
            text += s + 1 < sentences ? " " : "";
        }
        text += chance(20) ? "\n\n" : "\n";
    }
    text.resize(bytes);
    // Never end inside a multi-byte character.
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0x80)) {
        text.pop_back();
    }
    return text;
}

} // namespace bench
