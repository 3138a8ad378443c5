#include "app/recorder/RecorderFakes.hpp"
#include "app/recorder/RecorderService.hpp"
#include "app/recorder/Recording.hpp"
#include "app/recorder/RecordingCoding.hpp"

#include "support/TemporaryDirectory.hpp"

#include <QSet>
#include <QSignalSpy>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace parlino;

namespace {
Recording sampleRecording()
{
    Recording recording;
    recording.id = QUuid::fromString(QStringLiteral("8f14e45f-ceea-467f-a0e6-d1b2c3d4e5f6"));
    recording.audioURL = "/home/eva/Documents/Parlino/2025-01-31_1430_Porada tímu.m4a";
    recording.title = QStringLiteral("Porada tímu: \"Q3\"/Q4");
    recording.transcription = QStringLiteral("Line one\nline two\ttab \\ end");
    recording.duration = 12.5;
    recording.date = QDateTime(QDate(2025, 1, 31), QTime(14, 30, 0, 750), Qt::UTC);
    recording.category = RecordingCategory::meeting;
    return recording;
}
} // namespace

TEST(RecordingCoding, WritesTheSidecarFormAndReadsItBack)
{
    const Recording recording = sampleRecording();
    const QByteArray json = encodeRecording(recording);
    EXPECT_EQ(json.toStdString(),
        R"({"id":"8F14E45F-CEEA-467F-A0E6-D1B2C3D4E5F6",)"
        R"("audioURL":"file:\/\/\/home\/eva\/Documents\/Parlino\/2025-01-31_1430_Porada%20t%C3%ADmu.m4a",)"
        R"("title":"Porada tímu: \"Q3\"\/Q4","transcription":"Line one\nline two\ttab \\ end",)"
        R"("duration":12.5,"date":"2025-01-31T14:30:00Z","category":"Meeting"})");

    const Recording read = decodeRecording(json);
    EXPECT_EQ(read.id, recording.id);
    EXPECT_EQ(read.audioURL, recording.audioURL);
    EXPECT_EQ(read.title, recording.title);
    EXPECT_EQ(read.transcription, recording.transcription);
    EXPECT_DOUBLE_EQ(read.duration, 12.5);
    // The fraction of a second does not pass through a sidecar.
    EXPECT_EQ(read.date, QDateTime(QDate(2025, 1, 31), QTime(14, 30, 0), Qt::UTC));
    EXPECT_EQ(read.category, RecordingCategory::meeting);
    EXPECT_FALSE(read.cloudKitRecordID || read.syncedAt || read.deviceID);

    Recording withOptionals = recording;
    withOptionals.cloudKitRecordID = QStringLiteral("rec");
    withOptionals.syncedAt = recording.date;
    withOptionals.deviceID = QStringLiteral("dev");
    const QByteArray full = encodeRecording(withOptionals);
    EXPECT_TRUE(full.endsWith(R"("category":"Meeting","cloudKitRecordID":"rec","syncedAt":"2025-01-31T14:30:00Z","deviceID":"dev"})"));
    const Recording readFull = decodeRecording(full);
    EXPECT_EQ(readFull.deviceID, QStringLiteral("dev"));
    EXPECT_EQ(readFull.syncedAt, read.date);

    // Extra leading slashes would turn into a URL host; the file they name reads back instead.
    const std::vector<std::pair<std::string, std::string>> slashed {
        {"//", "/"}, {"///srv/a.m4a", "/srv/a.m4a"}, {"//srv/a.m4a", "/srv/a.m4a"}};
    for (const auto& [written, expected] : slashed) {
        Recording withSlashes = recording;
        withSlashes.audioURL = written;
        EXPECT_EQ(decodeRecording(encodeRecording(withSlashes)).audioURL, std::filesystem::path(expected)) << written;
    }
}

