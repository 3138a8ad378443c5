#pragma once

#include "platform/audio/SoundServerOptions.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// Plays one audio file at a time through the sound server's default output. Opening, decoding and
// talking to the server happen on a thread of the player's own, so no call here waits for any of it.
//
// The callbacks run on that thread and must not call back into the player; once `stop` (or a new
// `play`) has returned, no callback of the earlier playback runs.
class AudioPlayer {
public:
    struct Callbacks {
        // The file opened and sound is on its way; its length in seconds.
        std::function<void(double duration)> onStarted;
        // The last sample has been played.
        std::function<void()> onFinished;
        // The file cannot be opened or decoded.
        std::function<void(const std::string& message)> onDecodeError;
        // The sound server cannot be reached, refuses the stream or goes away.
        std::function<void(const std::string& message)> onFailure;
    };

    explicit AudioPlayer(SoundServerOptions options = {});
    // Stops, then waits for the player's threads to end.
    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Stops what plays now and starts the file.
    void play(const std::filesystem::path& file, Callbacks callbacks);
    void stop();
    // From `play` until the playback finishes, fails or is stopped.
    bool isPlaying() const;

private:
    class Playback;
    struct Running {
        std::shared_ptr<Playback> playback;
        std::thread thread;
    };

    void retireCurrent();
    void joinEnded();

    SoundServerOptions options_;
    mutable std::mutex mutex_;
    std::shared_ptr<Playback> current_;
    // Stopped playbacks whose threads may still be winding down.
    std::vector<Running> threads_;
};

} // namespace platform
