#include "app/recorder/SmartNamingEngine.hpp"

#include "app/recorder/RecorderText.hpp"

#include "platform/text/CharacterProperties.hpp"
#include "platform/text/Graphemes.hpp"
#include "platform/text/Regex.hpp"
#include "platform/text/TextTransforms.hpp"
#include "platform/text/UnicodeText.hpp"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace parlino {

namespace {

// One block of stop words per language, words separated by single spaces.
constexpr std::array<std::string_view, 10> stopWordBlocks {
    // English
    "the a an is are was were be been being have has had do does did will would could should may might shall can "
    "need must i me my we our you your he she it they them his her its this that these those and but or not so if "
    "then than too very just about also with from for into over after before between under again there here when "
    "where why how all each every both few more most other some such only same what which who whom while um uh "
    "like know actually basically well okay hmm ah er eh yeah yes",
    // Slovak
    "a aj ale alebo ani áno asi až buď bol bola boli bolo by byť do ja je jeho jej ich iný keď lebo len mi mne mňa "
    "moja môj na nad nám nie niečo niekto od on ona oni ono po pod pre pred sa si so som sme ste sú tak tá táto ten "
    "tento tie tiež to tu tú ty už veľmi viac však za zo že",
    // Czech
    "aby jako jsem jsi jsme jsou být mít kde kdy kdo které který než proto tak tady tam toto také velmi",
    // German
    "der die das ein eine und oder aber ist sind war hat haben wird werden ich du er sie wir ihr mit von für auf "
    "aus bei nach über auch noch nur schon sehr dann wenn",
    // French
    "le la les un une des du de est sont était été avoir être je tu il elle nous vous ils elles et ou mais donc car "
    "ni ce cette ces mon ma mes ton ta dans sur sous avec pour par en pas plus très aussi bien encore",
    // Spanish
    "el la los las un una unos unas es son está están fue ser estar yo tú él ella nosotros ellos ellas y o pero "
    "porque que como mi tu su nuestro en con por para sin sobre no más muy también aquí",
    // Polish
    "i w na do z nie się to jest że co jak ale tak czy ten ta te ja ty on ona my oni",
    // Russian
    "и в не на я что он с это как но мы вы они она все так его за от по из бы же то",
    // Italian
    "il lo la gli le un uno una è sono era essere avere io tu lui lei noi voi loro e o ma però perché che come di "
    "da in con su per tra non più molto anche ancora",
    // Portuguese
    "o a os as um uma uns umas é são foi ser ter eu ele ela nós eles elas em com por para sem não mais muito também",
};

constexpr std::array<std::string_view, 26> topicKeywords {"project", "meeting", "task", "idea", "note", "reminder",
    "todo", "call", "email", "presentation", "review", "plan", "proposal", "budget", "report", "projekt", "schôdzka",
    "úloha", "nápad", "poznámka", "プロジェクト", "会議", "タスク", "项目", "会议", "任务"};

constexpr std::array<std::string_view, 29> titleCues {"title:", "name:", "session:", "topic:", "subject:", "názov:",
    "téma:", "predmet:", "název:", "předmět:", "titel:", "thema:", "titre:", "nom:", "sujet:", "título:", "nombre:",
    "tytuł:", "nazwa:", "temat:", "名前:", "タイトル:", "标题:", "题目:", "başlık:", "konu:", "заголовок:", "тема:",
    "название:"};

struct Replacement {
    char32_t character;
    std::string_view text;
};

constexpr std::array<Replacement, 23> fileNameReplacements {{
    {U'/', "-"}, {U':', "-"}, {U'\\', "-"}, {U'&', "and"}, {U'@', "at"}, {U'+', "plus"}, {U'*', ""}, {U'?', ""},
    {U'"', ""}, {U'<', ""}, {U'>', ""}, {U'|', ""}, {U'#', ""}, {U'%', ""}, {U'{', ""}, {U'}', ""}, {U'$', ""},
    {U'!', ""}, {U'\'', ""}, {U'`', ""}, {U'=', ""}, {U'[', ""}, {U']', ""},
}};

constexpr std::size_t maxTitleWords = 10;
constexpr std::size_t maxTopicWords = 3;
constexpr std::size_t maxKeywords = 5;
constexpr std::size_t minExplicitTitleCharacters = 3;
constexpr std::string_view fallbackTitle = "Voice Memo";
constexpr std::string_view fallbackFileTitle = "Memo";
constexpr std::string_view fileExtension = ".m4a";

std::string utf8(const QString& text)
{
    return text.toStdString();
}

QString qt(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isNewline(char32_t c)
{
    return c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f' || c == U'\u0085' || c == U'\u2028' || c == U'\u2029';
}

bool isSentenceEnd(char32_t c)
{
    return c == U'.' || c == U'!' || c == U'?';
}

// The text before the first scalar that ends it.
template <typename Predicate>
std::string prefixBefore(std::string_view text, Predicate ends)
{
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t at = offset;
        if (ends(platform::nextScalar(text, offset))) {
            return std::string(text.substr(0, at));
        }
    }
    return std::string(text);
}

// Runs of letters, marks and digits.
std::vector<std::string> words(std::string_view text)
{
    std::vector<std::string> found;
    std::string current;
    std::size_t offset = 0;
    while (offset < text.size()) {
        const char32_t scalar = platform::nextScalar(text, offset);
        if (platform::isAlphanumeric(scalar)) {
            platform::appendUtf8(current, scalar);
        } else if (!current.empty()) {
            found.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) {
        found.push_back(std::move(current));
    }
    return found;
}

std::string joined(const std::vector<std::string>& pieces, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < std::min(count, pieces.size()); ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += pieces[i];
    }
    return text;
}

// Pieces between single blanks; blanks in a row leave empty pieces.
std::vector<std::string> splitAtBlanks(std::string_view text)
{
    std::vector<std::string> pieces(1);
    std::size_t offset = 0;
    while (offset < text.size()) {
        const char32_t scalar = platform::nextScalar(text, offset);
        if (platform::isBlank(scalar)) {
            pieces.emplace_back();
        } else {
            platform::appendUtf8(pieces.back(), scalar);
        }
    }
    return pieces;
}

// A text lower-cased scalar by scalar, with where each original scalar begins in it, so that a
// position found in the lower-cased text leads back to a whole scalar of the original.
struct LoweredText {
    std::string original;
    std::string lower;
    std::vector<std::size_t> originalOffsets; // byte offset of each original scalar, then the end
    std::vector<std::size_t> lowerOffsets;    // where that scalar's lower-case form begins, then the end

