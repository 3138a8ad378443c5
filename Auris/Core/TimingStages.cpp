#include "Auris/Core/TimingStages.hpp"

namespace auris {

std::vector<TimingStage> timingStages(const TranscriptionTimings& t)
{
    return {
        {"Audio Load:", t.audioLoading, 1},
        {"Audio Processing:", t.audioProcessing, t.totalAudioProcessingRuns},
        {"Mels:", t.logmels, t.totalLogmelRuns},
        {"Encoding:", t.encoding, t.totalEncodingRuns},
        {"Matrices Init:", t.decodingInit, 1, true},
        {"Prefill:", t.prefill, 1},
        {"Decoding:", t.decodingPredictions, t.totalDecodingLoops},
        {"Non-inference:", t.decodingNonPrediction, t.totalDecodingLoops, true},
        {"- Logit Filtering:", t.decodingFiltering, t.totalDecodingLoops},
        {"- Sampling:", t.decodingSampling, t.totalDecodingLoops},
        {"- Kv Caching:", t.decodingKvCaching, t.totalKVUpdateRuns},
        {"- Word Timestamps:", t.decodingWordTimestamps, t.totalTimestampAlignmentRuns},
        {"- Windowing:", t.decodingWindowing - t.decodingWordTimestamps, t.totalDecodingWindows, true},
        {"Fallbacks:", t.decodingFallback, t.totalDecodingFallbacks},
        {"Decoding Full Loop:", t.decodingLoop, t.totalDecodingLoops},
    };
}

} // namespace auris