TEST(RecordingCoding, AcceptsWhatReadersMayMeetAndRejectsBrokenRecords)
{
    // Any key order, plain slashes, unknown keys, null optionals, a numeric offset, a whole-number
    // duration; no transcription and no category read as empty and Personal.
    const Recording lenient = decodeRecording(QByteArray(
        R"({"category":null,"date":"2025-01-31T15:30:00+01:00","duration":3,"extra":[1,2],)"
        R"("title":"T","audioURL":"file:///tmp/a.m4a","id":"8f14e45f-ceea-467f-a0e6-d1b2c3d4e5f6","deviceID":null})"));
    EXPECT_EQ(lenient.audioURL, std::filesystem::path("/tmp/a.m4a"));
    EXPECT_EQ(lenient.transcription, QString());
    EXPECT_EQ(lenient.category, RecordingCategory::personal);
    EXPECT_EQ(lenient.date, QDateTime(QDate(2025, 1, 31), QTime(14, 30, 0), Qt::UTC));
    EXPECT_DOUBLE_EQ(lenient.duration, 3.0);
    EXPECT_FALSE(lenient.deviceID);

    const std::string base = R"("id":"8F14E45F-CEEA-467F-A0E6-D1B2C3D4E5F6","audioURL":"file:///tmp/a.m4a","title":"T","duration":1)";
    const auto decodes = [&](const std::string& rest) {
        try {
            decodeRecording(QByteArray::fromStdString("{" + base + rest + "}"));
            return true;
        } catch (const RecordingDecodingError&) {
            return false;
        }
    };
    EXPECT_TRUE(decodes(R"(,"date":"2025-01-31T14:30:00Z","category":"Work")"));
    EXPECT_FALSE(decodes(R"(,"date":"2025-01-31T14:30:00Z","category":"work")"));
    EXPECT_FALSE(decodes(R"(,"date":"2025-01-31T14:30:00.750Z")"));
    EXPECT_FALSE(decodes(R"(,"date":"2025-02-30T14:30:00Z")"));
    EXPECT_FALSE(decodes(R"(,"date":1738333800)"));
    EXPECT_FALSE(decodes(""));
    EXPECT_FALSE(decodes(R"(,"date":"2025-01-31T14:30:00Z","title":5)"));
    for (const char* broken : {"", "[]", "{", R"({"id":"nope"})", R"({"duration":9e22222})", R"({"id":"8F14E45F-CEEA-467F-A0E6-D1B2C3D4E5F6","audioURL":"http://x/a.m4a","title":"T","duration":1,"date":"2025-01-31T14:30:00Z"})"}) {
        EXPECT_THROW(decodeRecording(QByteArray(broken)), RecordingDecodingError) << broken;
    }
}

TEST(RecordingRecords, IdentityCategoriesAndKeywordRule)
{
    Recording a = sampleRecording();
    Recording b = a;
    b.title = QStringLiteral("Other");
    EXPECT_EQ(a, b);
    EXPECT_EQ(QSet<Recording>({a, b}).size(), 1);

    ASSERT_EQ(RecordingCategory::allCases().size(), 7u);
    EXPECT_EQ(RecordingCategory::allCases()[0].rawValue(), QStringLiteral("All"));
    EXPECT_EQ(RecordingCategory(RecordingCategory::note).icon(), QStringLiteral("note.text"));
    for (const RecordingCategory category : RecordingCategory::allCases()) {
        EXPECT_EQ(RecordingCategory::fromRawValue(category.rawValue()), category);
    }
    EXPECT_FALSE(RecordingCategory::fromRawValue(QStringLiteral("work")));

    const auto suggest = [](const char* transcript, const char* title) {
        return RecordingCategory::Case(RecordingCategory::suggestedCategory(QString::fromUtf8(transcript), QString::fromUtf8(title)));
    };
    EXPECT_EQ(suggest("a call about the project", ""), RecordingCategory::meeting);
    EXPECT_EQ(suggest("", "Voice Memo"), RecordingCategory::personal);
    EXPECT_EQ(suggest("an ideal plan", ""), RecordingCategory::idea);
    EXPECT_EQ(suggest("homework", ""), RecordingCategory::work);
    EXPECT_EQ(suggest("THE TASK", ""), RecordingCategory::task);
    EXPECT_EQ(suggest("nothing here", "Remember milk"), RecordingCategory::note);
}

namespace {
// The smallest recorder: enough to see the shared state and settings of the service.
class StateOnlyRecorder : public testsupport::IdleRecorderService {
public:
    using IdleRecorderService::IdleRecorderService;
    using RecorderService::setIsRecording;
};
} // namespace

TEST(RecorderService, PublishesEveryWriteAndFollowsItsSettingsFromAnyWriter)
{
    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults(folder.path() / "parlino.conf");
    StateOnlyRecorder recorder(defaults);
    EXPECT_EQ(recorder.whisperModel(), QStringLiteral("small"));
    EXPECT_TRUE(recorder.audioPreprocessingEnabled() && recorder.noiseSuppression() && recorder.volumeNormalization()
        && recorder.resample16kHz());

    QSignalSpy recording(&recorder, &RecorderService::isRecordingChanged);
    recorder.setIsRecording(true);
    recorder.setIsRecording(true);
    EXPECT_EQ(recording.count(), 2);
    EXPECT_TRUE(recorder.property("isRecording").toBool());

    QSignalSpy model(&recorder, &RecorderService::whisperModelChanged);
    QSignalSpy preprocessing(&recorder, &RecorderService::preprocessingSettingsChanged);
    defaults.setString("whisperModel", "tiny");
    defaults.setBool("noiseSuppression", false);
    EXPECT_EQ(model.count(), 1);
    EXPECT_EQ(preprocessing.count(), 1);
    EXPECT_EQ(recorder.whisperModel(), QStringLiteral("tiny"));
    EXPECT_FALSE(recorder.noiseSuppression());
}