    explicit LoweredText(std::string text)
        : original(std::move(text))
    {
        std::size_t offset = 0;
        while (offset < original.size()) {
            const std::size_t at = offset;
            platform::nextScalar(original, offset);
            originalOffsets.push_back(at);
            lowerOffsets.push_back(lower.size());
            lower += platform::lowercased(std::string_view(original).substr(at, offset - at));
        }
        originalOffsets.push_back(original.size());
        lowerOffsets.push_back(lower.size());
    }

    // The original from the first scalar whose lower-case form starts at or after `lowerOffset`.
    std::string_view originalFrom(std::size_t lowerOffset) const
    {
        const auto it = std::lower_bound(lowerOffsets.begin(), lowerOffsets.end(), lowerOffset);
        const auto index = static_cast<std::size_t>(it - lowerOffsets.begin());
        return std::string_view(original).substr(originalOffsets[std::min(index, originalOffsets.size() - 1)]);
    }
};

std::string literalPattern(std::string_view text)
{
    return "\\Q" + std::string(text) + "\\E";
}

struct CuePatterns {
    std::array<platform::Regex, 3> patterns;
};

const std::vector<CuePatterns>& cuePatterns()
{
    static const std::vector<CuePatterns> compiled = [] {
        std::vector<CuePatterns> all;
        for (const std::string_view cue : titleCues) {
            const std::string literal = literalPattern(cue);
            all.push_back({{platform::Regex("^" + literal), platform::Regex("[.!?]\\s+" + literal),
                platform::Regex("\\n" + literal)}});
        }
        return all;
    }();
    return compiled;
}

const std::vector<platform::Regex>& keywordPatterns()
{
    static const std::vector<platform::Regex> compiled = [] {
        std::vector<platform::Regex> all;
        for (const std::string_view keyword : topicKeywords) {
            all.emplace_back("(?i)\\b" + literalPattern(keyword) + "\\b");
        }
        return all;
    }();
    return compiled;
}

std::optional<std::string> titleAfterCue(std::string_view rest)
{
    std::string title = prefixBefore(rest, isNewline);
    title = prefixBefore(title, isSentenceEnd);
    title = joined(splitAtBlanks(trimmedText(title)), maxTitleWords);
    if (title.empty() || platform::graphemeCount(title) < minExplicitTitleCharacters) {
        return std::nullopt;
    }
    return trimmedText(title);
}

// Control characters and line breaks have no place in a file name.
bool isUnsafeInFileName(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == U'\u2028' || c == U'\u2029';
}

std::string fileTitlePart(std::string_view title, std::size_t maxBytes)
{
    std::string part;
    std::size_t offset = 0;
    while (offset < title.size()) {
        const char32_t scalar = platform::nextScalar(title, offset);
        if (scalar == U' ') {
            part += '_';
            continue;
        }
        if (isUnsafeInFileName(scalar)) {
            continue;
        }
        const auto replacement = std::find_if(fileNameReplacements.begin(), fileNameReplacements.end(),
            [&](const Replacement& r) { return r.character == scalar; });
        if (replacement != fileNameReplacements.end()) {
            part += replacement->text;
        } else {
            platform::appendUtf8(part, scalar);
        }
    }
    // Whole characters only, no more than the title allows and the name has room for.
    std::string cut;
    int characters = 0;
    for (const std::string_view character : platform::graphemeClusters(part)) {
        if (characters == SmartNamingEngine::maxTitleCharacters || cut.size() + character.size() > maxBytes) {
            break;
        }
        cut += character;
        ++characters;
    }
    const auto edge = [](char c) { return c == '_' || c == '-'; };
    const auto begin = std::find_if_not(cut.begin(), cut.end(), edge);
    const auto end = std::find_if_not(cut.rbegin(), std::make_reverse_iterator(begin), edge).base();
    std::string result(begin, end);
    return result.empty() ? std::string(fallbackFileTitle) : result;
}

} // namespace

