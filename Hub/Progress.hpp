#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace hub {

// A tree of unit counts, like the platform's progress objects: a child added with a pending unit
// count stands for that many of its parent's units, in proportion to its own fraction. Safe to
// update and read from several threads.
class Progress {
public:
    explicit Progress(std::int64_t totalUnitCount = 0);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    std::int64_t totalUnitCount() const;
    void setTotalUnitCount(std::int64_t count);
    // Includes the pending units of finished children.
    std::int64_t completedUnitCount() const;
    void setCompletedUnitCount(std::int64_t count);
    void addChild(std::shared_ptr<Progress> child, std::int64_t pendingUnitCount);

    // Within 0...1; 0 while the total is 0 or less.
    double fractionCompleted() const;
    bool isFinished() const;
    // "Fraction completed: 0.5000 / Completed: 1 of 2"
    std::string description() const;

private:
    struct Child {
        std::shared_ptr<Progress> progress;
        std::int64_t pendingUnitCount;
    };

    mutable std::mutex mutex_;
    std::int64_t total_;
    std::int64_t completed_ = 0;
    std::vector<Child> children_;
};

} // namespace hub
