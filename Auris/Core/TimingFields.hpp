#pragma once

#include "Auris/Core/TranscriptionTypes.hpp"

#include <array>
#include <initializer_list>

namespace auris {

// One field of TranscriptionTimings: its name, which is also its JSON key, and how the values of
// two calls combine: instants take the earlier, durations and counts add up.
struct TimingField {
    enum class Merge { sum, earliest };

    const char* name;
    double TranscriptionTimings::* member;
    Merge merge;

    void mergeInto(TranscriptionTimings& total, const TranscriptionTimings& part) const;
};

#define AURIS_TIMING_FIELD(field, rule) TimingField {#field, &TranscriptionTimings::field, TimingField::Merge::rule},

// Every field, in the order of the struct and of its JSON object.
inline constexpr std::array timingFields {
    AURIS_TIMING_FIELD(pipelineStart, earliest)
    AURIS_TIMING_FIELD(firstTokenTime, earliest)
    AURIS_TIMING_FIELD(inputAudioSeconds, sum)
    AURIS_TIMING_FIELD(modelLoading, sum)
    AURIS_TIMING_FIELD(audioLoading, sum)
    AURIS_TIMING_FIELD(audioProcessing, sum)
    AURIS_TIMING_FIELD(logmels, sum)
    AURIS_TIMING_FIELD(encoding, sum)
    AURIS_TIMING_FIELD(prefill, sum)
    AURIS_TIMING_FIELD(decodingInit, sum)
    AURIS_TIMING_FIELD(decodingLoop, sum)
    AURIS_TIMING_FIELD(decodingPredictions, sum)
    AURIS_TIMING_FIELD(decodingFiltering, sum)
    AURIS_TIMING_FIELD(decodingSampling, sum)
    AURIS_TIMING_FIELD(decodingFallback, sum)
    AURIS_TIMING_FIELD(decodingWindowing, sum)
    AURIS_TIMING_FIELD(decodingKvCaching, sum)
    AURIS_TIMING_FIELD(decodingWordTimestamps, sum)
    AURIS_TIMING_FIELD(decodingNonPrediction, sum)
    AURIS_TIMING_FIELD(totalAudioProcessingRuns, sum)
    AURIS_TIMING_FIELD(totalLogmelRuns, sum)
    AURIS_TIMING_FIELD(totalEncodingRuns, sum)
    AURIS_TIMING_FIELD(totalDecodingLoops, sum)
    AURIS_TIMING_FIELD(totalKVUpdateRuns, sum)
    AURIS_TIMING_FIELD(totalTimestampAlignmentRuns, sum)
    AURIS_TIMING_FIELD(totalDecodingFallbacks, sum)
    AURIS_TIMING_FIELD(totalDecodingWindows, sum)
    AURIS_TIMING_FIELD(fullPipeline, sum)
};

#undef AURIS_TIMING_FIELD

static_assert(timingFields.size() * sizeof(double) == sizeof(TranscriptionTimings),
    "a field of TranscriptionTimings is missing from timingFields");

// Merges every field of `part` into `total`.
void addTimings(TranscriptionTimings& total, const TranscriptionTimings& part);

// Merges only `fields`, each by its own rule.
void addTimings(TranscriptionTimings& total, const TranscriptionTimings& part,
    std::initializer_list<double TranscriptionTimings::*> fields);

} // namespace auris
