#pragma once

#include "app/recorder/ModelFailure.hpp"
#include "app/recorder/ModelStore.hpp"
#include "app/recorder/RecorderClock.hpp"
#include "app/recorder/RecorderService.hpp"
#include "app/recorder/SpeechTranscriber.hpp"
#include "app/support/MainThreadPoster.hpp"

#include <QThreadPool>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace parlino {

// The speech model's life cycle: one engine creation at a time (a request for the same model joins
// the running one, another model supersedes it and goes next), the engine that serves and the model
// it was made for, the waits for an engine on its way, and the download progress.
// Main thread only; engines are made on the recorder's workers.
class EngineLoader {
public:
    using Completion = RecorderService::Completion;

    // What the loader tells its recorder: the console, the set-up's published state, and how each
    // creation ended.
    class Recorder {
    public:
        virtual void print(const std::string& line) const = 0;
        virtual void systemLog(const std::string& line) const = 0;
        virtual void setModelDownloadCancelled(bool value) = 0;
        virtual void setModelFailure(std::optional<ModelFailure> value) = 0;
        virtual void setIsInitializingAuris(bool value) = 0;
        virtual void setAurisInitProgress(double value) = 0;
        virtual void setAurisReady(bool value) = 0;
        // The engine of `model` is made and serves.
        virtual void engineLoaded(const std::string& model) = 0;
        // No engine could be made for `model`; with `anotherServes` the one made before still could.
        virtual void engineFailed(const std::string& model, std::exception_ptr error, bool anotherServes) = 0;

    protected:
        ~Recorder() = default;
    };

    struct Environment {
        TranscriberFactory makeTranscriber;
        // Models and tokenizers are downloaded below it.
        std::filesystem::path downloadBase;
        const ModelStore& modelStore;
        std::shared_ptr<RecorderClock> clock;
        QThreadPool& workers;
        std::shared_ptr<MainThreadPoster> poster;
    };

    static constexpr std::chrono::milliseconds simulatedProgressStep {2000};
    static constexpr double maximumDownloadProgress = 0.99;

    // `settings` gives the selected model and the shown progress.
    EngineLoader(Recorder& recorder, const RecorderService& settings, Environment environment);

    // Sets up the selected model; the completion runs once its engine creation has ended.
    void initialize(Completion completion);
    // Creates the engine of a model that passed the start-up check, leaving it marked ready.
    void loadVerifiedModel(const std::string& model);
    // An engine creation runs that has not been cancelled or superseded.
    bool engineBeingCreated() const;
    // Runs the completion once the engine creation running now (or the one due next) has ended.
    void awaitEngine(Completion completion);
    // Gives up the engine creations running or due; returns their waiters.
    std::vector<Completion> abandonInitializations();
    void supersedeRunningInitialization();
    void stopSimulatedProgress();
    // Asks the running creation to stop, for good: its result is never told.
    void shutDown();

    const std::shared_ptr<SpeechTranscriber>& engine() const { return engine_; }
    // The model id `engine()` was made for.
    const std::string& engineModel() const { return engineModel_; }
    void dropEngine();

private:
    struct InitRun {
        std::uint64_t generation = 0;
        std::string model;
        std::stop_source stop;
        std::vector<Completion> waiters;
    };
    struct PendingInit {
        std::uint64_t generation = 0;
        std::string model;
        std::vector<Completion> waiters;
    };

    void launchInitialization(std::uint64_t generation, const std::string& model, std::vector<Completion> waiters);
    void finishInitialization(std::uint64_t generation, std::shared_ptr<SpeechTranscriber> engine, std::exception_ptr error);
    void failInitialization(const std::string& model, std::exception_ptr error);
    void startSimulatedProgress(bool cached);
    void simulatedProgressTick();
    // A download report of the engine creation `generation`, on the main thread.
    void takeDownloadProgress(std::uint64_t generation, double fraction);

    Recorder& recorder_;
    const RecorderService& settings_;
    Environment environment_;
    std::shared_ptr<SpeechTranscriber> engine_;
    std::string engineModel_;
    std::optional<InitRun> runningInit_;
    std::optional<PendingInit> pendingInit_;
    std::uint64_t initGeneration_ = 0;
    std::unique_ptr<RecorderTimer> simulatedProgress_;
    double simulatedSeconds_ = 0;
};

} // namespace parlino
