#include "app/recorder/WhisperRecorder.hpp"

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
                engineLoader_.loadVerifiedModel(model);
                return;
            }
            const auto percent = static_cast<long long>(static_cast<double>(*expected - *actual) / static_cast<double>(*expected) * 100);
            print("❌ Model CORRUPTED! Diff: " + std::to_string(percent) + "%");
            print("🔄 Auto-repairing: deleting corrupted model...");
            if (modelStore_.deleteModelCache(model)) {
                print("✅ Deleted corrupted model");
                print("📥 Re-downloading " + model + "...");
                setAurisReady(false);
                engineLoader_.initialize({});
                return;
            }
        }
    }
    print("📥 First launch: Downloading " + model + " model...");
    setAurisReady(false);
    engineLoader_.initialize({});
}

bool WhisperRecorder::engineLoading() const
{
    return aurisReady() && !engineLoader_.engine() && engineLoader_.engineBeingCreated();
}

bool WhisperRecorder::engineReady() const
{
    return aurisReady() && engineLoader_.engine();
}

void WhisperRecorder::awaitEngine(Completion completion)
{
    engineLoader_.awaitEngine(std::move(completion));
}

void WhisperRecorder::engineLoaded(const std::string& model)
{
    setModelFailure(std::nullopt);
    setAurisInitProgress(1.0);
    setAurisReady(true);
    setIsInitializingAuris(false);
    print("✅ Auris initialized with model: " + model);
    if (const auto language = transcriptionLanguage(defaults().stringValue(QLatin1String(preferredTranscriptionLanguageKey)))) {
        print("🌍 Language: " + *language);
    }
}

void WhisperRecorder::engineFailed(const std::string& model, std::exception_ptr error, bool anotherServes)
{
    setModelFailure(ModelFailure {QString::fromStdString(model), ModelFailure::reasonOf(error)});
    if (anotherServes) {
        keepServingModel();
        return;
    }
    setError(RecordingError(RecordingError::aurisNotInitialized));
    setIsInitializingAuris(false);
    setAurisReady(false);
    setAurisInitProgress(0);
}

void WhisperRecorder::keepServingModel()
{
    print("↩️ Keeping model: " + engineLoader_.engineModel());
    setWhisperModel(QString::fromStdString(engineLoader_.engineModel()));
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
    if (engineLoader_.engine() && engineLoader_.engineModel() == model) {
        // Nothing to load; a switch to another model that is still on its way is given up.
        print("✅ Model '" + model + "' is loaded - keeping it");
        // The model asked for is the one serving: an earlier failed switch is no longer news.
        setModelFailure(std::nullopt);
        std::vector<Completion> waiters = engineLoader_.abandonInitializations();
        engineLoader_.stopSimulatedProgress();
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
        if (!engineLoader_.engine()) {
            setAurisReady(false);
        }
    }
    engineLoader_.initialize(std::move(completion));
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
    engineLoader_.dropEngine();
    setAurisReady(false);
    // A download still writing into the folder would race the removal.
    engineLoader_.supersedeRunningInitialization();
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
    engineLoader_.initialize(std::move(completion));
}

void WhisperRecorder::cancelModelDownload()
{
    print("❌ Model download cancelled by user");
    const std::vector<Completion> waiters = engineLoader_.abandonInitializations();
    engineLoader_.stopSimulatedProgress();
    setModelDownloadCancelled(true);
    const QString model = whisperModel();
    setModelFailure(ModelFailure {model, ModelFailure::Reason::cancelled});
    if (engineLoader_.engine() && engineLoader_.engineModel() != model.toStdString()) {
        // A cancelled switch: the model that serves stays.
        keepServingModel();
    } else {
        setIsInitializingAuris(false);
        setAurisInitProgress(0);
        engineLoader_.dropEngine();
        setAurisReady(false);
    }
    for (const auto& waiter : waiters) {
        post(waiter);
    }
}

} // namespace parlino
