#include "app/recorder/WhisperRecorder.hpp"

#include "platform/system/ExceptionText.hpp"
#include "platform/system/NumberText.hpp"

namespace parlino {

namespace {

constexpr const char* debugPrefix = "🐛 WHISPER DEBUG: ";

} // namespace

void WhisperRecorder::loadOrDownloadDefaultModel()
{
    const std::string model = whisperModel().toStdString();
    systemLog(std::string(debugPrefix) + "📥 loadOrDownloadDefaultModel() called for '" + model + "'");
    if (ModelStore::isValidModelId(whisperModel())) {
        const auto weights = modelStore_.findModelFolder(model);
        const auto expected = weights ? modelStore_.expectedWeightBytes(model) : std::nullopt;
        const auto actual = weights ? ModelStore::modelFolderSize(*weights) : std::nullopt;
        if (expected && actual && *expected > 0) {
            print("🔍 Model '" + model + "' size check:");
            print("   Expected: " + platform::byteCountText(*expected));
            print("   Actual:   " + platform::byteCountText(*actual));
            // A weight file shorter than its description is cut off; one that is longer is whole.
            if (*actual >= *expected) {
                print("✅ Model verified - integrity OK!");
                setAurisReady(true);
                loadVerifiedModel(model);
                return;
            }
            const auto percent = static_cast<long long>(static_cast<double>(*expected - *actual) / static_cast<double>(*expected) * 100);
            print("❌ Model CORRUPTED! Diff: " + std::to_string(percent) + "%");
            print("🔄 Auto-repairing: deleting corrupted model...");
            if (modelStore_.deleteModelCache(model)) {
                print("✅ Deleted corrupted model");
                print("📥 Re-downloading " + model + "...");
                setAurisReady(false);
                initializeAuris({});
                return;
            }
        }
    }
    print("📥 First launch: Downloading " + model + " model...");
    setAurisReady(false);
    initializeAuris({});
}

void WhisperRecorder::initializeAuris(Completion completion)
{
    systemLog(std::string(debugPrefix) + "🚀 initializeAuris() called");
    print("🚀 Initializing Auris...");
    const QString modelId = whisperModel();
    const std::string model = modelId.toStdString();
    setModelDownloadCancelled(false);
    setModelFailure(std::nullopt);
    if (!ModelStore::isValidModelId(modelId)) {
        print("❌ Auris initialization failed: the model id '" + model + "' is not a model name");
        failInitialization(model, nullptr);
        if (completion) {
            post(std::move(completion));
        }
        return;
    }

    const bool cached = modelStore_.isModelCached(model);
    if (cached) {
        print("✅ Model '" + model + "' already cached, loading quickly...");
        setIsInitializingAuris(false);
        setAurisInitProgress(1.0);
    } else {
        print("📥 Model '" + model + "' not cached, will download...");
        setIsInitializingAuris(true);
        setAurisInitProgress(0);
    }
    // A model that is loaded keeps serving until this one is.
    setAurisReady(auris_ != nullptr);
    if (!cached) {
        print("   This may take 2-10 minutes (model size varies)");
        print("   Progress will show 10% until download completes");
        setAurisInitProgress(0.1);
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

void WhisperRecorder::loadVerifiedModel(const std::string& model)
{
    // Ready already, so the flags stay as they are; a recording made meanwhile waits for the engine.
    if (auris_ || engineBeingCreated()) {
        return;
    }
    print("🔄 Loading model '" + model + "' in the background...");
    launchInitialization(++initGeneration_, model, {});
}

bool WhisperRecorder::engineBeingCreated() const
{
    return (runningInit_ && runningInit_->generation == initGeneration_) || pendingInit_;
}

void WhisperRecorder::awaitEngine(Completion completion)
{
    if (pendingInit_) {
        pendingInit_->waiters.push_back(std::move(completion));
    } else if (runningInit_) {
        runningInit_->waiters.push_back(std::move(completion));
    } else {
        post(std::move(completion));
    }
}

void WhisperRecorder::launchInitialization(std::uint64_t generation, const std::string& model, std::vector<Completion> waiters)
{
    runningInit_ = InitRun {generation, model, {}, std::move(waiters)};
    TranscriberRequest request {model, dependencies_.folders.modelStore, {}};
    request.downloadProgress = [poster = poster_, this, generation](double fraction) {
        poster->post([this, generation, fraction] { takeDownloadProgress(generation, fraction); });
    };
    auto factory = dependencies_.makeTranscriber;
    const std::stop_token stop = runningInit_->stop.get_token();
    struct Outcome {
        std::shared_ptr<SpeechTranscriber> engine;
        std::exception_ptr error;
    };
    runInBackground(
        workers_,
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

void WhisperRecorder::finishInitialization(std::uint64_t generation, std::shared_ptr<SpeechTranscriber> engine,
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
        auris_ = std::move(engine);
        aurisModel_ = run.model;
        setModelFailure(std::nullopt);
        setAurisInitProgress(1.0);
        setAurisReady(true);
        setIsInitializingAuris(false);
        print("✅ Auris initialized with model: " + run.model);
        if (const auto language = transcriptionLanguage(defaults().stringValue(QLatin1String(preferredTranscriptionLanguageKey)))) {
            print("🌍 Language: " + *language);
        }
    } else {
        const std::string message = platform::exceptionText(error);
        print("❌ Auris initialization failed: " + message);
        print("   Error details: " + message);
        if (auris_ && aurisModel_ != run.model) {
            stopSimulatedProgress();
            setModelFailure(ModelFailure {QString::fromStdString(run.model), ModelFailure::reasonOf(error)});
            keepServingModel();
        } else {
            failInitialization(run.model, error);
        }
    }
    for (auto& waiter : run.waiters) {
        waiter();
    }
}

void WhisperRecorder::failInitialization(const std::string& model, std::exception_ptr error)
{
    stopSimulatedProgress();
    setModelFailure(ModelFailure {QString::fromStdString(model), ModelFailure::reasonOf(error)});
    setError(RecordingError(RecordingError::aurisNotInitialized));
    setIsInitializingAuris(false);
    setAurisReady(false);
    setAurisInitProgress(0);
}

void WhisperRecorder::startSimulatedProgress(bool cached)
{
    stopSimulatedProgress();
    if (cached) {
        return;
    }
    simulatedSeconds_ = 0;
    simulatedProgress_ = dependencies_.clock->schedule(simulatedProgressStep, true, [this] { simulatedProgressTick(); });
}

void WhisperRecorder::simulatedProgressTick()
{
    if (aurisInitProgress() >= 0.9) {
        // Not from inside its own tick; a simulation started meanwhile is left alone.
        post([this] {
            if (aurisInitProgress() >= 0.9) {
                stopSimulatedProgress();
            }
        });
        return;
    }
    // The shown progress is the download's own; the ticks only keep the log going.
    simulatedSeconds_ += std::chrono::duration<double>(simulatedProgressStep).count();
    const auto seconds = static_cast<long long>(simulatedSeconds_);
    if (seconds % 10 == 0) {
        print("⏳ Still downloading... " + std::to_string(static_cast<int>(aurisInitProgress() * 100)) + "% (simulated)");
    }
}

void WhisperRecorder::takeDownloadProgress(std::uint64_t generation, double fraction)
{
    if (generation != initGeneration_ || !isInitializingAuris()) {
        return;
    }
    // Only ever forward, and whole only once the engine is ready.
    const double shown = std::min(fraction, maximumDownloadProgress);
    if (shown > aurisInitProgress()) {
        setAurisInitProgress(shown);
    }
}

void WhisperRecorder::stopSimulatedProgress()
{
    simulatedProgress_.reset();
}

void WhisperRecorder::supersedeRunningInitialization()
{
    ++initGeneration_;
    if (runningInit_) {
        runningInit_->stop.request_stop();
    }
}

std::vector<WhisperRecorder::Completion> WhisperRecorder::abandonInitializations()
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

void WhisperRecorder::keepServingModel()
{
    print("↩️ Keeping model: " + aurisModel_);
    setWhisperModel(QString::fromStdString(aurisModel_));
    setIsInitializingAuris(false);
    setAurisInitProgress(1.0);
    setAurisReady(true);
}

void WhisperRecorder::switchModel(const QString& modelId, Completion completion)
{
    print("🔄 Switching to model: " + modelId.toStdString());
    if (!ModelStore::isValidModelId(modelId)) {
        print("❌ Not a model name: '" + modelId.toStdString() + "'");
        if (completion) {
            post(std::move(completion));
        }
        return;
    }
    const std::string model = modelId.toStdString();
    setWhisperModel(modelId);
    if (auris_ && aurisModel_ == model) {
        // Nothing to load; a switch to another model that is still on its way is given up.
        print("✅ Model '" + model + "' is loaded - keeping it");
        // The model asked for is the one serving: an earlier failed switch is no longer news.
        setModelFailure(std::nullopt);
        std::vector<Completion> waiters = abandonInitializations();
        stopSimulatedProgress();
        setIsInitializingAuris(false);
        setAurisInitProgress(1.0);
        setAurisReady(true);
        if (completion) {
            waiters.push_back(std::move(completion));
        }
        for (auto& waiter : waiters) {
            post(std::move(waiter));
        }
        return;
    }
    if (modelStore_.isModelCached(model) && modelStore_.isModelComplete(model)) {
        print("✅ Model '" + model + "' is complete - switching...");
    } else {
        print("📥 Model '" + model + "' not complete - downloading...");
        if (!auris_) {
            setAurisReady(false);
        }
    }
    initializeAuris(std::move(completion));
}

void WhisperRecorder::deleteAndRedownloadModel(Completion completion)
{
    const QString modelId = whisperModel();
    const std::string model = modelId.toStdString();
    print("🗑️ Deleting model: " + model);
    if (!ModelStore::isValidModelId(modelId)) {
        print("❌ Failed to delete model: '" + model + "' is not a model name");
        if (completion) {
            post(std::move(completion));
        }
        return;
    }
    auris_.reset();
    aurisModel_.clear();
    setAurisReady(false);
    // A download still writing into the folder would race the removal.
    supersedeRunningInitialization();
    if (const auto folder = modelStore_.modelCacheFolder(model)) {
        std::error_code error;
        std::filesystem::remove_all(*folder, error);
        if (error) {
            print("❌ Failed to delete model: " + error.message());
        } else {
            print("✅ Model deleted: " + model);
        }
    }
    print("📥 Re-downloading model: " + model);
    initializeAuris(std::move(completion));
}

void WhisperRecorder::cancelModelDownload()
{
    print("❌ Model download cancelled by user");
    const std::vector<Completion> waiters = abandonInitializations();
    stopSimulatedProgress();
    setModelDownloadCancelled(true);
    const QString model = whisperModel();
    setModelFailure(ModelFailure {model, ModelFailure::Reason::cancelled});
    if (auris_ && aurisModel_ != model.toStdString()) {
        // A cancelled switch: the model that serves stays.
        keepServingModel();
    } else {
        setIsInitializingAuris(false);
        setAurisInitProgress(0);
        auris_.reset();
        aurisModel_.clear();
        setAurisReady(false);
    }
    for (const auto& waiter : waiters) {
        post(waiter);
    }
}

} // namespace parlino
