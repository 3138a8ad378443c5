#pragma once

#include "Hub/Progress.hpp"

#include <cstddef>
#include <memory>
#include <vector>

namespace auris {

// How far one file's transcription is, read from the engine's progress object. That object gains
// one child per transcription task (the whole audio, or one chunk of it), each counting its audio,
// and is replaced by a fresh one whenever all its tasks are done, which may happen between the
// chunks of one file. So the fraction adds up the work in every object seen since the file began,
// less what the first already held, over the number of tasks the file takes.
class FileProgress {
public:
    FileProgress(std::shared_ptr<hub::Progress> atStart, std::size_t taskCount);

    // From 0 to 1; `current` is the engine's progress object now.
    double fraction(const std::shared_ptr<hub::Progress>& current);

private:
    std::vector<std::shared_ptr<hub::Progress>> seen_;
    double alreadyDone_ = 0;
    std::size_t taskCount_;
};

} // namespace auris
