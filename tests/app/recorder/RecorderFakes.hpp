#pragma once

// Fakes for driving WhisperRecorder without a microphone, an engine or waiting: a clock whose time
// moves only when told, and a transcriber that answers from a script. Header-only, so that other
// app suites can use them too.

#include "app/recorder/RecorderClock.hpp"
#include "app/recorder/RecorderService.hpp"
#include "app/recorder/SpeechTranscriber.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace testsupport {

// A recorder whose operations do nothing: enough for its shared state and settings.
class IdleRecorderService : public parlino::RecorderService {
public:
    using RecorderService::RecorderService;
    void startRecording(StartCompletion) override {}
    void stopRecording(StopCompletion) override {}
    void transcribeExistingFile(const std::filesystem::path&, TranscribeCompletion) override {}
    void switchModel(const QString&, Completion) override {}
    void deleteAndRedownloadModel(Completion) override {}
    void cancelModelDownload() override {}
};

// Time stands still until `advance`, which fires every timer that falls due, in order, on the
// calling (main) thread.
class ManualRecorderClock final : public parlino::RecorderClock {
public:
    explicit ManualRecorderClock(QDateTime start = QDateTime(QDate(2025, 1, 31), QTime(14, 30, 0)))
        : now_(std::move(start))
    {
    }

    QDateTime now() const override
    {
        std::lock_guard lock(mutex_);
        return now_;
    }

    std::unique_ptr<parlino::RecorderTimer> schedule(std::chrono::milliseconds interval, bool repeats,
        std::function<void()> tick) override
    {
        auto timer = std::make_shared<Timer>(Timer {now().addMSecs(interval.count()), interval, repeats, std::move(tick)});
        timers_.push_back(timer);
        return std::make_unique<Handle>(timer);
    }

    void advance(std::chrono::milliseconds by)
    {
        const QDateTime end = now().addMSecs(by.count());
        for (;;) {
            std::shared_ptr<Timer> next;
            for (const auto& timer : timers_) {
                if (timer->alive && timer->due <= end && (!next || timer->due < next->due)) {
                    next = timer;
                }
            }
            if (!next) {
                break;
            }
            {
                std::lock_guard lock(mutex_);
                now_ = next->due;
            }
            if (next->repeats) {
                next->due = next->due.addMSecs(next->interval.count());
            } else {
                next->alive = false;
            }
            next->tick();
        }
        std::erase_if(timers_, [](const auto& timer) { return !timer->alive; });
        std::lock_guard lock(mutex_);
        now_ = end;
    }

    std::size_t runningTimers() const
    {
        return static_cast<std::size_t>(std::count_if(timers_.begin(), timers_.end(), [](const auto& t) { return t->alive; }));
    }

private:
    struct Timer {
        QDateTime due;
        std::chrono::milliseconds interval;
        bool repeats;
        std::function<void()> tick;
        bool alive = true;
    };
    struct Handle final : parlino::RecorderTimer {
        explicit Handle(std::shared_ptr<Timer> timer)
            : timer(std::move(timer))
        {
        }
        ~Handle() override { timer->alive = false; }
        std::shared_ptr<Timer> timer;
    };

    mutable std::mutex mutex_;
    QDateTime now_;
    std::vector<std::shared_ptr<Timer>> timers_;
};

// Answers each transcription with the next scripted reply (the last one repeats). A reply may be
// held back until `release`, to look at the recorder while a transcription runs.
class ScriptedTranscriber final : public parlino::SpeechTranscriber {
public:
    struct Reply {
        std::vector<std::string> texts;
        bool fails = false;
        bool held = false;
    };
    struct Call {
        std::string audioPath;
        auris::DecodingOptions options;
        bool audioExisted = false;
    };

    ScriptedTranscriber()
        : replies_ {Reply {{"Hello there, this is a quick test of the recorder"}}}
    {
    }

    void script(std::deque<Reply> replies)
    {
        std::lock_guard lock(mutex_);
        replies_ = std::move(replies);
    }

    void release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    std::vector<Call> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    bool isHolding() const
    {
        std::lock_guard lock(mutex_);
        return holding_;
    }

    std::vector<auris::TranscriptionResult> transcribe(const std::string& audioPath,
        const auris::DecodingOptions& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken) override
    {
        Reply reply;
        {
            std::unique_lock lock(mutex_);
            calls_.push_back({audioPath, decodeOptions, std::filesystem::exists(audioPath)});
            reply = replies_.empty() ? Reply {} : replies_.front();
            if (replies_.size() > 1) {
                replies_.pop_front();
            }
            if (reply.held) {
                holding_ = true;
                changed_.wait(lock, [&] { return released_ || stopToken.stop_requested(); });
                holding_ = false;
                released_ = false;
            }
        }
        if (callback) {
            auris::TranscriptionProgress progress;
            progress.windowId = 0;
            callback(progress);
        }
        if (reply.fails) {
            throw std::runtime_error("the scripted engine failed");
        }
        std::vector<auris::TranscriptionResult> results;
        for (const auto& text : reply.texts) {
            auris::TranscriptionResult result;
            result.text = text;
            results.push_back(result);
        }
        return results;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Reply> replies_;
    std::vector<Call> calls_;
    bool released_ = false;
    bool holding_ = false;
};

} // namespace testsupport
