#include "app/recorder/RecordingCategory.hpp"

namespace parlino {

namespace {
struct CategoryFacts {
    RecordingCategory::Case value;
    const char* rawValue;
    const char* icon;
};

constexpr std::array<CategoryFacts, 7> facts {{
    {RecordingCategory::all, "All", "square.grid.2x2"},
    {RecordingCategory::work, "Work", "briefcase.fill"},
    {RecordingCategory::personal, "Personal", "person.fill"},
    {RecordingCategory::meeting, "Meeting", "person.2.fill"},
    {RecordingCategory::idea, "Idea", "lightbulb.fill"},
    {RecordingCategory::note, "Note", "note.text"},
    {RecordingCategory::task, "Task", "checkmark.circle.fill"},
}};

struct KeywordRule {
    std::array<const char*, 2> keywords;
    RecordingCategory::Case category;
};

constexpr std::array<KeywordRule, 5> keywordRules {{
    {{"meeting", "call"}, RecordingCategory::meeting},
    {{"task", "todo"}, RecordingCategory::task},
    {{"idea", "brainstorm"}, RecordingCategory::idea},
    {{"note", "remember"}, RecordingCategory::note},
    {{"work", "project"}, RecordingCategory::work},
}};
} // namespace

std::optional<RecordingCategory> RecordingCategory::fromRawValue(const QString& rawValue)
{
    for (const CategoryFacts& fact : facts) {
        if (rawValue == QLatin1String(fact.rawValue)) {
            return RecordingCategory(fact.value);
        }
    }
    return std::nullopt;
}

const std::array<RecordingCategory, 7>& RecordingCategory::allCases()
{
    static const std::array<RecordingCategory, 7> cases {all, work, personal, meeting, idea, note, task};
    return cases;
}

const std::array<RecordingCategory, 6>& RecordingCategory::assignableCases()
{
    static const std::array<RecordingCategory, 6> cases {work, personal, meeting, idea, note, task};
    return cases;
}

RecordingCategory RecordingCategory::suggestedCategory(const QString& transcript, const QString& title)
{
    const QString text = (transcript + QLatin1Char(' ') + title).toLower();
    for (const KeywordRule& rule : keywordRules) {
        for (const char* keyword : rule.keywords) {
            if (text.contains(QLatin1String(keyword))) {
                return rule.category;
            }
        }
    }
    return personal;
}

QString RecordingCategory::rawValue() const
{
    return QLatin1String(facts[case_].rawValue);
}

QString RecordingCategory::icon() const
{
    return QLatin1String(facts[case_].icon);
}

} // namespace parlino
