#include "tools/auris-transcribe/FileProgress.hpp"

#include <algorithm>

namespace auris {

namespace {

// Tasks done, a running task counting with its fraction. The total is read on both sides of the
// fraction, so that a task added in between is not counted as done.
double tasksDone(const hub::Progress& progress)
{
    for (;;) {
        const std::int64_t before = progress.totalUnitCount();
        const double fraction = progress.fractionCompleted();
        if (progress.totalUnitCount() == before) {
            return fraction * static_cast<double>(std::max<std::int64_t>(before, 0));
        }
    }
}

} // namespace

FileProgress::FileProgress(std::shared_ptr<hub::Progress> atStart, std::size_t taskCount)
    : taskCount_(std::max<std::size_t>(taskCount, 1))
{
    if (atStart) {
        alreadyDone_ = tasksDone(*atStart);
        seen_.push_back(std::move(atStart));
    }
}

double FileProgress::fraction(const std::shared_ptr<hub::Progress>& current)
{
    if (current && std::find(seen_.begin(), seen_.end(), current) == seen_.end()) {
        seen_.push_back(current);
    }
    double done = -alreadyDone_;
    for (const auto& progress : seen_) {
        done += tasksDone(*progress);
    }
    return std::clamp(done / static_cast<double>(taskCount_), 0.0, 1.0);
}

} // namespace auris
