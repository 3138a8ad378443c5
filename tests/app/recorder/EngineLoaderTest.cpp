#include "app/recorder/EngineLoader.hpp"
#include "app/recorder/RecorderFakes.hpp"

#include "qtsupport/QtTestSupport.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>

#include <condition_variable>
#include <mutex>

using namespace parlino;
using ::testing::ElementsAre;

namespace {

// A recorder that only publishes what the loader tells it, and notes how each creation ended.
class ListeningRecorder final : public testsupport::IdleRecorderService, public EngineLoader::Recorder {
public:
    using IdleRecorderService::IdleRecorderService;

    void print(const std::string&) const override {}
    void systemLog(const std::string&) const override {}
    void setModelDownloadCancelled(bool value) override { RecorderService::setModelDownloadCancelled(value); }
    void setModelFailure(std::optional<ModelFailure> value) override { RecorderService::setModelFailure(std::move(value)); }
    void setIsInitializingAuris(bool value) override { RecorderService::setIsInitializingAuris(value); }
    void setAurisInitProgress(double value) override
    {
        progress.push_back(value);
        RecorderService::setAurisInitProgress(value);
    }
    void setAurisReady(bool value) override { RecorderService::setAurisReady(value); }
    void engineLoaded(const std::string& model) override { ended.push_back("loaded " + model); }
    void engineFailed(const std::string& model, std::exception_ptr, bool anotherServes) override
    {
        ended.push_back("failed " + model + (anotherServes ? ", another serves" : ""));
    }

    std::vector<double> progress;
    std::vector<std::string> ended;
};

class EngineLoaderTest : public ::testing::Test {
protected:
    ~EngineLoaderTest() override
    {
        loader.shutDown();
        release();
        workers.waitForDone();
    }

    // Engine creations report `downloadSteps`, wait for `release` and report `lateSteps`; models
    // named "broken" fail.
    std::shared_ptr<SpeechTranscriber> make(const TranscriberRequest& request, std::stop_token stop)
    {
        std::unique_lock lock(mutex);
        requests.push_back(request.model);
        changed.notify_all();
        for (const double step : downloadSteps) {
            request.downloadProgress(step);
        }
        changed.wait(lock, stop, [this] { return released; });
        for (const double step : lateSteps) {
            request.downloadProgress(step);
        }
        if (request.model == "broken") {
            throw std::runtime_error("Model not found");
        }
        return std::make_shared<testsupport::ScriptedTranscriber>();
    }

    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }

    void select(const char* model) { defaults.setString(RecorderService::whisperModelKey, model); }

    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder.path() / "parlino.conf"};
    ListeningRecorder recorder {defaults};
    ModelStore store {folder.path() / "cache"};
    QThreadPool workers;
    std::mutex mutex;
    std::condition_variable_any changed;
    bool released = false;
    std::vector<std::string> requests;
    std::vector<double> downloadSteps;
    std::vector<double> lateSteps;
    EngineLoader loader {recorder, recorder,
        {[this](const TranscriberRequest& request, std::stop_token stop) { return make(request, stop); },
            folder.path() / "cache", store, std::make_shared<testsupport::ManualRecorderClock>(), workers,
            std::make_shared<MainThreadPoster>(&recorder)}};
};

TEST_F(EngineLoaderTest, OneCreationAtATimeTheSameModelJoinsItAndAnotherSupersedesIt)
{
    int waitersRun = 0;
    const auto waiter = [&] { ++waitersRun; };
    select("tiny");
    loader.initialize(waiter);
    loader.initialize(waiter);
    ASSERT_TRUE(testsupport::processEventsUntil([&] {
        std::lock_guard lock(mutex);
        return !requests.empty();
    }));
    EXPECT_TRUE(loader.engineBeingCreated());

    // Another model stops the running creation and goes next; what it would have made is dropped.
    select("base");
    loader.initialize(waiter);
    loader.awaitEngine(waiter);
    release();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return waitersRun == 4; }));
    EXPECT_THAT(requests, ElementsAre("tiny", "base"));
    EXPECT_THAT(recorder.ended, ElementsAre("loaded base"));
    EXPECT_EQ(loader.engineModel(), "base");
    EXPECT_TRUE(loader.engine());
    EXPECT_FALSE(loader.engineBeingCreated());

    // A model that cannot be had while another serves: the one that serves is said to stay.
    select("broken");
    loader.initialize(waiter);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return waitersRun == 5; }));
    EXPECT_THAT(recorder.ended, ElementsAre("loaded base", "failed broken, another serves"));
    EXPECT_EQ(loader.engineModel(), "base");

    // Without an engine the failure is the recorder's to show; no waiter is left behind.
    loader.dropEngine();
    loader.initialize(waiter);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return waitersRun == 6; }));
    EXPECT_EQ(recorder.ended.back(), "failed broken");
    select("not a name");
    loader.initialize(waiter);
    EXPECT_EQ(recorder.ended.back(), "failed not a name");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return waitersRun == 7; }));
}

TEST_F(EngineLoaderTest, ADownloadShowsItsProgressOnlyForwardAndNeverWholeBeforeTheEngine)
{
    downloadSteps = {0.05, 0.4, 0.3};
    lateSteps = {1.0};
    select("tiny");
    loader.initialize({});
    EXPECT_TRUE(recorder.isInitializingAuris());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return recorder.progress.size() == 3; }));
    release();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !recorder.ended.empty(); }));
    // The set-up's own steps (0, then 10%), then the download's reports that move the bar forward.
    EXPECT_THAT(recorder.progress, ElementsAre(0.0, 0.1, 0.4, EngineLoader::maximumDownloadProgress));

    // The reports of a creation that was superseded are dropped.
    {
        std::lock_guard lock(mutex);
        released = false;
    }
    downloadSteps = {0.5};
    lateSteps = {0.8};
    recorder.progress.clear();
    select("base");
    loader.initialize({});
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return recorder.progress.size() == 3; }));
    loader.supersedeRunningInitialization();
    release();
    workers.waitForDone();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_THAT(recorder.progress, ElementsAre(0.0, 0.1, 0.5));
    EXPECT_THAT(recorder.ended, ElementsAre("loaded tiny"));
}

} // namespace
