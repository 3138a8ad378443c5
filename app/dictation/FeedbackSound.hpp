#pragma once

namespace parlino {

// The three feedback sounds of dictation and the hotkey road, by their sound names "Ping", "Pop"
// and "Glass".
enum class FeedbackSound { start, stop, paste };

inline const char* soundName(FeedbackSound sound)
{
    switch (sound) {
    case FeedbackSound::start: return "Ping";
    case FeedbackSound::stop: return "Pop";
    case FeedbackSound::paste: return "Glass";
    }
    return "";
}

} // namespace parlino
