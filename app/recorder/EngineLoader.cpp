#include "app/recorder/EngineLoader.hpp"

#include "app/support/RunThenPost.hpp"
#include "platform/system/ExceptionText.hpp"

#include <stdexcept>

namespace parlino {

namespace {

constexpr const char* debugPrefix = "🐛 WHISPER DEBUG: ";

} // namespace

EngineLoader::EngineLoader(Recorder& recorder, const RecorderService& settings, Environment environment)
    : recorder_(recorder)
    , settings_(settings)
    , environment_(std::move(environment))
{
}

void EngineLoader::initialize(Completion completion)
{
    recorder_.systemLog(std::string(debugPrefix) + "🚀 initializeAuris() called");
    recorder_.print("🚀 Initializing Auris...");
    const QString modelId = settings_.whisperModel();
    const std::string model = modelId.toStdString();
    recorder_.setModelDownloadCancelled(false);
    recorder_.setModelFailure(std::nullopt);
    if (!ModelStore::isValidModelId(modelId)) {
        recorder_.print("❌ Auris initialization failed: the model id '" + model + "' is not a model name");
        failInitialization(model, nullptr);
        if (completion) {
            environment_.poster->post(std::move(completion));
        }
        return;
    }

    const bool cached = environment_.modelStore.isModelCached(model);
    if (cached) {
        recorder_.print("✅ Model '" + model + "' already cached, loading quickly...");
        recorder_.setIsInitializingAuris(false);
        recorder_.setAurisInitProgress(1.0);
    } else {
        recorder_.print("📥 Model '" + model + "' not cached, will download...");
        recorder_.setIsInitializingAuris(true);
        recorder_.setAurisInitProgress(0);
    }
    // A model that is loaded keeps serving until this one is.
    recorder_.setAurisReady(engine_ != nullptr);
    if (!cached) {
        recorder_.print("   This may take 2-10 minutes (model size varies)");
        recorder_.print("   Progress will show 10% until download completes");
        recorder_.setAurisInitProgress(0.1);
    }
    startSimulatedProgress(cached);

    std::vector<Completion> waiters;
    if (completion) {
        waiters.push_back(std::move(completion));
    }
    // One engine creation at a time: the same model joins the running one; another model stops it
    // and goes next, and the stopped one's result is dropped.
    if (runningInit_ && runningInit_->generation == initGeneration_ && runningInit_->model == model) {
        for (auto& waiter : waiters) {
            runningInit_->waiters.push_back(std::move(waiter));
        }
        return;
    }
    const std::uint64_t generation = ++initGeneration_;
    if (runningInit_) {
        runningInit_->stop.request_stop();
        PendingInit next {generation, model, std::move(waiters)};
        if (pendingInit_) {
            for (auto& waiter : pendingInit_->waiters) {
                next.waiters.push_back(std::move(waiter));
            }
        }
        pendingInit_ = std::move(next);
        return;
    }
    launchInitialization(generation, model, std::move(waiters));
}

void EngineLoader::loadVerifiedModel(const std::string& model)
{
    // Ready already, so the flags stay as they are; a recording made meanwhile waits for the engine.
    if (engine_ || engineBeingCreated()) {
        return;
    }
    recorder_.print("🔄 Loading model '" + model + "' in the background...");
    launchInitialization(++initGeneration_, model, {});
}

bool EngineLoader::engineBeingCreated() const
{
    return (runningInit_ && runningInit_->generation == initGeneration_) || pendingInit_;
}

void EngineLoader::awaitEngine(Completion completion)
{
    if (pendingInit_) {
        pendingInit_->waiters.push_back(std::move(completion));
    } else if (runningInit_) {
        runningInit_->waiters.push_back(std::move(completion));
    } else {
        environment_.poster->post(std::move(completion));
    }
}

void EngineLoader::launchInitialization(std::uint64_t generation, const std::string& model, std::vector<Completion> waiters)
{
    runningInit_ = InitRun {generation, model, {}, std::move(waiters)};
    TranscriberRequest request {model, environment_.downloadBase, {}};
    request.downloadProgress = [poster = environment_.poster, this, generation](double fraction) {
        poster->post([this, generation, fraction] { takeDownloadProgress(generation, fraction); });
    };
    auto factory = environment_.makeTranscriber;
    const std::stop_token stop = runningInit_->stop.get_token();
    struct Outcome {
        std::shared_ptr<SpeechTranscriber> engine;
        std::exception_ptr error;
    };
    runThenPost(
        environment_.workers, environment_.poster,
        [factory, request, stop]() -> Outcome {
            try {
                auto engine = factory(request, stop);
                if (!engine) {
                    throw std::runtime_error("no engine was made");
                }
                return {std::move(engine), nullptr};
            } catch (...) {
                return {nullptr, std::current_exception()};
            }
        },
        [this, generation](Outcome outcome) { finishInitialization(generation, std::move(outcome.engine), outcome.error); });
}

void EngineLoader::finishInitialization(std::uint64_t generation, std::shared_ptr<SpeechTranscriber> engine,
    std::exception_ptr error)
{
    InitRun run = std::move(*runningInit_);
    runningInit_.reset();
    if (generation != initGeneration_) {
        // Superseded or cancelled: its waiters wait for the next one, if any.
        if (pendingInit_) {
            PendingInit next = std::move(*pendingInit_);
            pendingInit_.reset();
            for (auto& waiter : run.waiters) {
                next.waiters.push_back(std::move(waiter));
            }
            launchInitialization(next.generation, next.model, std::move(next.waiters));
        } else {
            for (auto& waiter : run.waiters) {
                waiter();
            }
        }
        return;
    }

    stopSimulatedProgress();
    if (engine) {
        engine_ = std::move(engine);
        engineModel_ = run.model;
        recorder_.engineLoaded(run.model);
    } else {
        const std::string message = platform::exceptionText(error);
        recorder_.print("❌ Auris initialization failed: " + message);
        recorder_.print("   Error details: " + message);
        if (engine_ && engineModel_ != run.model) {
            stopSimulatedProgress();
            recorder_.engineFailed(run.model, error, true);
        } else {
            failInitialization(run.model, error);
        }
    }
    for (auto& waiter : run.waiters) {
        waiter();
    }
}

void EngineLoader::failInitialization(const std::string& model, std::exception_ptr error)
{
    stopSimulatedProgress();
    recorder_.engineFailed(model, error, false);
}

void EngineLoader::startSimulatedProgress(bool cached)
{
    stopSimulatedProgress();
    if (cached) {
        return;
    }
    simulatedSeconds_ = 0;
    simulatedProgress_ = environment_.clock->schedule(simulatedProgressStep, true, [this] { simulatedProgressTick(); });
}

void EngineLoader::simulatedProgressTick()
{
    if (settings_.aurisInitProgress() >= 0.9) {
        // Not from inside its own tick; a simulation started meanwhile is left alone.
        environment_.poster->post([this] {
            if (settings_.aurisInitProgress() >= 0.9) {
                stopSimulatedProgress();
            }
        });
        return;
    }
    // The shown progress is the download's own; the ticks only keep the log going.
    simulatedSeconds_ += std::chrono::duration<double>(simulatedProgressStep).count();
    const auto seconds = static_cast<long long>(simulatedSeconds_);
    if (seconds % 10 == 0) {
        recorder_.print("⏳ Still downloading... " + std::to_string(static_cast<int>(settings_.aurisInitProgress() * 100))
            + "% (simulated)");
    }
}

void EngineLoader::takeDownloadProgress(std::uint64_t generation, double fraction)
{
    if (generation != initGeneration_ || !settings_.isInitializingAuris()) {
        return;
    }
    // Only ever forward, and whole only once the engine is ready.
    const double shown = std::min(fraction, maximumDownloadProgress);
    if (shown > settings_.aurisInitProgress()) {
        recorder_.setAurisInitProgress(shown);
    }
}

void EngineLoader::stopSimulatedProgress()
{
    simulatedProgress_.reset();
}

void EngineLoader::supersedeRunningInitialization()
{
    ++initGeneration_;
    if (runningInit_) {
        runningInit_->stop.request_stop();
    }
}

std::vector<EngineLoader::Completion> EngineLoader::abandonInitializations()
{
    supersedeRunningInitialization();
    std::vector<Completion> waiters;
    if (runningInit_) {
        waiters = std::exchange(runningInit_->waiters, {});
    }
    if (pendingInit_) {
        for (auto& waiter : pendingInit_->waiters) {
            waiters.push_back(std::move(waiter));
        }
        pendingInit_.reset();
    }
    return waiters;
}

void EngineLoader::shutDown()
{
    if (runningInit_) {
        runningInit_->stop.request_stop();
    }
}

void EngineLoader::dropEngine()
{
    engine_.reset();
    engineModel_.clear();
}

} // namespace parlino
