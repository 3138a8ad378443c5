#pragma once

#include <QString>

#include <array>
#include <optional>

namespace parlino {

// The closed set of categories a recording carries. `all` stays a case so that stored files naming
// it still read, but it is the recordings list's "every category" and never given to a recording.
class RecordingCategory {
public:
    enum Case { all, work, personal, meeting, idea, note, task };

    constexpr RecordingCategory(Case value)
        : case_(value)
    {
    }

    // Exactly one of the seven raw values, case-sensitively; anything else gives none.
    static std::optional<RecordingCategory> fromRawValue(const QString& rawValue);
    static const std::array<RecordingCategory, 7>& allCases();
    // The six cases a recording can be given, in declaration order: every case but `all`.
    static const std::array<RecordingCategory, 6>& assignableCases();

    // Proposed from keywords found anywhere (plain substrings) in the lower-cased transcript and title;
    // `personal` when none matches.
    static RecordingCategory suggestedCategory(const QString& transcript, const QString& title);

    // The raw value, which is also the name the screens show.
    QString rawValue() const;
    // The symbol name the screens show beside the name.
    QString icon() const;

    constexpr operator Case() const { return case_; }

private:
    Case case_;
};

} // namespace parlino
