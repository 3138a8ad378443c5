#include "RecorderHarness.hpp"

#include "app/recorder/AurisTranscriber.hpp"
#include "app/recorder/SmartNamingEngine.hpp"
#include "Hub/HubApi.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gmock/gmock.h>

using namespace parlino;
using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::HasSubstr;
using testsupport::processEventsUntil;

namespace {

constexpr const char* repository = "aurislabs/auris-coreml";

std::vector<std::string> filesBelow(const std::filesystem::path& folder)
{
    std::vector<std::string> files;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_directory()) {
            files.push_back(it->path().lexically_relative(folder).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

// Models served by a hub on loopback and made by the real engine.
class ModelManagementTest : public testsupport::RecorderHarness {
protected:
    void SetUp() override
    {
        hub.start();
        testsupport::publishSmallestModel(hub, "openai_whisper-base");
        testsupport::publishSmallestModel(hub, "openai_whisper-tiny");
        endpoint.emplace(hub::HubApi::endpointVariable, hub.endpoint());
        defaults.setString("whisperModel", "base");
    }

    WhisperRecorder::Dependencies realEngine()
    {
        auto with = dependencies();
        with.makeTranscriber = &AurisTranscriber::create;
        return with;
    }

    std::filesystem::path modelFolder(const std::string& name) const
    {
        return temporary / "cache" / "parlino" / "models" / repository / name;
    }

    static std::string weightFile(const std::string& folder)
    {
        return folder + "/AudioEncoder.mlmodelc/weights/weight.bin";
    }

    std::size_t requestsFor(const std::string& file) const
    {
        const std::string path = loopback::LoopbackHub::filePath(repository, file);
        const auto all = hub.requests();
        return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [&](const auto& r) { return r.path == path; }));
    }

    template <typename Action>
    void awaitCompletion(Action action)
    {
        bool done = false;
        action([&] { done = true; });
        EXPECT_FALSE(done);
        EXPECT_TRUE(processEventsUntil([&] { return done; }, timeout));
    }

    loopback::LoopbackHub hub {temporary / "hub"};
    std::optional<testsupport::ScopedEnvironment> endpoint;
};

TEST_F(ModelManagementTest, FirstLaunchDownloadsThenLaterLaunchesVerifyOrRepair)
{
    {
        auto recorder = std::make_unique<WhisperRecorder>(defaults, realEngine());
        testsupport::PublishedStates states(*recorder);
        ASSERT_TRUE(processEventsUntil([&] { return recorder->aurisReady(); }, timeout)) << states.text();
        EXPECT_TRUE(states.inOrder({"isInitializingAuris=true", "aurisInitProgress=0.1", "aurisInitProgress=1",
            "aurisReady=true", "isInitializingAuris=false"}))
            << states.text();
        EXPECT_THAT(log.lines(), Contains("📥 First launch: Downloading base model..."));
        EXPECT_THAT(log.lines(), Contains("✅ Auris initialized with model: base"));
        EXPECT_TRUE(std::filesystem::exists(modelFolder("openai_whisper-base") / "TextDecoder.mlmodelc" / "model.json"));
        EXPECT_TRUE(std::filesystem::exists(temporary / "cache" / "parlino" / "models" / "openai" / "whisper-base" / "tokenizer.json"));

        // The real engine behind the road: a recording comes back transcribed and named.
        recorder->setAudioPreprocessingEnabled(false);
        const RecordingResult result = record(*recorder, 1);
        ASSERT_TRUE(result.audioURL);
        EXPECT_EQ(result.audioURL->filename().string(),
            SmartNamingEngine::makeFileName(*result.generatedTitle, clock->now()).toStdString());
    }

    // A whole model is trusted at the next launch and loaded at once, with nothing fetched again:
    // a recording made straight away is transcribed by it.
    log.clear();
    hub.clearRequests();
    {
        auto recorder = makeRecorder(realEngine());
        EXPECT_TRUE(recorder->aurisReady());
        EXPECT_THAT(log.lines(), Contains("✅ Model verified - integrity OK!"));
        recorder->setAudioPreprocessingEnabled(false);
        record(*recorder, 1);
        EXPECT_THAT(log.lines(), Contains("✅ Auris initialized with model: base"));
        EXPECT_THAT(log.lines(), Contains("🎤 Transcribing with Auris..."));
        EXPECT_EQ(log.count("⏩ Model not ready"), 0u);
        for (const auto& request : hub.requests()) {
            EXPECT_EQ(request.path.find("/resolve/"), std::string::npos) << request.path;
        }
    }

    // A weight file cut short is deleted and fetched again.
    const auto weights = modelFolder("openai_whisper-base") / "AudioEncoder.mlmodelc" / "weights" / "weight.bin";
    const auto size = std::filesystem::file_size(weights);
    std::filesystem::resize_file(weights, size / 2);
    log.clear();
    {
        auto recorder = std::make_unique<WhisperRecorder>(defaults, realEngine());
        ASSERT_TRUE(processEventsUntil([&] { return log.count("✅ Auris initialized with model: base") > 0; }, timeout));
        EXPECT_THAT(log.lines(), Contains("❌ Model CORRUPTED! Diff: 50%"));
        EXPECT_THAT(log.lines(), Contains("✅ Deleted model cache: openai_whisper-base"));
        EXPECT_TRUE(recorder->aurisReady());
        EXPECT_EQ(std::filesystem::file_size(weights), size);
    }
}

TEST_F(ModelManagementTest, CancelStopsTheTransferAndSwitchAndRedownloadFetchAgain)
{
    hub.stallAfter(loopback::LoopbackHub::filePath(repository, weightFile("openai_whisper-base")), 1000);
    auto recorder = std::make_unique<WhisperRecorder>(defaults, realEngine());
    testsupport::PublishedStates states(*recorder);
    ASSERT_TRUE(processEventsUntil([&] { return requestsFor(weightFile("openai_whisper-base")) > 0; }, timeout));
    EXPECT_TRUE(recorder->isInitializingAuris());
    // The stalled transfer holds the progress where it is: time alone moves nothing on screen.
    QCoreApplication::processEvents();
    const double stalledAt = recorder->aurisInitProgress();
    EXPECT_GE(stalledAt, 0.1);
    EXPECT_LT(stalledAt, 1.0);
    clock->advance(10s);
    EXPECT_EQ(recorder->aurisInitProgress(), stalledAt);
    EXPECT_THAT(log.lines(),
        Contains("⏳ Still downloading... " + std::to_string(static_cast<int>(stalledAt * 100)) + "% (simulated)"));

    recorder->cancelModelDownload();
    EXPECT_TRUE(recorder->modelDownloadCancelled());
    EXPECT_FALSE(recorder->isInitializingAuris());
    EXPECT_EQ(recorder->aurisInitProgress(), 0.0);
    EXPECT_FALSE(recorder->aurisReady());
    EXPECT_EQ(clock->runningTimers(), 0u);

    // The stalled transfer ended: the next download starts at once instead of waiting out its
    // minute-long idle timeout, and the cancelled one never reports ready.
    hub.clearFaults();
    awaitCompletion([&](auto done) { recorder->switchModel("base", done); });
    EXPECT_TRUE(recorder->aurisReady());
    EXPECT_FALSE(recorder->modelDownloadCancelled());
    EXPECT_EQ(std::count(states.events().begin(), states.events().end(), "aurisReady=true"), 1);

    awaitCompletion([&](auto done) { recorder->switchModel("tiny", done); });
    EXPECT_EQ(recorder->whisperModel(), QStringLiteral("tiny"));
    EXPECT_TRUE(recorder->aurisReady());
    EXPECT_THAT(log.lines(), Contains("📥 Model 'tiny' not complete - downloading..."));
    EXPECT_TRUE(std::filesystem::exists(modelFolder("openai_whisper-tiny") / "AudioEncoder.mlmodelc"));

    // Delete and download again: only the model's own folder goes, and its files are fetched anew.
    testsupport::writeFile(modelFolder("distil-whisper_distil-tiny") / "config.json", "{}");
    testsupport::writeFile(temporary / "cache" / "parlino" / "models" / "aurislabs" / "x" / "keep.txt", "keep");
    const std::size_t fetched = requestsFor(weightFile("openai_whisper-tiny"));
    awaitCompletion([&](auto done) { recorder->deleteAndRedownloadModel(done); });
    EXPECT_TRUE(recorder->aurisReady());
    EXPECT_EQ(requestsFor(weightFile("openai_whisper-tiny")), fetched + 1);
    EXPECT_THAT(log.lines(), Contains("✅ Model deleted: tiny"));
    EXPECT_TRUE(std::filesystem::exists(modelFolder("distil-whisper_distil-tiny") / "config.json"));

    // A model name that would leave the model folder is refused, and nothing is deleted.
    const auto before = filesBelow(temporary / "cache");
    awaitCompletion([&](auto done) { recorder->switchModel("../x", done); });
    EXPECT_EQ(recorder->whisperModel(), QStringLiteral("tiny"));
    defaults.setString("whisperModel", "../x");
    awaitCompletion([&](auto done) { recorder->deleteAndRedownloadModel(done); });
    EXPECT_EQ(filesBelow(temporary / "cache"), before);
    EXPECT_THAT(log.lines(), Contains(HasSubstr("'../x' is not a model name")));
}

TEST_F(ModelManagementTest, TheShownDownloadProgressIsTheTransfersOwnAndOnlyRises)
{
    const std::string weights = weightFile("openai_whisper-base");
    const auto size = std::filesystem::file_size(hub.repositoryFolder(repository) / "openai_whisper-base"
        / "AudioEncoder.mlmodelc" / "weights" / "weight.bin");
    // About four seconds for the largest file, in forty steps.
    hub.limitRate(loopback::LoopbackHub::filePath(repository, weights), std::max<std::size_t>(size / 4, 10));
    auto recorder = std::make_unique<WhisperRecorder>(defaults, realEngine());
    testsupport::PublishedStates states(*recorder);
    ASSERT_TRUE(processEventsUntil([&] { return recorder->aurisReady(); }, timeout)) << states.text();

    std::vector<double> shown;
    for (const auto& event : states.events()) {
        if (event.starts_with("aurisInitProgress=")) {
            shown.push_back(std::stod(event.substr(std::string("aurisInitProgress=").size())));
        }
    }
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << states.text();
    EXPECT_EQ(shown.back(), 1.0);
    // Steps of the transfer itself between the first tenth and the end, not one fixed stand-in.
    const auto between = std::count_if(shown.begin(), shown.end(), [](double p) { return p > 0.1 && p < 1.0; });
    EXPECT_GE(between, 5) << states.text();
    EXPECT_LE(*std::max_element(shown.begin(), shown.end() - 1), 0.99);
}
