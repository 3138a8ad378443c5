#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <string>
#include <unordered_set>

namespace parlino {

// Makes short titles from transcripts and file names from titles. Holds no state; safe on any thread.
//
// Words are the runs of letters, marks and digits of any script. Cues and keywords are found in the
// lower-cased transcript; a title cut from the transcript keeps the speaker's letter case, each
// position mapped back per character so that nothing is cut inside one.
class SmartNamingEngine {
public:
    // The longest file name the file systems in use accept, in bytes.
    static constexpr std::size_t maxFileNameBytes = 255;
    // The most characters of a title that go into a file name.
    static constexpr int maxTitleCharacters = 50;

    // The first title that the explicit cue, the topic keyword and the keyword fallback give.
    static QString generateTitle(const QString& transcript);
    // A title the speaker dictated after a cue such as "title:".
    static std::optional<QString> extractExplicitTitle(const QString& transcript);
    // A known topic word, with up to three words that follow it.
    static std::optional<QString> detectTopicTitle(const QString& transcript);
    // Up to five words that are not stop words; "Voice Memo" when there are none.
    static QString extractKeywords(const QString& transcript);
    // "yyyy-MM-dd_HHmm_<title>.m4a" in local time; the title made safe for a file name and the whole
    // name kept within maxFileNameBytes.
    static QString makeFileName(const QString& title, const QDateTime& date);

    // Function words and fillers of ten languages, lower case.
    static const std::unordered_set<std::string>& stopWords();
};

} // namespace parlino