const std::unordered_set<std::string>& SmartNamingEngine::stopWords()
{
    static const std::unordered_set<std::string> words = [] {
        std::unordered_set<std::string> set;
        for (const std::string_view block : stopWordBlocks) {
            std::size_t start = 0;
            while (start < block.size()) {
                const std::size_t end = std::min(block.find(' ', start), block.size());
                set.emplace(block.substr(start, end - start));
                start = end + 1;
            }
        }
        return set;
    }();
    return words;
}

QString SmartNamingEngine::generateTitle(const QString& transcript)
{
    if (auto title = extractExplicitTitle(transcript)) {
        return *title;
    }
    if (auto title = detectTopicTitle(transcript)) {
        return *title;
    }
    return extractKeywords(transcript);
}

std::optional<QString> SmartNamingEngine::extractExplicitTitle(const QString& transcript)
{
    const LoweredText text(utf8(transcript));
    for (const CuePatterns& cue : cuePatterns()) {
        for (const platform::Regex& pattern : cue.patterns) {
            const auto matches = pattern.findAll(text.lower);
            if (matches.empty()) {
                continue;
            }
            if (auto title = titleAfterCue(text.originalFrom(matches.front().end))) {
                return qt(*title);
            }
        }
    }
    return std::nullopt;
}

std::optional<QString> SmartNamingEngine::detectTopicTitle(const QString& transcript)
{
    const std::string lower = platform::lowercased(utf8(transcript));
    const auto& patterns = keywordPatterns();
    for (std::size_t k = 0; k < topicKeywords.size(); ++k) {
        if (patterns[k].findAll(lower).empty()) {
            continue;
        }
        const std::string_view keyword = topicKeywords[k];
        const std::string_view after = std::string_view(lower).substr(lower.find(keyword) + keyword.size());
        std::vector<std::string> kept;
        for (std::string& word : words(after)) {
            if (!stopWords().contains(word)) {
                kept.push_back(std::move(word));
            }
            if (kept.size() == maxTopicWords) {
                break;
            }
        }
        std::string title = platform::capitalized(keyword);
        if (!kept.empty()) {
            title += ": " + platform::capitalized(joined(kept, maxTopicWords));
        }
        return qt(title);
    }
    return std::nullopt;
}

QString SmartNamingEngine::extractKeywords(const QString& transcript)
{
    std::vector<std::string> kept;
    for (std::string& word : words(utf8(transcript))) {
        if (!stopWords().contains(platform::lowercased(word)) && platform::graphemeCount(word) > 1) {
            kept.push_back(std::move(word));
        }
        if (kept.size() == maxKeywords) {
            break;
        }
    }
    if (kept.empty()) {
        return qt(fallbackTitle);
    }
    return qt(platform::capitalized(joined(kept, maxKeywords)));
}

QString SmartNamingEngine::makeFileName(const QString& title, const QDateTime& date)
{
    const std::string datePart = utf8(date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HHmm")));
    const std::size_t room = maxFileNameBytes - datePart.size() - 1 - fileExtension.size();
    return qt(datePart + "_" + fileTitlePart(utf8(title), room) + std::string(fileExtension));
}

} // namespace parlino
