#include "Auris/Core/TimingFields.hpp"
#include "Auris/Core/TimingStages.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace auris;

TEST(TimingFields, EveryFieldIsListedOnceAndMergesByItsRule)
{
    std::set<std::string> names;
    for (const auto& field : timingFields) names.insert(field.name);
    EXPECT_EQ(names.size(), timingFields.size());

    // Distinct values per field, so that a field merged into another's place shows.
    TranscriptionTimings total;
    TranscriptionTimings part;
    double value = 1;
    for (const auto& field : timingFields) {
        total.*field.member = value * 10;
        part.*field.member = value++;
    }
    TranscriptionTimings merged = total;
    addTimings(merged, part);
    for (const auto& field : timingFields) {
        const bool instant = field.member == &TranscriptionTimings::pipelineStart
            || field.member == &TranscriptionTimings::firstTokenTime;
        const double expected = instant ? part.*field.member : total.*field.member + part.*field.member;
        EXPECT_EQ(merged.*field.member, expected) << field.name;
    }

    // The chosen fields alone merge; a default instant takes a part's earlier one.
    TranscriptionTimings chosen;
    addTimings(chosen, part, {&TranscriptionTimings::firstTokenTime, &TranscriptionTimings::totalDecodingLoops});
    TranscriptionTimings expected;
    expected.firstTokenTime = part.firstTokenTime;
    expected.totalDecodingLoops = part.totalDecodingLoops;
    EXPECT_EQ(chosen, expected);
}

TEST(TimingStages, TheCommandLineSummaryLeavesOutTheEngineOnlyRows)
{
    TranscriptionTimings timings;
    timings.decodingWindowing = 5;
    timings.decodingWordTimestamps = 2;
    std::vector<std::string> summary;
    double windowing = 0;
    for (const auto& stage : timingStages(timings)) {
        if (!stage.engineOnly) summary.emplace_back(stage.label);
        if (std::string(stage.label) == "- Windowing:") windowing = stage.seconds;
    }
    EXPECT_EQ(summary,
        (std::vector<std::string> {"Audio Load:", "Audio Processing:", "Mels:", "Encoding:", "Prefill:", "Decoding:",
            "- Logit Filtering:", "- Sampling:", "- Kv Caching:", "- Word Timestamps:", "Fallbacks:",
            "Decoding Full Loop:"}));
    EXPECT_EQ(windowing, 3);
}
