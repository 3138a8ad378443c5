#pragma once

namespace auris {

// Ids of the model's control tokens. Every id from `specialTokenBegin` upward is special, and
// timestamps run upward from `timeTokenBegin` in steps of 0.02 s. The defaults are the ids used
// when a tokenizer lacks the token.
struct SpecialTokens {
    int endToken = 50257;
    int englishToken = 50259;
    int noSpeechToken = 50362;
    int noTimestampsToken = 50363;
    int specialTokenBegin = 50257;
    int startOfPreviousToken = 50361;
    int startOfTranscriptToken = 50258;
    int timeTokenBegin = 50364;
    int transcribeToken = 50359;
    int translateToken = 50358;
    int whitespaceToken = 220;

    friend bool operator==(const SpecialTokens&, const SpecialTokens&) = default;
};

} // namespace auris
